// Input fed from the driver's thread while the UI thread dispatches and
// takes it: every message is either taken, intact and in order, or counted
// as dropped, and no system-exclusive buffer is lost on the way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "midi/midiin.h"
#include "platform/scripted/scripted_driver.h"

namespace korvane {
namespace {

// Runs `feed` on a thread of its own, in small paced batches, while this (the
// UI) thread dispatches; returns once everything fed has been dispatched. The
// pacing lets the driver thread, which would otherwise wait for the feeder to
// let go of the driver, store input while the UI thread takes it.
template <class Feed>
void FeedWhileDispatching(ScriptedDriver& driver, std::uint32_t rounds, Feed feed) {
  std::atomic<bool> fed{false};
  std::thread feeder([&] {
    for (std::uint32_t i = 0; i < rounds; ++i) {
      feed(i);
      if (i % 8 == 7) std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    fed.store(true, std::memory_order_release);
  });
  bool finished;
  do {
    finished = fed.load(std::memory_order_acquire) && driver.Idle();
    MessageQueue::Instance().ProcessMessages();
    std::this_thread::yield();
  } while (!finished);
  feeder.join();
}

struct Tally {
  std::vector<std::uint32_t> shortStamps;
  std::vector<std::uint32_t> sysexStamps;
  int overflows = 0;
  int badEvents = 0;
};

void Attach(TMidiInput& port, Tally& tally) {
  port.OnMidiInput = [&tally](TMidiInput& sender) {
    while (sender.EventCount() > 0) {
      auto event = sender.TakeEvent();
      auto stamp = event->TimeStamp;
      if (event->SysexData == nullptr) {
        // The data bytes carry the low 14 bits of the time stamp.
        bool intact = event->StatusByte == 0x90 && event->DataByte1 == (stamp & 0x7F) &&
                      event->DataByte2 == ((stamp >> 7) & 0x7F);
        if (!intact) ++tally.badEvents;
        tally.shortStamps.push_back(stamp);
      } else {
        const std::uint8_t* d = event->SysexData;
        bool intact = event->SysexSize == 5 && d[0] == 0xF0 && d[1] == (stamp & 0x7F) &&
                      d[2] == ((stamp >> 7) & 0x7F) && d[3] == 0x55 && d[4] == 0xF7;
        if (!intact) ++tally.badEvents;
        tally.sysexStamps.push_back(stamp);
      }
    }
  };
  port.OnOverflow = [&tally](TMidiInput&) { ++tally.overflows; };
}

std::uint32_t NoteFor(std::uint32_t stamp) {
  return 0x90 | ((stamp & 0x7F) << 8) | (((stamp >> 7) & 0x7F) << 16);
}

bool Increasing(const std::vector<std::uint32_t>& stamps) {
  for (std::size_t i = 1; i < stamps.size(); ++i)
    if (stamps[i] <= stamps[i - 1]) return false;
  return true;
}

TEST(PortThreads, ShortMessagesAreTakenInOrderOrCountedAsOverflow) {
  constexpr std::uint32_t kMessages = 20000;
  ScriptedDriver driver{{"In"}, {}};
  TMidiInput port(driver);
  Tally tally;
  Attach(port, tally);
  port.SetCapacity(16);
  port.Open();
  port.Start();
  FeedWhileDispatching(driver, kMessages,
                       [&](std::uint32_t i) { driver.FeedShort(NoteFor(i), i); });

  EXPECT_EQ(tally.badEvents, 0);
  EXPECT_TRUE(Increasing(tally.shortStamps));
  EXPECT_GT(tally.shortStamps.size(), 0u);
  EXPECT_EQ(tally.shortStamps.size() + static_cast<std::size_t>(tally.overflows), kMessages);
  EXPECT_EQ(port.EventCount(), 0);
}

TEST(PortThreads, SysexBuffersAllComeBackThroughOverflowAndTaking) {
  constexpr std::uint32_t kRounds = 3000;
  constexpr std::uint16_t kBuffers = 4;
  ScriptedDriver driver{{"In"}, {}};
  TMidiInput port(driver);
  Tally tally;
  Attach(port, tally);
  port.SetCapacity(2);  // fewer slots than buffers: buffers are often dropped in the ring
  port.SetSysexBufferCount(kBuffers);
  port.SetSysexBufferSize(16);
  port.Open();
  port.Start();
  // Stamps 2i (short) and 2i+1 (system-exclusive) keep one order over both.
  FeedWhileDispatching(driver, kRounds, [&](std::uint32_t i) {
    std::uint32_t shortStamp = 2 * i, sysexStamp = 2 * i + 1;
    driver.FeedShort(NoteFor(shortStamp), shortStamp);
    driver.FeedSysex({0xF0, static_cast<std::uint8_t>(sysexStamp & 0x7F),
                      static_cast<std::uint8_t>((sysexStamp >> 7) & 0x7F), 0x55, 0xF7},
                     sysexStamp);
  });

  EXPECT_EQ(tally.badEvents, 0);
  EXPECT_TRUE(Increasing(tally.shortStamps));
  EXPECT_TRUE(Increasing(tally.sysexStamps));
  // A message found a buffer as a whole or none at all (the driver fills
  // buffers one message at a time), so dropped bytes come in fives.
  std::size_t droppedAtDriver = driver.DroppedSysexBytes();
  EXPECT_EQ(droppedAtDriver % 5, 0u);
  EXPECT_EQ(tally.shortStamps.size() + tally.sysexStamps.size() +
                static_cast<std::size_t>(tally.overflows) + droppedAtDriver / 5,
            2 * kRounds);
  EXPECT_GT(tally.sysexStamps.size(), 0u);
  // Every buffer is back at the driver: none was lost with an overflow.
  EXPECT_EQ(driver.QueuedBuffers(), kBuffers);
}

}  // namespace
}  // namespace korvane
