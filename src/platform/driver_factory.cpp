// Temporary: a driver without devices until the real back-ends land.
#include "platform/mididriver.h"

namespace korvane {
namespace {
class NoDevicesDriver final : public MidiDriver {
 public:
  std::uint32_t midiInGetNumDevs() override { return 0; }
  MidiResult midiInGetDevCaps(std::uint32_t, MIDIINCAPS*, std::uint32_t) override {
    return kMidiErrBadDeviceId;
  }
  MidiResult midiInOpen(MidiHandle*, std::uint32_t, MidiCallback, std::uintptr_t,
                        std::uint32_t) override {
    return kMidiErrBadDeviceId;
  }
  MidiResult midiInPrepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override {
    return kMidiErrInvalidHandle;
  }
  MidiResult midiInAddBuffer(MidiHandle, MIDIHDR*, std::uint32_t) override {
    return kMidiErrInvalidHandle;
  }
  MidiResult midiInStart(MidiHandle) override { return kMidiErrInvalidHandle; }
  MidiResult midiInReset(MidiHandle) override { return kMidiErrInvalidHandle; }
  MidiResult midiInUnprepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override {
    return kMidiErrInvalidHandle;
  }
  MidiResult midiInClose(MidiHandle) override { return kMidiErrInvalidHandle; }
  std::uint32_t midiOutGetNumDevs() override { return 0; }
  MidiResult midiOutGetDevCaps(std::uint32_t, MIDIOUTCAPS*, std::uint32_t) override {
    return kMidiErrBadDeviceId;
  }
  MidiResult midiOutOpen(MidiHandle*, std::uint32_t, MidiCallback, std::uintptr_t,
                         std::uint32_t) override {
    return kMidiErrBadDeviceId;
  }
  MidiResult midiOutClose(MidiHandle) override { return kMidiErrInvalidHandle; }
  MidiResult midiOutShortMsg(MidiHandle, std::uint32_t) override { return kMidiErrInvalidHandle; }
  MidiResult midiOutPrepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override {
    return kMidiErrInvalidHandle;
  }
  MidiResult midiOutLongMsg(MidiHandle, MIDIHDR*, std::uint32_t) override {
    return kMidiErrInvalidHandle;
  }
  MidiResult midiOutUnprepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override {
    return kMidiErrInvalidHandle;
  }
};
}  // namespace

std::unique_ptr<MidiDriver> CreateMidiDriver() {
  return std::make_unique<NoDevicesDriver>();
}

}  // namespace korvane
