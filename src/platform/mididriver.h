// The MIDI driver interface: the device calls that the ports make, with
// their result codes, the buffer header, the capability records and the
// callback through which a driver reports input and finished output.
//
// Back-ends: rtmidi/ (ALSA sequencer or JACK), builtin/ (demo input and
// loopback), scripted/ (tests). Ports take a driver by reference; the process
// has a default one, chosen once at start-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvane {

using MidiResult = std::uint32_t;
using MidiHandle = std::uintptr_t;  // 0 is never an open device

// Result codes. Our own numbering; MidiResultText gives their texts.
enum : MidiResult {
  kMidiOk = 0,
  kMidiErrUnspecified = 1,
  kMidiErrBadDeviceId = 2,
  kMidiErrAllocated = 4,      // the device is held by another client
  kMidiErrInvalidHandle = 5,  // not open, or already closed
  kMidiErrNoDriver = 6,       // no MIDI system to talk to
  kMidiErrNoMemory = 7,
  kMidiErrNotSupported = 8,
  kMidiErrBadErrorNumber = 9,  // asked for the text of a code that has none
  kMidiErrInvalidFlag = 10,
  kMidiErrInvalidParam = 11,
  kMidiErrUnprepared = 64,    // header not prepared
  kMidiErrStillPlaying = 65,  // header still in the driver's hands
  kMidiErrNotReady = 67,
  kMidiErrDeviceGone = 68,  // the port vanished while open
};

// The text of a result code, or null for a code that has none.
const char* MidiResultText(MidiResult code) noexcept;

// Driver messages reported through the callback.
enum : std::uint32_t {
  MIM_OPEN = 961,
  MIM_CLOSE = 962,
  MIM_DATA = 963,
  MIM_LONGDATA = 964,
  MIM_ERROR = 965,
  MIM_LONGERROR = 966,
  MOM_OPEN = 967,
  MOM_CLOSE = 968,
  MOM_DONE = 969,
};

// Open flag: report through a callback function.
inline constexpr std::uint32_t CALLBACK_FUNCTION = 0x30000;
// Output device number of the mapper.
inline constexpr std::uint32_t MIDI_MAPPER = 0xFFFFFFFFu;

// Header flags kept by the driver.
inline constexpr std::uint32_t MHDR_DONE = 0x1;
inline constexpr std::uint32_t MHDR_PREPARED = 0x2;
inline constexpr std::uint32_t MHDR_INQUEUE = 0x4;

// One system-exclusive buffer as the driver sees it. 64 bytes, the size
// passed to every call that takes a header.
struct MIDIHDR {
  char* lpData;  // the buffer
  std::uint32_t dwBufferLength;
  std::uint32_t dwBytesRecorded;  // input: bytes the driver stored
  std::uintptr_t dwUser;          // the maker's own value: its buffer wrapper
  std::uint32_t dwFlags;
  std::uint32_t dwOffset;
  MIDIHDR* lpNext;               // driver's own
  std::uintptr_t reserved;       // driver's own
  std::uintptr_t dwReserved[2];  // driver's own
};
static_assert(sizeof(MIDIHDR) == 64);
inline constexpr std::uint32_t kMidiHdrSize = 64;

struct MIDIINCAPS {
  std::uint16_t wMid;
  std::uint16_t wPid;
  std::uint32_t vDriverVersion;
  char szPname[32];  // at most 31 characters, zero-terminated
  std::uint32_t dwSupport;
};
static_assert(sizeof(MIDIINCAPS) == 44);

struct MIDIOUTCAPS {
  std::uint16_t wMid;
  std::uint16_t wPid;
  std::uint32_t vDriverVersion;
  char szPname[32];  // at most 31 characters, zero-terminated
  std::uint16_t wTechnology;
  std::uint16_t wVoices;
  std::uint16_t wNotes;
  std::uint16_t wChannelMask;
  std::uint32_t dwSupport;
};
static_assert(sizeof(MIDIOUTCAPS) == 52);

// Called on the driver's thread: device handle, message, instance value given
// at open, first and second message parameter.
using MidiCallback = void (*)(MidiHandle device, std::uint32_t message, std::uintptr_t instance,
                              std::uintptr_t param1, std::uintptr_t param2);

// The driver. Every call returns at once with a result code; none throws.
// Input time stamps are milliseconds since midiInStart. Short messages are
// packed: status in bits 0-7, first data byte in 8-15, second in 16-23.
class MidiDriver {
 public:
  MidiDriver() = default;
  virtual ~MidiDriver() = default;
  MidiDriver(const MidiDriver&) = delete;
  MidiDriver& operator=(const MidiDriver&) = delete;
  MidiDriver(MidiDriver&&) = delete;
  MidiDriver& operator=(MidiDriver&&) = delete;

  // Input.
  virtual std::uint32_t midiInGetNumDevs() = 0;
  virtual MidiResult midiInGetDevCaps(std::uint32_t device, MIDIINCAPS* caps,
                                      std::uint32_t size) = 0;
  virtual MidiResult midiInGetErrorText(MidiResult code, char* text, std::uint32_t size);
  virtual MidiResult midiInOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                                std::uintptr_t instance, std::uint32_t flags) = 0;
  // Preparing an already prepared header succeeds and changes nothing.
  virtual MidiResult midiInPrepareHeader(MidiHandle handle, MIDIHDR* header,
                                         std::uint32_t size) = 0;
  // Queues a buffer; it comes back full (or at the end of a message) through
  // MIM_LONGDATA with dwBytesRecorded set.
  virtual MidiResult midiInAddBuffer(MidiHandle handle, MIDIHDR* header, std::uint32_t size) = 0;
  virtual MidiResult midiInStart(MidiHandle handle) = 0;
  // Stops input and hands every queued buffer back (dwBytesRecorded 0)
  // before it returns.
  virtual MidiResult midiInReset(MidiHandle handle) = 0;
  virtual MidiResult midiInUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                           std::uint32_t size) = 0;
  // No callback with input after this returns.
  virtual MidiResult midiInClose(MidiHandle handle) = 0;

  // Output. Device MIDI_MAPPER is the mapper.
  virtual std::uint32_t midiOutGetNumDevs() = 0;
  virtual MidiResult midiOutGetDevCaps(std::uint32_t device, MIDIOUTCAPS* caps,
                                       std::uint32_t size) = 0;
  virtual MidiResult midiOutGetErrorText(MidiResult code, char* text, std::uint32_t size);
  virtual MidiResult midiOutOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                                 std::uintptr_t instance, std::uint32_t flags) = 0;
  virtual MidiResult midiOutClose(MidiHandle handle) = 0;
  // Puts on the wire the bytes that the status implies.
  virtual MidiResult midiOutShortMsg(MidiHandle handle, std::uint32_t packed) = 0;
  virtual MidiResult midiOutPrepareHeader(MidiHandle handle, MIDIHDR* header,
                                          std::uint32_t size) = 0;
  // Sends the block; MOM_DONE with the header follows through the callback.
  virtual MidiResult midiOutLongMsg(MidiHandle handle, MIDIHDR* header, std::uint32_t size) = 0;
  virtual MidiResult midiOutUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                            std::uint32_t size) = 0;
};

// Number of data bytes that follow a status byte on the wire (0, 1 or 2);
// system-exclusive start counts 0 here.
int MidiDataByteCount(std::uint8_t status) noexcept;

// The process's driver: made on first use by CreateMidiDriver, unless a test
// or the program set one first. UI thread.
MidiDriver& DefaultMidiDriver();
void SetDefaultMidiDriver(std::unique_ptr<MidiDriver> driver);

// Chooses the back-end: KORVANE_MIDI_API ("alsa", "jack", "none") forces
// one; otherwise the ALSA sequencer where it exists, else a running JACK
// server, else none. The built-in devices are always listed after the real
// ones.
std::unique_ptr<MidiDriver> CreateMidiDriver();

}  // namespace korvane
