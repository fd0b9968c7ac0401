#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/message_queue.h"

namespace korvane {
namespace {

// Several threads post at once while the UI thread dispatches: every message
// arrives once, and each thread's messages arrive in the order it posted them.
TEST(MessageQueueThreads, PostingFromSeveralThreads) {
  constexpr int kThreads = 4;
  constexpr std::uint32_t kPerThread = 50000;
  MessageQueue queue;
  std::vector<std::uint32_t> next(kThreads, 0);
  bool inOrder = true;
  std::size_t received = 0;
  WindowHandle w = queue.Allocate([&](const WindowMessage& m) {
    auto thread = static_cast<std::size_t>(m.wParam);
    if (m.lParam != next[thread]) inOrder = false;
    next[thread] = static_cast<std::uint32_t>(m.lParam) + 1;
    ++received;
  });

  std::atomic<int> running{kThreads};
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&, t] {
      for (std::uint32_t i = 0; i < kPerThread;) {
        if (queue.Post(w, 1, static_cast<std::uintptr_t>(t), i))
          ++i;
        else
          std::this_thread::yield();  // full: the UI thread catches up
      }
      running.fetch_sub(1);
    });
  }
  while (running.load() > 0 || queue.Pending() > 0) queue.ProcessMessages();
  for (auto& p : posters) p.join();
  queue.ProcessMessages();

  EXPECT_TRUE(inOrder);
  EXPECT_EQ(received, static_cast<std::size_t>(kThreads) * kPerThread);
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[static_cast<std::size_t>(t)], kPerThread);
}

// The UI thread dispatches while a driver thread posts: once everything
// posted has been dispatched, the wake-up descriptor is quiet again, so an
// event loop that waits on it does not spin until the next post.
TEST(MessageQueueThreads, DescriptorIsQuietOnceEverythingIsDispatched) {
  constexpr int kRounds = 5000;
  MessageQueue queue;
  std::atomic<int> received{0};
  WindowHandle w = queue.Allocate([&](const WindowMessage&) { received.fetch_add(1); });
  int readableAfterwards = 0;
  for (int round = 1; round <= kRounds; ++round) {
    std::thread poster([&] { queue.Post(w, 1, 0, 0); });
    while (received.load() < round) {
      if (queue.ProcessMessages() == 0) std::this_thread::yield();
    }
    poster.join();
    queue.ProcessMessages();
    pollfd p{queue.WakeFd(), POLLIN, 0};
    if (poll(&p, 1, 0) == 1) ++readableAfterwards;
  }
  EXPECT_EQ(readableAfterwards, 0);
}

}  // namespace
}  // namespace korvane
