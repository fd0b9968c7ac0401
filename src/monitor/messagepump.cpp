#include "monitor/messagepump.h"

#include <QCoreApplication>
#include <algorithm>
#include <chrono>

#include "monitor/errorreport.h"

namespace korvane {

namespace {

using Clock = std::chrono::steady_clock;

struct TTurn {
  bool running = false;
  Clock::time_point deadline;
};

TTurn& CurrentTurn() {
  static TTurn turn;
  return turn;
}

// Small pieces, so the time is looked at often enough.
constexpr std::size_t kPiece = 16;

// At most kBurst notifications, and no more once kTurnBudget has passed.
std::size_t DispatchTurn(MessageQueue& queue) {
  TTurn& turn = CurrentTurn();
  const TTurn outer = turn;  // a modal loop inside a turn has turns of its own
  turn = {true, Clock::now() + TMessagePump::kTurnBudget};
  std::size_t handled = 0;
  while (handled < TMessagePump::kBurst) {
    const std::size_t piece = std::min(kPiece, TMessagePump::kBurst - handled);
    std::size_t done = 0;
    // A window procedure that lets an error escape loses that one message;
    // the queue goes on with the next, at the next turn.
    RunGuarded([&] { done = queue.ProcessMessages(piece); });
    handled += done;
    // Left over: the queue keeps its descriptor readable for the next turn.
    if (done < piece || PumpTurnOverdue()) break;
  }
  CurrentTurn() = outer;
  return handled;
}

}  // namespace

bool PumpTurnOverdue() noexcept {
  const TTurn& turn = CurrentTurn();
  return turn.running && Clock::now() >= turn.deadline;
}

TMessagePump::TMessagePump(MessageQueue& queue, QObject* parent)
    : QObject(parent), queue_(queue), notifier_(queue.WakeFd(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { Pump(); });
  // Dispatches nothing; clears a wake-up that dispatching elsewhere (a test's
  // own loop) may have left pending, so the descriptor tells the truth again.
  RunGuarded([this] { queue_.ProcessMessages(0); });
}

std::size_t TMessagePump::Pump() {
  return DispatchTurn(queue_);
}

void HandleWaitingMessages() {
  QCoreApplication::processEvents();
  DispatchTurn(MessageQueue::Instance());
}

}  // namespace korvane
