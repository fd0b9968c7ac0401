#include "midi/circbuf.h"

#include <new>

namespace korvane {

TEventRing* RingCreate(std::uint16_t slots) {
  PinnedToken ringBlock = 0;
  void* control = PinnedAlloc(sizeof(TEventRing), ringBlock);
  if (control == nullptr) return nullptr;
  if (slots > kMaxRingSlots) {
    PinnedFree(ringBlock);
    throw ERangeError();
  }
  PinnedToken slotBlock = 0;
  auto* start = static_cast<TRingSlot*>(PinnedAllocLarge(slots * sizeof(TRingSlot), slotBlock));
  if (start == nullptr) {  // also for 0 slots
    PinnedFree(ringBlock);
    return nullptr;
  }
  auto* ring = new (control) TEventRing{};
  ring->RingBlock = ringBlock;
  ring->SlotBlock = slotBlock;
  ring->SlotStart = start;
  ring->SlotEnd = start + slots;
  ring->PutPos = start;
  ring->GetPos = start;
  ring->SlotCount = slots;
  ring->Waiting.store(0, std::memory_order_relaxed);
  return ring;
}

void RingFree(TEventRing* ring) noexcept {
  if (ring == nullptr) return;
  PinnedToken ringBlock = ring->RingBlock;
  PinnedFree(ring->SlotBlock);
  ring->~TEventRing();
  PinnedFree(ringBlock);
}

bool RingPeek(TEventRing* ring, TRingSlot& slot) noexcept {
  // Pairs with the release in RingPut: the slot counted is completely written.
  if (ring->Waiting.load(std::memory_order_acquire) == 0) return false;
  slot = *ring->GetPos;
  return true;
}

bool RingDrop(TEventRing* ring) noexcept {
  if (ring->Waiting.load(std::memory_order_acquire) == 0) return false;
  if (++ring->GetPos == ring->SlotEnd) ring->GetPos = ring->SlotStart;
  // Hands the slot back only now that it has been copied out; pairs with the
  // acquire in RingPut.
  ring->Waiting.fetch_sub(1, std::memory_order_release);
  return true;
}

}  // namespace korvane
