// Constants and small types shared by the MIDI units.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace korvane {

// Notifications that the driver callback posts to a port's window.
enum TPortNotice : std::uint32_t {
  pnEventStored = 963,  // an input event was stored in the ring
  pnOutputDone = 969,   // the output driver finished a long message; lParam: its MIDIHDR
  pnOverflow = 1024,    // the ring was full and an input event was dropped; lParam: the
                        // dropped buffer's MIDIHDR for a long message, else 0
};

enum class TPortState : std::uint8_t { stOpen = 0, stClosed = 1, stCreating = 2 };

// Size of a MIDIHDR as passed to every driver call that takes one.
inline constexpr std::uint32_t kHeaderSize = 64;

// A failed index or range check.
class ERangeError : public std::out_of_range {
 public:
  ERangeError() : std::out_of_range("Range check error") {}
};

}  // namespace korvane
