// The UI thread's message queue with hidden notification windows.
//
// A window is a handle registered with a procedure. Any thread may post a
// message to a window; the UI thread dispatches the queued messages in the
// order in which they were posted, by calling ProcessMessages whenever the
// wake-up descriptor becomes readable (Qt's socket notifier, a poll loop, a
// test). A message whose window was released before it is dispatched is
// dropped and never reaches the released owner.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace korvane {

// 0 is never a valid window.
using WindowHandle = std::uint64_t;

struct WindowMessage {
  WindowHandle window = 0;
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::uintptr_t lParam = 0;
};

using WindowProcedure = std::function<void(const WindowMessage&)>;

class MessageQueue {
 public:
  // Room for this many posted messages that have not been dispatched yet.
  static constexpr std::size_t kCapacity = 1u << 16;
  // Most windows registered at one time.
  static constexpr std::size_t kMaxWindows = 1024;

  MessageQueue();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // The process's queue, the one the free functions below use.
  static MessageQueue& Instance();

  // UI thread. Returns 0 when every window slot is taken.
  WindowHandle Allocate(WindowProcedure procedure);
  // UI thread. Releasing 0 or an already released handle does nothing.
  void Release(WindowHandle window);

  // Any thread: never blocks, never allocates. False when the queue is full
  // or the window is not (or no longer) registered.
  bool Post(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
            std::uintptr_t lParam) noexcept;

  // UI thread. Dispatches messages in posting order until none is left or
  // `limit` have been dispatched; returns how many reached a window.
  // Re-entrant: a window procedure may call it (a modal loop, a timer that
  // lets waiting messages run).
  std::size_t ProcessMessages(std::size_t limit = SIZE_MAX);

  // Readable while messages may be waiting; ProcessMessages clears it.
  int WakeFd() const noexcept { return wakeFd_; }

  // Messages posted and not yet taken (approximate while others post).
  std::size_t Pending() const noexcept;

 private:
  struct Cell;
  struct WindowSlot;
  bool Pop(WindowMessage& out) noexcept;
  bool IsAlive(WindowHandle window) const noexcept;
  void Wake() noexcept;

  std::unique_ptr<Cell[]> cells_;
  std::unique_ptr<WindowSlot[]> windows_;
  alignas(64) std::atomic<std::size_t> enqueuePos_{0};
  alignas(64) std::atomic<std::size_t> dequeuePos_{0};
  alignas(64) std::atomic<bool> wakePending_{false};
  int wakeFd_ = -1;
};

// The names the ports were designed around, on the process's queue.
WindowHandle AllocateHWnd(WindowProcedure procedure);
void DeallocateHWnd(WindowHandle window);
bool PostMessageA(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                  std::uintptr_t lParam) noexcept;

}  // namespace korvane
