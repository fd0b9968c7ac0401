// The record that carries one MIDI message through the monitor, and the
// wrapper around one system-exclusive buffer lent to the driver.
#pragma once

#include <cstdint>

#include "platform/mididriver.h"
#include "platform/pinned.h"

namespace korvane {

// One short message, or the bytes of one system-exclusive buffer. A message
// longer than one buffer arrives as several events, each with status 0xF0;
// only the first begins with the byte 0xF0. SysexData null means a short
// message: the output port chooses short or long by that alone.
class TMyMidiEvent {
 public:
  TMyMidiEvent() = default;
  ~TMyMidiEvent();
  TMyMidiEvent(const TMyMidiEvent&) = delete;
  TMyMidiEvent& operator=(const TMyMidiEvent&) = delete;

  std::uint8_t StatusByte = 0;
  std::uint8_t DataByte1 = 0;
  std::uint8_t DataByte2 = 0;
  std::uint32_t TimeStamp = 0;        // milliseconds since the input port started
  std::uint16_t SysexSize = 0;        // bytes in SysexData; 0 for a short message
  std::uint8_t* SysexData = nullptr;  // owned (new[]), or null
};

// A MIDIHDR and its data block, each in a pinned block. Its maker stores the
// wrapper's own address in Header->dwUser, so a header that the driver hands
// back leads to its wrapper.
class TMyMidiHdr {
 public:
  // Size 0 allocates nothing. Throws std::bad_alloc when a block can't be had.
  explicit TMyMidiHdr(std::uint16_t size);
  ~TMyMidiHdr();
  TMyMidiHdr(const TMyMidiHdr&) = delete;
  TMyMidiHdr& operator=(const TMyMidiHdr&) = delete;

  PinnedToken HeaderBlock = 0;
  MIDIHDR* Header = nullptr;
  PinnedToken BufferBlock = 0;
  std::uint8_t* Buffer = nullptr;
};

}  // namespace korvane
