#include "platform/message_queue.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <stdexcept>
#include <vector>

namespace korvane {
namespace {

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1;
}

TEST(MessageQueue, DispatchesInPostingOrderAcrossWindows) {
  MessageQueue queue;
  std::vector<std::pair<int, std::uint32_t>> seen;
  WindowHandle a = queue.Allocate([&](const WindowMessage& m) { seen.emplace_back(1, m.message); });
  WindowHandle b = queue.Allocate([&](const WindowMessage& m) { seen.emplace_back(2, m.message); });
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_FALSE(Readable(queue.WakeFd()));
  EXPECT_TRUE(queue.Post(a, 10, 0, 0));
  EXPECT_TRUE(queue.Post(b, 11, 0, 0));
  EXPECT_TRUE(queue.Post(a, 12, 3, 4));
  EXPECT_TRUE(Readable(queue.WakeFd()));
  EXPECT_EQ(queue.ProcessMessages(), 3u);
  EXPECT_FALSE(Readable(queue.WakeFd()));
  const std::vector<std::pair<int, std::uint32_t>> expected{{1, 10}, {2, 11}, {1, 12}};
  EXPECT_EQ(seen, expected);
}

TEST(MessageQueue, ReleasedWindowGetsNothing) {
  MessageQueue queue;
  int calls = 0;
  WindowHandle w = queue.Allocate([&](const WindowMessage&) { ++calls; });
  ASSERT_TRUE(queue.Post(w, 1, 0, 0));
  queue.Release(w);
  EXPECT_FALSE(queue.Post(w, 2, 0, 0));  // no longer registered
  // A new window may reuse the slot; the old handle must not reach it.
  int newCalls = 0;
  WindowHandle again = queue.Allocate([&](const WindowMessage&) { ++newCalls; });
  EXPECT_NE(again, w);
  EXPECT_FALSE(queue.Post(w, 3, 0, 0));
  EXPECT_EQ(queue.ProcessMessages(), 0u);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(newCalls, 0);
  EXPECT_FALSE(queue.Post(0, 1, 0, 0));
  queue.Release(0);  // harmless
}

TEST(MessageQueue, FullQueueRefusesAndLimitKeepsTheRestWaiting) {
  MessageQueue queue;
  std::size_t calls = 0;
  WindowHandle w = queue.Allocate([&](const WindowMessage&) { ++calls; });
  for (std::size_t i = 0; i < MessageQueue::kCapacity; ++i) ASSERT_TRUE(queue.Post(w, 1, 0, 0));
  EXPECT_FALSE(queue.Post(w, 1, 0, 0));
  EXPECT_EQ(queue.ProcessMessages(10), 10u);
  EXPECT_TRUE(Readable(queue.WakeFd()));  // more wait
  EXPECT_TRUE(queue.Post(w, 1, 0, 0));
  EXPECT_EQ(queue.ProcessMessages(), MessageQueue::kCapacity - 10 + 1);
  EXPECT_EQ(calls, MessageQueue::kCapacity + 1);
}

TEST(MessageQueue, ProcedureMayReleaseItsWindowAndDispatchReentrantly) {
  MessageQueue queue;
  std::vector<std::uint32_t> seen;
  WindowHandle w = 0;
  w = queue.Allocate([&](const WindowMessage& m) {
    seen.push_back(m.message);
    if (m.message == 1) queue.ProcessMessages();  // a modal loop inside a handler
    if (m.message == 2) queue.Release(w);
  });
  queue.Post(w, 1, 0, 0);
  queue.Post(w, 2, 0, 0);
  queue.Post(w, 3, 0, 0);  // after the release: dropped
  queue.ProcessMessages();
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 2}));
}

TEST(MessageQueue, AProcedureThatRaisesLeavesTheRestWaitingAndTheDescriptorReadable) {
  MessageQueue queue;
  std::vector<std::uint32_t> seen;
  WindowHandle w = queue.Allocate([&](const WindowMessage& m) {
    seen.push_back(m.message);
    if (m.message == 1) throw std::runtime_error("handler failed");
  });
  queue.Post(w, 1, 0, 0);
  queue.Post(w, 2, 0, 0);
  EXPECT_THROW(queue.ProcessMessages(), std::runtime_error);
  // The event loop must come back for the second message without a new post.
  EXPECT_TRUE(Readable(queue.WakeFd()));
  EXPECT_EQ(queue.ProcessMessages(), 1u);
  EXPECT_EQ(seen, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_FALSE(Readable(queue.WakeFd()));
}

}  // namespace
}  // namespace korvane
