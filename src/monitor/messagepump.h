// Dispatches the ports' notification windows from Qt's event loop: a socket
// notifier on the message queue's wake-up descriptor runs the queue whenever
// something was posted. Every event loop serves it, modal dialogs included.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <chrono>
#include <cstddef>

#include "platform/message_queue.h"

namespace korvane {

class TMessagePump : public QObject {
  Q_OBJECT

 public:
  // At most this many notifications per turn of the event loop, so a driver
  // that posts faster than they can be handled never starves painting,
  // timers or input; the rest waits for the next turn.
  static constexpr std::size_t kBurst = 4096;
  // A turn also ends once it has run this long: input that comes faster than
  // the window can take it must not hold off painting and the user for good.
  static constexpr std::chrono::milliseconds kTurnBudget{25};

  explicit TMessagePump(MessageQueue& queue = MessageQueue::Instance(), QObject* parent = nullptr);

  // Runs what is waiting now (at most kBurst); returns how many were handled.
  std::size_t Pump();

 private:
  MessageQueue& queue_;
  QSocketNotifier notifier_;
};

// Lets the application handle the window messages that are waiting: Qt's
// pending events, then the notifications in the process's message queue.
void HandleWaitingMessages();

// True while a turn of the pump runs and has used up its time. A window
// procedure that takes many waiting events at once stops after the one in
// hand; the notifications still queued bring it back for the rest.
bool PumpTurnOverdue() noexcept;

}  // namespace korvane
