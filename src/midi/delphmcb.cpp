#include "midi/delphmcb.h"

#include <new>

namespace korvane {

TCallbackRecord* CallbackRecordCreate() noexcept {
  PinnedToken block = 0;
  void* memory = PinnedAlloc(sizeof(TCallbackRecord), block);
  if (memory == nullptr) return nullptr;
  auto* record = new (memory) TCallbackRecord{};
  record->RecordBlock = block;
  return record;
}

void CallbackRecordFree(TCallbackRecord* record) noexcept {
  if (record == nullptr) return;
  PinnedToken block = record->RecordBlock;
  record->~TCallbackRecord();
  PinnedFree(block);
}

bool RingPut(TEventRing* ring, const TRingSlot& slot) noexcept {
  // Pairs with the release in RingDrop: a slot handed back has been copied out.
  if (ring->Waiting.load(std::memory_order_acquire) >= ring->SlotCount) return false;
  *ring->PutPos = slot;
  if (++ring->PutPos == ring->SlotEnd) ring->PutPos = ring->SlotStart;
  // Publishes the slot written above; pairs with the acquire in RingPeek.
  ring->Waiting.fetch_add(1, std::memory_order_release);
  return true;
}

void MidiDriverCallback(MidiHandle, std::uint32_t message, std::uintptr_t instance,
                        std::uintptr_t param1, std::uintptr_t param2) noexcept {
  auto* record = reinterpret_cast<TCallbackRecord*>(instance);
  switch (message) {
    case MIM_DATA:
    case MIM_LONGDATA:
    case MIM_LONGERROR: {
      if (message == MIM_DATA && record != nullptr &&
          record->SysexOnly.load(std::memory_order_relaxed) != 0)
        return;
      if (record == nullptr || record->Ring == nullptr) return;
      TRingSlot slot;
      slot.TimeStamp = static_cast<std::uint32_t>(param2);
      if (message == MIM_DATA) {
        slot.ShortMessage = static_cast<std::uint32_t>(param1);
      } else {
        slot.LongHeader = reinterpret_cast<MIDIHDR*>(param1);
      }
      if (RingPut(record->Ring, slot)) {
        PostMessageA(record->Window, pnEventStored, 0, 0);
      } else {
        // The dropped buffer travels with the notice, so the port can give it
        // back to the driver instead of losing it until Close.
        PostMessageA(record->Window, pnOverflow, 0,
                     reinterpret_cast<std::uintptr_t>(slot.LongHeader));
      }
      return;
    }
    case MOM_DONE:
      if (record != nullptr) PostMessageA(record->Window, pnOutputDone, 0, param1);
      return;
    default:  // MIM_OPEN, MIM_CLOSE, MIM_ERROR, MOM_OPEN, MOM_CLOSE and others
      return;
  }
}

}  // namespace korvane
