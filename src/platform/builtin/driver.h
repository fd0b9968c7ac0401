// The built-in devices, there on every machine so that the monitor always
// has something live to show: the input "Korvane Demo", which plays
// realistic traffic from a thread of its own once started, and "Korvane
// Loopback", an output whose messages come back on the input of that name.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/builtin/device_io.h"
#include "platform/mididriver.h"

namespace korvane {

inline constexpr char kDemoInputName[] = "Korvane Demo";
inline constexpr char kLoopbackName[] = "Korvane Loopback";

// What the demo plays, so that tests and readers need not guess: MIDI Time
// Code quarter frames at 25 fps from 01:00:00:00, Active Sensing every
// 300 ms, notes, controllers, program changes and pitch bend on channels 1,
// 2 and 10, an Identity Reply every 4 s from 1 s on and a dump of
// kDemoDumpSize bytes every 5 s from 2 s on.
inline constexpr int kDemoDumpSize = 5000;

class BuiltinMidiDriver final : public MidiDriver {
 public:
  BuiltinMidiDriver();
  ~BuiltinMidiDriver() override;

  std::uint32_t midiInGetNumDevs() override;
  MidiResult midiInGetDevCaps(std::uint32_t device, MIDIINCAPS* caps, std::uint32_t size) override;
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
  MidiResult midiOutOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                         std::uintptr_t instance, std::uint32_t flags) override;
  MidiResult midiOutClose(MidiHandle handle) override;
  MidiResult midiOutShortMsg(MidiHandle handle, std::uint32_t packed) override;
  MidiResult midiOutPrepareHeader(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override;
  MidiResult midiOutLongMsg(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override;
  MidiResult midiOutUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                    std::uint32_t size) override;

 private:
  struct Input;
  struct Output;
  Input* FindInput(MidiHandle handle) const noexcept;
  Output* FindOutput(MidiHandle handle) const noexcept;
  void Loop(const std::uint8_t* bytes, std::size_t count) noexcept;

  std::map<MidiHandle, std::unique_ptr<Input>> inputs_;
  std::map<MidiHandle, std::unique_ptr<Output>> outputs_;
  // The open loopback inputs. The UI thread changes the list; whoever sends
  // on the loopback output reads it.
  std::mutex loopMutex_;
  std::vector<Input*> loopInputs_;
  CompletionThread completions_;
};

}  // namespace korvane
