// A tiny driver callback for the back-end tests: it keeps every report,
// with a copy of the bytes of each returned buffer, and lets the test
// thread wait for what it expects.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/mididriver.h"

namespace korvane::testing {

struct Report {
  std::uint32_t message = 0;
  std::uint32_t packed = 0;         // MIM_DATA
  std::vector<std::uint8_t> bytes;  // MIM_LONGDATA: what the buffer holds
  MIDIHDR* header = nullptr;        // MIM_LONGDATA, MOM_DONE
  std::uint32_t stamp = 0;
  std::thread::id thread;
};

class Recorder {
 public:
  // Driver thread.
  static void Callback(MidiHandle, std::uint32_t message, std::uintptr_t instance,
                       std::uintptr_t p1, std::uintptr_t p2) {
    auto* self = reinterpret_cast<Recorder*>(instance);
    Report r;
    r.message = message;
    r.stamp = static_cast<std::uint32_t>(p2);
    r.thread = std::this_thread::get_id();
    if (message == MIM_DATA) r.packed = static_cast<std::uint32_t>(p1);
    if (message == MIM_LONGDATA || message == MOM_DONE) {
      r.header = reinterpret_cast<MIDIHDR*>(p1);
      if (message == MIM_LONGDATA)
        r.bytes.assign(r.header->lpData, r.header->lpData + r.header->dwBytesRecorded);
    }
    {
      std::lock_guard lock(self->mutex_);
      self->reports_.push_back(std::move(r));
    }
    self->changed_.notify_all();
  }

  std::uintptr_t Instance() { return reinterpret_cast<std::uintptr_t>(this); }

  // Waits until `done` holds for the reports so far, or the time is up;
  // returns a copy of the reports either way.
  std::vector<Report> WaitFor(const std::function<bool(const std::vector<Report>&)>& done,
                              std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return done(reports_); });
    return reports_;
  }

  std::vector<Report> Of(std::uint32_t message) {
    std::lock_guard lock(mutex_);
    std::vector<Report> out;
    for (const auto& r : reports_) {
      if (r.message == message) out.push_back(r);
    }
    return out;
  }

  void Clear() {
    std::lock_guard lock(mutex_);
    reports_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Report> reports_;
};

inline std::size_t CountOf(const std::vector<Report>& reports, std::uint32_t message) {
  std::size_t n = 0;
  for (const auto& r : reports) n += r.message == message;
  return n;
}

// A system-exclusive message of `size` bytes whose body tells every position apart.
inline std::vector<std::uint8_t> SysexOf(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 128) & 0x7F);
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  return bytes;
}

// Pinned-free buffers for driver-level tests: plain headers over vectors.
struct TestBuffer {
  explicit TestBuffer(std::uint32_t size) : data(size) {
    header.lpData = data.data();
    header.dwBufferLength = size;
  }
  std::vector<char> data;
  MIDIHDR header{};
};

}  // namespace korvane::testing
