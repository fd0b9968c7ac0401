// The ring in which the driver callback stores input for the UI thread.
//
// Contract: one producer (the driver thread, through RingPut in delphmcb)
// and one consumer (the UI thread: RingPeek, then RingDrop once the slot has
// been used). Only the producer moves PutPos, only the consumer moves GetPos;
// `Waiting` is the one field both change. A slot is completely written before
// Waiting counts it (release in RingPut, acquire in RingPeek), and it is
// copied out before Waiting stops counting it (release in RingDrop, acquire
// in RingPut). All slots can be full at once; PutPos == GetPos then, and
// Waiting tells full from empty.
#pragma once

#include <atomic>
#include <cstdint>

#include "midi/mididefs.h"
#include "platform/mididriver.h"
#include "platform/pinned.h"

namespace korvane {

// One stored input message.
struct TRingSlot {
  std::uint32_t TimeStamp = 0;
  std::uint32_t ShortMessage = 0;  // MIM_DATA: the packed message; long data: 0
  MIDIHDR* LongHeader = nullptr;   // long data: the returned buffer; short: null
};

// The most slots a ring may have (5,461 slots of 12 bytes once filled a
// 16-bit block; the limit stays, so a stored Capacity means the same).
inline constexpr std::uint16_t kMaxRingSlots = 5461;

struct TEventRing {
  PinnedToken RingBlock;
  PinnedToken SlotBlock;
  TRingSlot* SlotStart;
  TRingSlot* SlotEnd;
  TRingSlot* PutPos;  // producer only
  TRingSlot* GetPos;  // consumer only
  std::uint16_t SlotCount;
  std::atomic<std::uint16_t> Waiting;
};

// Null when a block can't be had (0 slots included); more than kMaxRingSlots
// raises ERangeError.
TEventRing* RingCreate(std::uint16_t slots);
void RingFree(TEventRing* ring) noexcept;
// Consumer side.
bool RingPeek(TEventRing* ring, TRingSlot& slot) noexcept;
bool RingDrop(TEventRing* ring) noexcept;

}  // namespace korvane
