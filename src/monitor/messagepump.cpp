#include "monitor/messagepump.h"

#include <QCoreApplication>

#include "monitor/errorreport.h"

namespace korvane {

TMessagePump::TMessagePump(MessageQueue& queue, QObject* parent)
    : QObject(parent), queue_(queue), notifier_(queue.WakeFd(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { Pump(); });
  // Dispatches nothing; clears a wake-up that dispatching elsewhere (a test's
  // own loop) may have left pending, so the descriptor tells the truth again.
  RunGuarded([this] { queue_.ProcessMessages(0); });
}

std::size_t TMessagePump::Pump() {
  std::size_t handled = 0;
  // A window procedure that lets an error escape loses that one message;
  // the queue goes on with the next.
  RunGuarded([&] { handled = queue_.ProcessMessages(kBurst); });
  return handled;
}

void HandleWaitingMessages() {
  QCoreApplication::processEvents();
  RunGuarded([] { MessageQueue::Instance().ProcessMessages(TMessagePump::kBurst); });
}

}  // namespace korvane
