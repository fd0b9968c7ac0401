#include "platform/message_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <stdexcept>

namespace korvane {

// A bounded multi-producer queue of fixed cells (after D. Vyukov's design):
// each cell's sequence number tells producers and the consumer whose turn it
// is, so posting needs no lock and no allocation.
struct MessageQueue::Cell {
  std::atomic<std::size_t> sequence{0};
  WindowMessage message;
};

// A window slot is alive while its stamp is odd; the handle carries the stamp
// it was given, so a released (or reused) slot no longer matches old handles.
struct MessageQueue::WindowSlot {
  std::atomic<std::uint32_t> stamp{0};
  // UI thread only.
  WindowProcedure procedure;
  int dispatching = 0;
  bool releaseLater = false;
};

namespace {
constexpr std::size_t kIndexBits = 32;
std::size_t IndexOf(WindowHandle h) {
  return static_cast<std::size_t>(h & 0xFFFFFFFFu) - 1;
}
std::uint32_t StampOf(WindowHandle h) {
  return static_cast<std::uint32_t>(h >> kIndexBits);
}
}  // namespace

MessageQueue::MessageQueue()
    : cells_(std::make_unique<Cell[]>(kCapacity)),
      windows_(std::make_unique<WindowSlot[]>(kMaxWindows)) {
  for (std::size_t i = 0; i < kCapacity; ++i)
    cells_[i].sequence.store(i, std::memory_order_relaxed);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0)
    throw std::runtime_error("Unable to create the message queue's wake-up descriptor");
}

MessageQueue::~MessageQueue() {
  if (wakeFd_ >= 0) close(wakeFd_);
}

MessageQueue& MessageQueue::Instance() {
  static MessageQueue queue;
  return queue;
}

WindowHandle MessageQueue::Allocate(WindowProcedure procedure) {
  for (std::size_t i = 0; i < kMaxWindows; ++i) {
    WindowSlot& slot = windows_[i];
    std::uint32_t stamp = slot.stamp.load(std::memory_order_relaxed);
    if ((stamp & 1u) != 0 || slot.dispatching != 0) continue;
    slot.procedure = std::move(procedure);
    slot.releaseLater = false;
    ++stamp;
    // Publishes the procedure before any poster can match the new stamp;
    // pairs with the acquire in IsAlive.
    slot.stamp.store(stamp, std::memory_order_release);
    return (static_cast<WindowHandle>(stamp) << kIndexBits) | (i + 1);
  }
  return 0;
}

void MessageQueue::Release(WindowHandle window) {
  if (!IsAlive(window)) return;
  WindowSlot& slot = windows_[IndexOf(window)];
  slot.stamp.fetch_add(1, std::memory_order_release);
  // A procedure that releases its own window must not be destroyed while it runs.
  if (slot.dispatching != 0)
    slot.releaseLater = true;
  else
    slot.procedure = nullptr;
}

bool MessageQueue::IsAlive(WindowHandle window) const noexcept {
  if (window == 0) return false;
  std::size_t index = IndexOf(window);
  if (index >= kMaxWindows) return false;
  std::uint32_t stamp = StampOf(window);
  // Pairs with the release stores in Allocate and Release.
  return (stamp & 1u) != 0 && windows_[index].stamp.load(std::memory_order_acquire) == stamp;
}

bool MessageQueue::Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                        std::uintptr_t lParam) noexcept {
  if (!IsAlive(window)) return false;
  std::size_t pos = enqueuePos_.load(std::memory_order_relaxed);
  Cell* cell;
  for (;;) {
    cell = &cells_[pos & (kCapacity - 1)];
    // Pairs with the release store of the consumer in Pop that freed the cell.
    std::size_t seq = cell->sequence.load(std::memory_order_acquire);
    auto diff = static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos);
    if (diff == 0) {
      if (enqueuePos_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
    } else if (diff < 0) {
      return false;  // full
    } else {
      pos = enqueuePos_.load(std::memory_order_relaxed);
    }
  }
  cell->message = WindowMessage{window, message, wParam, lParam};
  // Publishes the message written above; pairs with the acquire in Pop.
  cell->sequence.store(pos + 1, std::memory_order_release);
  Wake();
  return true;
}

void MessageQueue::Wake() noexcept {
  // Only the first post after a dispatch writes to the descriptor. The
  // exchange is a release that the dispatcher's acquiring exchange in
  // ProcessMessages pairs with, so what was queued before it is seen there.
  if (!wakePending_.exchange(true, std::memory_order_acq_rel)) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  }
}

bool MessageQueue::Pop(WindowMessage& out) noexcept {
  std::size_t pos = dequeuePos_.load(std::memory_order_relaxed);
  for (;;) {
    Cell* cell = &cells_[pos & (kCapacity - 1)];
    // Pairs with the release store in Post.
    std::size_t seq = cell->sequence.load(std::memory_order_acquire);
    auto diff = static_cast<std::intptr_t>(seq) - static_cast<std::intptr_t>(pos + 1);
    if (diff == 0) {
      if (dequeuePos_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
        out = cell->message;
        // Hands the cell back to the producers; pairs with the acquire in Post.
        cell->sequence.store(pos + kCapacity, std::memory_order_release);
        return true;
      }
    } else if (diff < 0) {
      return false;  // empty
    } else {
      pos = dequeuePos_.load(std::memory_order_relaxed);
    }
  }
}

std::size_t MessageQueue::ProcessMessages(std::size_t limit) {
  // Empty the descriptor before lowering the flag: a post that comes between
  // the two still finds the flag up and writes nothing, and its message is
  // seen below. The other order would read away the write of a post that
  // came in between and leave the flag up with the descriptor quiet, so no
  // later post would ever wake the loop again. Pairs with the exchange in Wake.
  // The descriptor is read even when the flag is down: a post may raise the
  // flag, see it lowered here, and write only after that; its message is
  // dispatched below, but its write would keep the descriptor readable with
  // nothing queued, and the event loop would spin until the next post.
  std::uint64_t count;
  [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
  if (wakePending_.load(std::memory_order_relaxed))
    wakePending_.exchange(false, std::memory_order_acq_rel);
  std::size_t dispatched = 0;
  WindowMessage message;
  while (dispatched < limit && Pop(message)) {
    if (!IsAlive(message.window)) continue;
    WindowSlot& slot = windows_[IndexOf(message.window)];
    // Keeps the procedure alive while it runs, even if it releases its window.
    struct DispatchGuard {
      WindowSlot& slot;
      explicit DispatchGuard(WindowSlot& s) : slot(s) { ++slot.dispatching; }
      ~DispatchGuard() {
        if (--slot.dispatching == 0 && slot.releaseLater) {
          slot.procedure = nullptr;
          slot.releaseLater = false;
        }
      }
    } guard(slot);
    try {
      slot.procedure(message);
    } catch (...) {
      // The descriptor was emptied on the way in: keep it readable for the
      // messages behind this one, or they would wait for a post that may
      // never come.
      if (Pending() > 0) Wake();
      throw;
    }
    ++dispatched;
  }
  // Stopped at the limit with messages left: keep the descriptor readable.
  if (dispatched == limit && Pending() > 0) Wake();
  return dispatched;
}

std::size_t MessageQueue::Pending() const noexcept {
  std::size_t in = enqueuePos_.load(std::memory_order_relaxed);
  std::size_t out = dequeuePos_.load(std::memory_order_relaxed);
  return in > out ? in - out : 0;
}

WindowHandle AllocateHWnd(WindowProcedure procedure) {
  return MessageQueue::Instance().Allocate(std::move(procedure));
}

void DeallocateHWnd(WindowHandle window) {
  MessageQueue::Instance().Release(window);
}

bool PostMessageA(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                  std::uintptr_t lParam) noexcept {
  return MessageQueue::Instance().Post(window, message, wParam, lParam);
}

}  // namespace korvane
