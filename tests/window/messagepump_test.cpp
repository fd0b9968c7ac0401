// The pump that serves the ports' notification windows from Qt's event loop.
#include "monitor/messagepump.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <thread>

#include "platform/message_queue.h"

namespace korvane {
namespace {

// A driver thread posts in bursts with short pauses, as MIDI input arrives;
// the event loop alone (no timer dispatching by hand) must deliver every
// message, however the posts fall against the pump's own reading of the
// wake-up descriptor.
TEST(MessagePumpTest, EveryPostedMessageArrivesThroughTheEventLoop) {
  MessageQueue& queue = MessageQueue::Instance();
  TMessagePump pump(queue);
  std::size_t received = 0;
  const WindowHandle window = queue.Allocate([&](const WindowMessage&) { ++received; });
  ASSERT_NE(window, 0u);

  constexpr std::size_t kMessages = 200000;
  std::atomic<std::size_t> posted{0};
  std::atomic<bool> stop{false};
  std::thread driver([&] {
    for (std::size_t i = 0; i < kMessages && !stop.load();) {
      if (queue.Post(window, 963, i, 0)) {
        ++i;
        posted.store(i, std::memory_order_relaxed);
      }
      if (i % 64 == 0) std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });
  QElapsedTimer clock;
  clock.start();
  while (received < kMessages && clock.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  stop.store(true);  // a full queue would keep the driver trying for ever
  driver.join();
  // A quiet moment, then the last stragglers.
  for (int i = 0; i < 20 && received < kMessages; ++i)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_EQ(received, kMessages);
  queue.Release(window);
}

}  // namespace
}  // namespace korvane
