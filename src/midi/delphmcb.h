// The one driver callback that both ports register, and the record it is
// handed as its instance value.
#pragma once

#include <atomic>
#include <cstdint>

#include "midi/circbuf.h"
#include "platform/message_queue.h"
#include "platform/mididriver.h"
#include "platform/pinned.h"

namespace korvane {

// One per port, in a pinned block of its own, made by the port at its first
// Open. Ring and Window are written by the UI thread before the device is
// opened and only read by the driver thread while it is open.
struct TCallbackRecord {
  PinnedToken RecordBlock;
  TEventRing* Ring;  // input port: its ring; output port: null
  WindowHandle Window;
  // Input port: non-zero drops short messages. Written by the UI thread at
  // any time, read once per message by the callback: relaxed on both sides,
  // since it guards no other data.
  std::atomic<std::uint8_t> SysexOnly;
};

// Makes a zero-filled record in its own pinned block; null when no block can be had.
TCallbackRecord* CallbackRecordCreate() noexcept;
void CallbackRecordFree(TCallbackRecord* record) noexcept;

// Driver thread. Stores one slot; false when the ring is full.
bool RingPut(TEventRing* ring, const TRingSlot& slot) noexcept;

// Driver thread. Stores input in the record's ring and posts pnEventStored
// (pnOverflow when full) to the record's window; passes MOM_DONE on as
// pnOutputDone with the header address. Never allocates, locks or throws.
void MidiDriverCallback(MidiHandle device, std::uint32_t message, std::uintptr_t instance,
                        std::uintptr_t param1, std::uintptr_t param2) noexcept;

}  // namespace korvane
