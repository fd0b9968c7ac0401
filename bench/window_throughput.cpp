// Throughput of the real main window: a driver thread plays short messages
// at a fixed rate into the input port; the window logs each one in the memo
// and forwards it to the built-in loopback output. Per rate it reports what
// arrived, what the ring dropped, the UI thread's CPU time per event and the
// longest stall of the event loop.
//
//   window_throughput [--benchmark_filter=...]   KORVANE_BENCH_SECONDS (default 10)
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "monitor/korvanep.h"  // first: see the note on `slots` in it
#include "monitor/messagepump.h"
#include "monitor/monitorstate.h"
#include "platform/builtin/driver.h"

namespace korvane {
namespace {

// One input device, "Bench Generator", fed by Emit from the generator
// thread; output goes to the built-in devices (the loopback), counted.
class BenchDriver final : public MidiDriver {
 public:
  // Driver thread.
  void Emit(std::uint32_t packed, std::uint32_t timeStamp) {
    if (!started_.load(std::memory_order_acquire)) return;
    callback_(handle_, MIM_DATA, instance_, packed, timeStamp);
  }
  std::uint64_t Forwarded() const { return forwarded_.load(std::memory_order_relaxed); }

  std::uint32_t midiInGetNumDevs() override { return 1; }
  MidiResult midiInGetDevCaps(std::uint32_t device, MIDIINCAPS* caps, std::uint32_t) override {
    if (device != 0) return kMidiErrBadDeviceId;
    *caps = MIDIINCAPS{};
    std::strcpy(caps->szPname, "Bench Generator");
    return kMidiOk;
  }
  MidiResult midiInOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                        std::uintptr_t instance, std::uint32_t) override {
    if (device != 0) return kMidiErrBadDeviceId;
    callback_ = callback;
    instance_ = instance;
    *handle = handle_;
    return kMidiOk;
  }
  MidiResult midiInPrepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override { return kMidiOk; }
  MidiResult midiInAddBuffer(MidiHandle, MIDIHDR*, std::uint32_t) override { return kMidiOk; }
  MidiResult midiInStart(MidiHandle) override {
    started_.store(true, std::memory_order_release);
    return kMidiOk;
  }
  MidiResult midiInReset(MidiHandle) override {
    started_.store(false, std::memory_order_release);
    return kMidiOk;
  }
  MidiResult midiInUnprepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override { return kMidiOk; }
  MidiResult midiInClose(MidiHandle) override { return kMidiOk; }

  std::uint32_t midiOutGetNumDevs() override { return builtin_.midiOutGetNumDevs(); }
  MidiResult midiOutGetDevCaps(std::uint32_t device, MIDIOUTCAPS* caps,
                               std::uint32_t size) override {
    if (device == MIDI_MAPPER) {
      *caps = MIDIOUTCAPS{};
      std::strcpy(caps->szPname, "MIDI Mapper");
      return kMidiOk;
    }
    return builtin_.midiOutGetDevCaps(device, caps, size);
  }
  MidiResult midiOutOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                         std::uintptr_t instance, std::uint32_t flags) override {
    return builtin_.midiOutOpen(handle, device, callback, instance, flags);
  }
  MidiResult midiOutClose(MidiHandle handle) override { return builtin_.midiOutClose(handle); }
  MidiResult midiOutShortMsg(MidiHandle handle, std::uint32_t packed) override {
    forwarded_.fetch_add(1, std::memory_order_relaxed);
    return builtin_.midiOutShortMsg(handle, packed);
  }
  MidiResult midiOutPrepareHeader(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override {
    return builtin_.midiOutPrepareHeader(handle, header, size);
  }
  MidiResult midiOutLongMsg(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override {
    return builtin_.midiOutLongMsg(handle, header, size);
  }
  MidiResult midiOutUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                    std::uint32_t size) override {
    return builtin_.midiOutUnprepareHeader(handle, header, size);
  }

 private:
  BuiltinMidiDriver builtin_;
  const MidiHandle handle_ = 0xB0;
  MidiCallback callback_ = nullptr;
  std::uintptr_t instance_ = 0;
  std::atomic<bool> started_{false};
  std::atomic<std::uint64_t> forwarded_{0};
};

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

int Seconds() {
  const char* text = std::getenv("KORVANE_BENCH_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 10;
  return seconds > 0 ? seconds : 10;
}

void BM_WindowThroughput(benchmark::State& state) {
  const auto rate = static_cast<std::uint64_t>(state.range(0));
  const int seconds = Seconds();
  QTemporaryDir folder;  // the window reads its settings from here
  const QString previous = QDir::currentPath();
  QDir::setCurrent(folder.path());
  std::destroy_at(&MonitorState);
  std::construct_at(&MonitorState);

  for (auto _ : state) {
    BenchDriver driver;
    TMessagePump pump;
    auto form = std::make_unique<TMonitorForm>(driver);
    form->show();
    QApplication::processEvents();
    if (MonitorState.InClosed != 0 || MonitorState.OutClosed != 0) {
      state.SkipWithError("the ports did not open");
      break;
    }
    std::atomic<std::uint64_t> overflow{0};
    form->MidiInput1->OnOverflow = [&](TMidiInput&) { overflow.fetch_add(1); };

    // The event loop's pulse: a 1 ms timer whose longest gap is the stall.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0;
    qint64 longestGap = 0;
    // The UI thread's own CPU time within the longest gap: near the gap when
    // the window itself was busy, near 0 when the thread was not running.
    double lastTickCpu = 0;
    double longestGapCpu = 0;
    QTimer pulse;
    pulse.setTimerType(Qt::PreciseTimer);
    pulse.setInterval(1);
    QObject::connect(&pulse, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      const double cpuNow = ThreadCpuSeconds();
      if (now - lastTick > longestGap) {
        longestGap = now - lastTick;
        longestGapCpu = cpuNow - lastTickCpu;
      }
      lastTick = now;
      lastTickCpu = cpuNow;
    });

    std::atomic<bool> done{false};
    std::chrono::steady_clock::duration generatorLate{};
    std::uint64_t sent = 0;
    const double cpuBefore = ThreadCpuSeconds();
    lastTick = clock.nsecsElapsed();
    lastTickCpu = cpuBefore;
    pulse.start();
    std::thread generator([&] {
      using Clock = std::chrono::steady_clock;
      const auto start = Clock::now();
      const std::uint64_t total = rate * static_cast<std::uint64_t>(seconds);
      std::uint8_t note = 0;
      for (int ms = 1; sent < total; ++ms) {
        // Spread evenly: by the end of each millisecond, rate * ms / 1000 sent.
        const std::uint64_t due = std::min<std::uint64_t>(total, rate * ms / 1000);
        for (; sent < due; ++sent) {
          const std::uint32_t status = (sent & 1) == 0 ? 0x90 : 0x80;
          driver.Emit(status | (std::uint32_t{note} << 8) | (0x40u << 16), ms);
          if ((sent & 1) != 0) note = static_cast<std::uint8_t>((note + 1) & 0x7F);
        }
        const auto deadline = start + std::chrono::milliseconds(ms);
        std::this_thread::sleep_until(deadline);
        // A generator that wakes late sends the missed milliseconds at once:
        // a burst that no consumer could take if it exceeds the ring.
        const auto late = Clock::now() - deadline;
        generatorLate = std::max(generatorLate, late);
      }
      done.store(true);
    });
    // The real event loop, until the generator is done and what it sent has
    // arrived (or two more seconds have passed).
    QEventLoop loop;
    QTimer watch;
    int drainTicks = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (!done.load()) return;
      if (driver.Forwarded() + overflow.load() >= sent || ++drainTicks > 200) loop.quit();
    });
    watch.start(10);
    loop.exec();
    generator.join();
    pulse.stop();
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    const double wall = static_cast<double>(clock.nsecsElapsed()) * 1e-9;

    const auto forwarded = static_cast<double>(driver.Forwarded());
    state.counters["rate"] = static_cast<double>(rate);
    state.counters["sent"] = static_cast<double>(sent);
    state.counters["forwarded"] = forwarded;
    state.counters["overflow"] = static_cast<double>(overflow.load());
    state.counters["lost"] = static_cast<double>(sent) - forwarded;
    state.counters["ui_us_per_event"] = forwarded > 0 ? cpu / forwarded * 1e6 : 0;
    state.counters["ui_load"] = cpu / wall;
    state.counters["max_stall_ms"] = static_cast<double>(longestGap) * 1e-6;
    state.counters["max_stall_ui_cpu_ms"] = longestGapCpu * 1e3;
    state.counters["memo_lines"] = form->MemoLineCount();
    state.counters["generator_late_ms"] =
        std::chrono::duration<double, std::milli>(generatorLate).count();
    form.reset();
    QApplication::processEvents();
  }
  QDir::setCurrent(previous);
}

BENCHMARK(BM_WindowThroughput)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(30000)
    ->Arg(40000)
    ->Arg(50000)
    ->Arg(60000)
    ->Arg(90000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace korvane

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
