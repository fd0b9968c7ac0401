#include "monitor/messagepump.h"

#include <QCoreApplication>

#include "monitor/errorreport.h"

namespace korvane {

TMessagePump::TMessagePump(MessageQueue& queue, QObject* parent)
    : QObject(parent), queue_(queue), notifier_(queue.WakeFd(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { Pump(); });
  followUp_.setSingleShot(true);
  followUp_.setInterval(1);
  connect(&followUp_, &QTimer::timeout, this, [this] { Pump(); });
  // Dispatches nothing; clears a wake-up that dispatching elsewhere (a test's
  // own loop) may have left pending, so the descriptor tells the truth again.
  RunGuarded([this] { queue_.ProcessMessages(0); });
}

std::size_t TMessagePump::Pump() {
  std::size_t handled = 0;
  // A window procedure that lets an error escape loses that one message;
  // the queue goes on with the next.
  RunGuarded([&] { handled = queue_.ProcessMessages(kBurst); });
  // Temporary, until the queue reads its descriptor before it clears its
  // pending flag: a message posted between the two writes to the descriptor
  // and has that write read away, and every later post then finds the flag
  // set and writes nothing, so the notifier never fires again. The message
  // that raced is dispatched in that same call, so a second look shortly
  // after every call that dispatched something puts the flag right.
  if (handled > 0) followUp_.start();
  return handled;
}

void HandleWaitingMessages() {
  QCoreApplication::processEvents();
  RunGuarded([] { MessageQueue::Instance().ProcessMessages(TMessagePump::kBurst); });
}

}  // namespace korvane
