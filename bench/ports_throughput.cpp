// Throughput of the ports, the thru path of the monitor without the window:
// a driver thread feeds short messages at a fixed rate into an open input
// port (Capacity 1024); its OnMidiInput takes every waiting event on the
// dispatching thread and hands it to an open output port on the built-in
// loopback. A rate counts as sustained when every message of a 10-second run
// came through with no overflow.
//
// Counters per rate: delivered (messages taken), overflows, sustained (1 or
// 0), ui_ns_per_event (CPU time of the dispatching thread per event: the
// notification, TakeEvent, SendEvent and the loopback driver), and the
// longest stalls of the dispatching and the feeding thread.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "midi/midiin.h"
#include "midi/midiout.h"
#include "platform/builtin/device_io.h"
#include "platform/builtin/driver.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRunTime = std::chrono::seconds(10);

// One input device whose thread feeds note messages at a fixed rate through
// the same byte stream the real back-ends use; output goes to the built-in
// loopback, whose input nobody opens.
class FeedDriver final : public MidiDriver {
 public:
  explicit FeedDriver(double rate) : rate_(rate) {}
  ~FeedDriver() override { StopFeed(); }

  std::uint64_t Fed() const { return fed_.load(std::memory_order_acquire); }
  bool Finished() const { return finished_.load(std::memory_order_acquire); }

  std::uint32_t midiInGetNumDevs() override { return 1; }
  MidiResult midiInGetDevCaps(std::uint32_t device, MIDIINCAPS* caps, std::uint32_t) override {
    if (device != 0) return kMidiErrBadDeviceId;
    *caps = MIDIINCAPS{};
    std::strcpy(caps->szPname, "Feed");
    return kMidiOk;
  }
  MidiResult midiInOpen(MidiHandle* handle, std::uint32_t, MidiCallback callback,
                        std::uintptr_t instance, std::uint32_t) override {
    stream_.Bind(1, callback, instance);
    *handle = 1;
    return kMidiOk;
  }
  MidiResult midiInPrepareHeader(MidiHandle, MIDIHDR* h, std::uint32_t size) override {
    return stream_.PrepareHeader(h, size);
  }
  MidiResult midiInAddBuffer(MidiHandle, MIDIHDR* h, std::uint32_t size) override {
    return stream_.AddBuffer(h, size);
  }
  MidiResult midiInStart(MidiHandle) override {
    MidiResult r = stream_.Start();
    feeder_ = std::thread([this] { Feed(); });
    return r;
  }
  MidiResult midiInReset(MidiHandle) override {
    StopFeed();
    return stream_.Reset();
  }
  MidiResult midiInUnprepareHeader(MidiHandle, MIDIHDR* h, std::uint32_t size) override {
    return stream_.UnprepareHeader(h, size);
  }
  MidiResult midiInClose(MidiHandle) override { return stream_.Close(); }

  std::uint32_t midiOutGetNumDevs() override { return loopback_.midiOutGetNumDevs(); }
  MidiResult midiOutGetDevCaps(std::uint32_t d, MIDIOUTCAPS* caps, std::uint32_t size) override {
    return loopback_.midiOutGetDevCaps(d, caps, size);
  }
  MidiResult midiOutOpen(MidiHandle* h, std::uint32_t d, MidiCallback cb, std::uintptr_t inst,
                         std::uint32_t flags) override {
    return loopback_.midiOutOpen(h, d, cb, inst, flags);
  }
  MidiResult midiOutClose(MidiHandle h) override { return loopback_.midiOutClose(h); }
  MidiResult midiOutShortMsg(MidiHandle h, std::uint32_t packed) override {
    return loopback_.midiOutShortMsg(h, packed);
  }
  MidiResult midiOutPrepareHeader(MidiHandle h, MIDIHDR* header, std::uint32_t size) override {
    return loopback_.midiOutPrepareHeader(h, header, size);
  }
  MidiResult midiOutLongMsg(MidiHandle h, MIDIHDR* header, std::uint32_t size) override {
    return loopback_.midiOutLongMsg(h, header, size);
  }
  MidiResult midiOutUnprepareHeader(MidiHandle h, MIDIHDR* header, std::uint32_t size) override {
    return loopback_.midiOutUnprepareHeader(h, header, size);
  }

 private:
  // Feeder thread: keeps the count fed on the line rate × elapsed time,
  // waking every 100 µs, in bursts of at most 64 messages so that a late
  // wake-up is made good at once but not as one lump.
  void Feed() {
    const auto start = Clock::now();
    auto last = start;
    std::uint64_t sent = 0;
    while (!stop_.load(std::memory_order_acquire)) {
      const auto now = Clock::now();
      maxGap_ = std::max(maxGap_, now - last);
      last = now;
      const std::chrono::duration<double> elapsed = now - start;
      if (elapsed >= kRunTime) break;
      const auto due = static_cast<std::uint64_t>(elapsed.count() * rate_);
      for (std::uint64_t burst = 0; sent < due && burst < 64; ++sent, ++burst) {
        const std::uint8_t note[3] = {0x90, static_cast<std::uint8_t>(sent & 0x7F), 0x40};
        stream_.Feed(note, 3);
      }
      fed_.store(sent, std::memory_order_release);
      if (sent >= due) std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    finished_.store(true, std::memory_order_release);
  }

  void StopFeed() {
    stop_.store(true, std::memory_order_release);
    if (feeder_.joinable()) feeder_.join();
  }

  const double rate_;
  InputStream stream_;
  BuiltinMidiDriver loopback_;
  std::thread feeder_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::atomic<std::uint64_t> fed_{0};

 public:
  // Longest time the feeder went without running; read after it ended.
  Clock::duration maxGap_{};
};

double ThreadCpuNs() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

void BM_ThruAtFixedRate(benchmark::State& state) {
  const auto rate = static_cast<double>(state.range(0));
  std::uint64_t delivered = 0, overflows = 0, fed = 0;
  double uiNs = 0;
  Clock::duration uiGap{}, feedGap{};
  for (auto _ : state) {
    FeedDriver driver(rate);
    TMidiInput input(driver);
    TMidiOutput output(driver);
    output.SetDeviceID(0);  // the loopback
    input.SetCapacity(1024);
    input.OnMidiInput = [&](TMidiInput& port) {
      while (port.EventCount() > 0) {
        auto event = port.TakeEvent();
        output.SendEvent(*event);
        ++delivered;
      }
    };
    input.OnOverflow = [&](TMidiInput&) { ++overflows; };
    input.Open();
    if (!output.Open() || input.State() != TPortState::stOpen) {
      state.SkipWithError("ports did not open");
      return;
    }
    const double cpu0 = ThreadCpuNs();
    input.Start();
    auto& queue = MessageQueue::Instance();
    auto last = Clock::now();
    while (!driver.Finished() || delivered + overflows < driver.Fed()) {
      pollfd p{queue.WakeFd(), POLLIN, 0};
      ::poll(&p, 1, 1);
      const auto now = Clock::now();
      uiGap = std::max(uiGap, now - last);
      last = now;
      queue.ProcessMessages();
    }
    uiNs = ThreadCpuNs() - cpu0;
    fed = driver.Fed();
    input.Close();
    feedGap = driver.maxGap_;
    output.Close();
  }
  state.counters["fed"] = static_cast<double>(fed);
  state.counters["delivered"] = static_cast<double>(delivered);
  state.counters["overflows"] = static_cast<double>(overflows);
  state.counters["sustained"] = overflows == 0 && delivered == fed ? 1 : 0;
  state.counters["ui_ns_per_event"] = delivered == 0 ? 0 : uiNs / static_cast<double>(delivered);
  // The longest stretch in which the dispatching thread (or the feeder) did
  // not run: with 1,024 slots, a stall longer than 1024 / rate overflows.
  const auto ms = [](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  };
  state.counters["ui_max_stall_ms"] = ms(uiGap);
  state.counters["feed_max_stall_ms"] = ms(feedGap);
}

// The goal is 312,500 messages a second: a hundred full-speed MIDI cables.
BENCHMARK(BM_ThruAtFixedRate)
    ->Arg(100'000)
    ->Arg(156'250)
    ->Arg(312'500)
    ->Arg(625'000)
    ->Arg(1'250'000)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
}  // namespace korvane

BENCHMARK_MAIN();
