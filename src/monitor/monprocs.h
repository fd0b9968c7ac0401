// One received MIDI event as one fixed-column log line.
#pragma once

#include <cstdint>
#include <string>

#include "midi/miditype.h"

namespace korvane {

// The most system-exclusive bytes that one line shows.
inline constexpr std::uint16_t SysexTextLimit = 200;

// Message names by the status byte's high nibble (0x8 to 0xE at 0 to 6) and,
// for 0xF1 to 0xFF, by its low nibble.
extern const char* const ChannelMessageNames[7];
extern const char* const SystemMessageNames[16];

// Columns: time stamp (8 hex digits), status, data bytes, name. A system-
// exclusive event prints "Sysex (n): " and the first 200 bytes in hex.
std::string EventLineText(const TMyMidiEvent& event);

// "F0 7E ... " for the first min(count, SysexTextLimit) bytes.
std::string SysexHexText(const std::uint8_t* data, std::uint16_t count);

}  // namespace korvane
