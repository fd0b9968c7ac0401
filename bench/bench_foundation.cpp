// The costs on the input path that every message pays: rendering its log
// line, one trip through the ring, one notice through the message queue.
#include <benchmark/benchmark.h>

#include "midi/circbuf.h"
#include "midi/delphmcb.h"
#include "monitor/monprocs.h"
#include "platform/message_queue.h"

namespace korvane {
namespace {

void BM_EventLineText_NoteOn(benchmark::State& state) {
  TMyMidiEvent event;
  event.StatusByte = 0x90;
  event.DataByte1 = 0x3C;
  event.DataByte2 = 0x64;
  event.TimeStamp = 0x0001E240;
  for (auto _ : state) benchmark::DoNotOptimize(EventLineText(event));
}
BENCHMARK(BM_EventLineText_NoteOn);

void BM_EventLineText_Sysex300(benchmark::State& state) {
  TMyMidiEvent event;
  event.StatusByte = 0xF0;
  event.SysexSize = 300;
  event.SysexData = new std::uint8_t[300];
  for (int i = 0; i < 300; ++i) event.SysexData[i] = static_cast<std::uint8_t>(i);
  for (auto _ : state) benchmark::DoNotOptimize(EventLineText(event));
}
BENCHMARK(BM_EventLineText_Sysex300);

void BM_RingPutPeekDrop(benchmark::State& state) {
  TEventRing* ring = RingCreate(1024);
  TRingSlot in;
  in.ShortMessage = 0x403C90;
  TRingSlot out;
  for (auto _ : state) {
    RingPut(ring, in);
    RingPeek(ring, out);
    RingDrop(ring);
    benchmark::DoNotOptimize(out);
  }
  RingFree(ring);
}
BENCHMARK(BM_RingPutPeekDrop);

void BM_PostAndDispatch(benchmark::State& state) {
  MessageQueue queue;
  std::uint64_t sum = 0;
  WindowHandle window = queue.Allocate([&](const WindowMessage& m) { sum += m.lParam; });
  for (auto _ : state) {
    queue.Post(window, pnEventStored, 0, 1);
    queue.ProcessMessages();
  }
  benchmark::DoNotOptimize(sum);
  queue.Release(window);
}
BENCHMARK(BM_PostAndDispatch);

}  // namespace
}  // namespace korvane

BENCHMARK_MAIN();
