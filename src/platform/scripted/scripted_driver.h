// A MIDI driver for tests: devices, failures and input are scripted by the
// test, every call is recorded, and the driver calls back from a thread of
// its own like a real one.
//
// Typical use:
//   ScriptedDriver driver({"In A", "In B"}, {"Out A"});
//   TMidiInput in(driver);
//   in.Open(); in.Start();
//   driver.FeedShort(0x403C90, 12);      // note on, time stamp 12
//   driver.SyncAndProcess();             // driver thread done, notices dispatched
//   driver.Fail("midiInStart", kMidiErrNotReady);  // the next midiInStart fails
//
// Input reaches a device only while it is open and started; the driver holds
// each device open for one client at a time (kMidiErrAllocated), except the
// output mapper. Devices removed at run time vanish from the lists and can't
// be opened; handles already open keep working.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/mididriver.h"

namespace korvane {

struct ScriptedDevice {
  std::string name;  // longer than 31 characters is cut in the capability record
  std::uint16_t manufacturerId = 1;
  std::uint16_t productId = 1;
  std::uint32_t driverVersion = 0x0100;
  // Output only.
  std::uint16_t technology = 1;
  std::uint16_t voices = 0;
  std::uint16_t notes = 0;
  std::uint16_t channelMask = 0xFFFF;
  std::uint32_t support = 0;
};

// One recorded driver call.
struct ScriptedCall {
  std::string function;  // "midiInOpen"
  std::string text;      // "midiInOpen(0)": see CallTexts
  MidiHandle handle = 0;
  MIDIHDR* header = nullptr;
  MidiResult result = kMidiOk;
};

// One message that reached an output device.
struct ScriptedSent {
  std::uint32_t device = 0;  // MIDI_MAPPER for the mapper
  bool isLong = false;
  std::uint32_t packed = 0;         // short message
  std::vector<std::uint8_t> bytes;  // long message
};

class ScriptedDriver : public MidiDriver {
 public:
  static constexpr int kAlways = -1;

  ScriptedDriver();
  ScriptedDriver(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs);
  ~ScriptedDriver() override;

  // Devices. Any thread; indexes shift when a device is removed.
  void AddInput(ScriptedDevice device);
  void AddOutput(ScriptedDevice device);
  void RemoveInput(std::uint32_t index);
  void RemoveOutput(std::uint32_t index);
  void SetMapper(ScriptedDevice mapper);  // initially "Scripted MIDI Mapper"
  void SetMapperPresent(bool present);    // absent: its capability query fails

  // Makes the next `times` calls of `function` (e.g. "midiInAddBuffer") fail
  // with `code`, after letting `skip` calls through; kAlways fails every one.
  // A failing call records itself and changes nothing. Throws
  // std::invalid_argument for a name that isn't a driver function.
  void Fail(std::string_view function, MidiResult code, int times = 1, int skip = 0);
  void ClearFailures();

  // The call log, oldest first. Texts: the function name and in brackets the
  // device number (signed for output: "-1" is the mapper), the code asked for
  // by the error-text calls, the packed short message ("0x00643C90") or the
  // byte count of a long one; empty brackets otherwise: "midiInStart()".
  std::vector<ScriptedCall> Calls() const;
  std::vector<std::string> CallTexts() const;
  // The same without the queries (GetNumDevs, GetDevCaps, GetErrorText).
  std::vector<std::string> DeviceCallTexts() const;
  void ClearCalls();

  // Input, handed to the driver thread in order. Dropped unless input device
  // `device` is open and started at the time the driver thread gets to it.
  void FeedShort(std::uint32_t packed, std::uint32_t timeStamp = 0, std::uint32_t device = 0);
  // Any other driver message with these parameters (MIM_ERROR, ...).
  void FeedRaw(std::uint32_t message, std::uintptr_t param1, std::uintptr_t param2,
               std::uint32_t device = 0);
  // System-exclusive bytes fill the queued buffers in order; each buffer
  // returns through MIM_LONGDATA when full, and the last one at the end of
  // the bytes when `endOfMessage`. Bytes that find no queued buffer are
  // dropped, as a hardware driver does.
  void FeedSysex(std::vector<std::uint8_t> bytes, std::uint32_t timeStamp = 0,
                 std::uint32_t device = 0, bool endOfMessage = true);

  // Waits until the driver thread has done everything handed to it so far.
  void Sync();
  // Sync, then dispatch the posted notifications on this (the UI) thread.
  void SyncAndProcess();
  // Nothing is waiting for the driver thread.
  bool Idle() const;

  // What the devices hold and saw.
  std::size_t QueuedBuffers(std::uint32_t inputDevice = 0) const;
  bool InputOpen(std::uint32_t device = 0) const;
  bool InputStarted(std::uint32_t device = 0) const;
  bool OutputOpen(std::uint32_t device = 0) const;
  std::size_t DroppedShort() const;       // short messages that found no started device
  std::size_t DroppedSysexBytes() const;  // bytes that found no queued buffer
  std::vector<ScriptedSent> Sent() const;
  std::vector<std::uint32_t> SentShort() const;
  std::vector<std::vector<std::uint8_t>> SentLong() const;
  void ClearSent();

  // MidiDriver.
  std::uint32_t midiInGetNumDevs() override;
  MidiResult midiInGetDevCaps(std::uint32_t device, MIDIINCAPS* caps, std::uint32_t size) override;
  MidiResult midiInGetErrorText(MidiResult code, char* text, std::uint32_t size) override;
  MidiResult midiInOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                        std::uintptr_t instance, std::uint32_t flags) override;
  MidiResult midiInPrepareHeader(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override;
  MidiResult midiInAddBuffer(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override;
  MidiResult midiInStart(MidiHandle handle) override;
  MidiResult midiInReset(MidiHandle handle) override;
  MidiResult midiInUnprepareHeader(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override;
  MidiResult midiInClose(MidiHandle handle) override;
  std::uint32_t midiOutGetNumDevs() override;
  MidiResult midiOutGetDevCaps(std::uint32_t device, MIDIOUTCAPS* caps,
                               std::uint32_t size) override;
  MidiResult midiOutGetErrorText(MidiResult code, char* text, std::uint32_t size) override;
  MidiResult midiOutOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                         std::uintptr_t instance, std::uint32_t flags) override;
  MidiResult midiOutClose(MidiHandle handle) override;
  MidiResult midiOutShortMsg(MidiHandle handle, std::uint32_t packed) override;
  MidiResult midiOutPrepareHeader(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override;
  MidiResult midiOutLongMsg(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override;
  MidiResult midiOutUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                    std::uint32_t size) override;

 private:
  struct Failure {
    MidiResult code;
    int times;  // kAlways, or how many calls still fail
    int skip;   // calls still let through first
  };
  struct OpenPort {
    bool input = true;
    MidiHandle handle = 0;
    std::uint32_t device = 0;
    MidiCallback callback = nullptr;
    std::uintptr_t instance = 0;
    bool started = false;
    std::deque<MIDIHDR*> queue;  // input buffers; the front one fills first
  };
  using Lock = std::unique_lock<std::mutex>;

  // Records a call; returns the scripted failure for it, or 0.
  MidiResult Begin(const Lock& lock, const char* function, std::string args, MidiHandle handle,
                   MIDIHDR* header);
  MidiResult End(const Lock& lock, MidiResult result);
  OpenPort* Find(const Lock& lock, MidiHandle handle, bool input);
  OpenPort* FindByDevice(const Lock& lock, std::uint32_t device, bool input);
  // Hands work to the driver thread; the task runs there with the lock held.
  std::uint64_t Post(const Lock& lock, std::function<void()> task);
  void WaitFor(Lock& lock, std::uint64_t ticket);
  void ReturnBuffer(OpenPort& port, std::uint32_t timeStamp);
  MidiResult Open(Lock& lock, bool input, MidiHandle* handle, std::uint32_t device,
                  MidiCallback callback, std::uintptr_t instance, std::uint32_t flags);
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // the driver thread: work or stop
  std::condition_variable done_;  // waiters: a task finished
  std::deque<std::function<void()>> tasks_;
  std::uint64_t posted_ = 0;
  std::uint64_t completed_ = 0;
  bool stop_ = false;

  std::vector<ScriptedDevice> inputs_;
  std::vector<ScriptedDevice> outputs_;
  ScriptedDevice mapper_;
  bool mapperPresent_ = true;
  std::map<std::string, std::deque<Failure>, std::less<>> failures_;
  std::vector<ScriptedCall> calls_;
  std::map<MidiHandle, OpenPort> ports_;
  MidiHandle nextHandle_ = 0x100;
  std::size_t droppedShort_ = 0;
  std::size_t droppedSysexBytes_ = 0;
  std::vector<ScriptedSent> sent_;

  std::thread thread_;  // last: starts once everything above is made
};

}  // namespace korvane
