// Real MIDI through RtMidi: the ALSA sequencer or a JACK server that is
// already running. Devices are the ports RtMidi lists, with their names,
// followed by Korvane's own virtual ports: the input "Korvane In", into
// which other programs send, and the output "Korvane Thru", to which they
// listen. RtMidi's headers are included only inside this folder.
#pragma once

#include <memory>

#include "platform/mididriver.h"

namespace korvane {

enum class RtMidiSystem { kAlsa, kJack };

inline constexpr char kVirtualInputName[] = "Korvane In";
inline constexpr char kVirtualOutputName[] = "Korvane Thru";

// True when this machine has an ALSA sequencer we may open.
bool AlsaSequencerPresent() noexcept;
// True when a JACK server is running. Never starts one.
bool JackServerRunning() noexcept;

// The back-end for one MIDI system, or null when that system is not there.
std::unique_ptr<MidiDriver> CreateRtMidiDriver(RtMidiSystem system);

}  // namespace korvane
