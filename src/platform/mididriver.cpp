#include "platform/mididriver.h"

#include <cstring>

namespace korvane {

const char* MidiResultText(MidiResult code) noexcept {
  switch (code) {
    case kMidiOk:
      return "The operation completed successfully.";
    case kMidiErrUnspecified:
      return "An unspecified error occurred in the MIDI system.";
    case kMidiErrBadDeviceId:
      return "The MIDI device number is out of range.";
    case kMidiErrAllocated:
      return "The MIDI device is already in use by another program.";
    case kMidiErrInvalidHandle:
      return "The MIDI device handle is not valid: the device is not open.";
    case kMidiErrNoDriver:
      return "No MIDI system is available (no ALSA sequencer and no running JACK server).";
    case kMidiErrNoMemory:
      return "Not enough memory for the MIDI operation.";
    case kMidiErrNotSupported:
      return "The MIDI system does not support this operation.";
    case kMidiErrBadErrorNumber:
      return "There is no text for this MIDI error number.";
    case kMidiErrInvalidFlag:
      return "An invalid flag was passed to the MIDI system.";
    case kMidiErrInvalidParam:
      return "An invalid parameter was passed to the MIDI system.";
    case kMidiErrUnprepared:
      return "The system-exclusive buffer has not been prepared.";
    case kMidiErrStillPlaying:
      return "The system-exclusive buffer is still in use by the MIDI system.";
    case kMidiErrNotReady:
      return "The MIDI device is not ready.";
    case kMidiErrDeviceGone:
      return "The MIDI port has gone away.";
    default:
      return nullptr;
  }
}

namespace {
MidiResult CopyErrorText(MidiResult code, char* text, std::uint32_t size) {
  const char* message = MidiResultText(code);
  if (message == nullptr) return kMidiErrBadErrorNumber;
  if (text == nullptr || size == 0) return kMidiErrInvalidParam;
  std::size_t n = std::strlen(message);
  if (n >= size) n = size - 1;
  std::memcpy(text, message, n);
  text[n] = '\0';
  return kMidiOk;
}
}  // namespace

MidiResult MidiDriver::midiInGetErrorText(MidiResult code, char* text, std::uint32_t size) {
  return CopyErrorText(code, text, size);
}

MidiResult MidiDriver::midiOutGetErrorText(MidiResult code, char* text, std::uint32_t size) {
  return CopyErrorText(code, text, size);
}

int MidiDataByteCount(std::uint8_t status) noexcept {
  if (status < 0xF0) {
    std::uint8_t kind = status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
  }
  switch (status) {
    case 0xF1:
    case 0xF3:
      return 1;
    case 0xF2:
      return 2;
    default:
      return 0;
  }
}

namespace {
std::unique_ptr<MidiDriver>& DefaultSlot() {
  static std::unique_ptr<MidiDriver> driver;
  return driver;
}
}  // namespace

MidiDriver& DefaultMidiDriver() {
  auto& slot = DefaultSlot();
  if (!slot) slot = CreateMidiDriver();
  return *slot;
}

void SetDefaultMidiDriver(std::unique_ptr<MidiDriver> driver) {
  DefaultSlot() = std::move(driver);
}

}  // namespace korvane
