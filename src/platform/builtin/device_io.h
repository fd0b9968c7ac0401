// What every back-end's devices share: the header bookkeeping, an input
// stream that turns MIDI bytes into the driver's callbacks and fills the
// queued system-exclusive buffers, and a thread that reports finished long
// messages. The built-in devices use them, and so does the RtMidi back-end.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/mididriver.h"

namespace korvane {

// Checks a header that a caller passes with its size.
MidiResult CheckHeader(const MIDIHDR* header, std::uint32_t size) noexcept;

// One open input device's stream of bytes.
//
// Bytes come in from the device's own thread (RtMidi's, the demo player's)
// or from the UI thread (the loopback); every call takes one mutex, which
// the UI thread holds only for the few steps of queueing a buffer or
// starting and resetting, so the device thread never waits long. The
// callback is called with that mutex held, one call at a time, which keeps
// the port's ring at one producer whichever thread feeds.
class InputStream {
 public:
  InputStream() = default;
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // UI thread, before any byte is fed.
  void Bind(MidiHandle handle, MidiCallback callback, std::uintptr_t instance) noexcept;

  // UI thread.
  MidiResult PrepareHeader(MIDIHDR* header, std::uint32_t size) noexcept;
  MidiResult UnprepareHeader(MIDIHDR* header, std::uint32_t size) noexcept;
  MidiResult AddBuffer(MIDIHDR* header, std::uint32_t size) noexcept;
  // Time stamps count from here; bytes fed before are dropped.
  MidiResult Start() noexcept;
  // Stops input and hands every queued buffer back through the callback
  // before it returns: empty, or with what a message cut short left in it.
  MidiResult Reset() noexcept;
  // kMidiErrStillPlaying while buffers are queued; afterwards no callback.
  MidiResult Close() noexcept;
  bool Started() const noexcept;

  // Device thread (or the loopback's caller). Parses complete or partial
  // messages with running status; real-time bytes become short messages of
  // their own, also in the middle of a system-exclusive message.
  void Feed(const std::uint8_t* bytes, std::size_t count) noexcept;

 private:
  void EmitShort(std::uint32_t packed, std::uint32_t stamp) noexcept;
  void StoreSysex(std::uint8_t byte, std::uint32_t stamp) noexcept;
  void EndSysex(std::uint32_t stamp) noexcept;
  void ReturnFirstBuffer(std::uint32_t stamp) noexcept;

  mutable std::mutex mutex_;
  MidiHandle handle_ = 0;
  MidiCallback callback_ = nullptr;
  std::uintptr_t instance_ = 0;
  bool started_ = false;
  bool closed_ = false;
  std::chrono::steady_clock::time_point start_{};
  // Queued buffers, chained through lpNext; the first one is being filled.
  MIDIHDR* first_ = nullptr;
  MIDIHDR* last_ = nullptr;
  // Parser.
  bool inSysex_ = false;
  std::uint8_t status_ = 0;   // status of the message being collected, 0 when none
  std::uint8_t running_ = 0;  // channel status for running status, 0 when none
  int need_ = 0;
  int have_ = 0;
  std::uint8_t data_[2] = {0, 0};
};

// Reports MOM_DONE for finished long messages from a thread of its own, so
// the callback never runs inside midiOutLongMsg on the caller's thread.
class CompletionThread {
 public:
  CompletionThread() = default;
  ~CompletionThread();
  CompletionThread(const CompletionThread&) = delete;
  CompletionThread& operator=(const CompletionThread&) = delete;

  // UI thread. The header's flags change under this object's lock, so an
  // unprepare that races with the report sees one state or the other.
  MidiResult PrepareHeader(MIDIHDR* header, std::uint32_t size) noexcept;
  MidiResult UnprepareHeader(MIDIHDR* header, std::uint32_t size) noexcept;
  // Marks the header queued; kMidiErrUnprepared or kMidiErrStillPlaying when
  // it cannot be sent.
  MidiResult Accept(MIDIHDR* header, std::uint32_t size) noexcept;
  // After the bytes went out: MOM_DONE follows from the completion thread.
  // False when no thread could be started (the header is then done at once
  // and the caller reports the failure).
  bool Report(MidiHandle handle, MidiCallback callback, std::uintptr_t instance,
              MIDIHDR* header) noexcept;
  // Marks an accepted header done without a report (sending failed).
  void Withdraw(MIDIHDR* header) noexcept;
  // Waits until every report for this device has been made.
  void Flush(MidiHandle handle) noexcept;

 private:
  struct Done {
    MidiHandle handle;
    MidiCallback callback;
    std::uintptr_t instance;
    MIDIHDR* header;
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Done> pending_;
  MidiHandle reporting_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace korvane
