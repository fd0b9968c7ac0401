#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "midi/circbuf.h"
#include "midi/delphmcb.h"
#include "platform/message_queue.h"

namespace korvane {
namespace {

// The driver thread calls the callback with numbered short messages while the
// consumer, on its own thread, peeks and drops. Every stored message must
// arrive once and in order, and every message that was not stored must be
// matched by exactly one overflow notice.
TEST(RingThreads, EveryMessageStoredOnceOrReportedAsOverflow) {
  constexpr std::uint32_t kMessages = 1'000'000;
  TEventRing* ring = RingCreate(64);
  ASSERT_NE(ring, nullptr);
  TCallbackRecord* record = CallbackRecordCreate();
  ASSERT_NE(record, nullptr);
  record->Ring = ring;

  std::atomic<bool> producerDone{false};
  std::uint32_t stored = 0, overflowed = 0, taken = 0;
  std::uint32_t lastTaken = 0;
  bool inOrder = true;

  // The window is registered before either thread starts; the consumer
  // thread plays the UI thread from then on.
  MessageQueue& queue = MessageQueue::Instance();
  WindowHandle window = queue.Allocate([&](const WindowMessage& m) {
    if (m.message == pnEventStored) ++stored;
    if (m.message == pnOverflow) ++overflowed;
  });
  record->Window = window;

  std::thread consumer([&] {
    auto drain = [&] {
      TRingSlot slot;
      while (RingPeek(ring, slot)) {
        std::uint32_t number = slot.ShortMessage & 0xFFFFFF;
        if (taken > 0 && number <= lastTaken) inOrder = false;
        lastTaken = number;
        ++taken;
        RingDrop(ring);
      }
      queue.ProcessMessages();
    };
    // Pairs with the release store at the producer's end: all its posts and
    // puts are visible to the final drains.
    while (!producerDone.load(std::memory_order_acquire)) drain();
    drain();
  });

  std::thread producer([&] {
    for (std::uint32_t n = 1; n <= kMessages; ++n) {
      // Keep the notice queue from filling: a lost notice would make the
      // overflow count wrong for reasons the ring has nothing to do with.
      while (queue.Pending() > MessageQueue::kCapacity / 2) std::this_thread::yield();
      // Most messages wait for room, so the consumer sees a long ordered
      // stream; every eighth goes in regardless and may overflow.
      if (n % 8 != 0) {
        while (ring->Waiting.load(std::memory_order_relaxed) == ring->SlotCount)
          std::this_thread::yield();
      }
      MidiDriverCallback(1, MIM_DATA, reinterpret_cast<std::uintptr_t>(record), n, n);
    }
    producerDone.store(true, std::memory_order_release);
  });
  producer.join();
  consumer.join();

  RecordProperty("stored", static_cast<int>(stored));
  RecordProperty("overflowed", static_cast<int>(overflowed));
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(taken, stored);
  EXPECT_EQ(stored + overflowed, kMessages);
  EXPECT_EQ(ring->Waiting.load(), 0);
  queue.Release(window);
  CallbackRecordFree(record);
  RingFree(ring);
}

}  // namespace
}  // namespace korvane
