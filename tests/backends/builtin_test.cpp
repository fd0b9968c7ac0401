// The built-in devices and the input byte stream that every back-end uses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "backends/recorder.h"
#include "midi/midiin.h"
#include "midi/midiout.h"
#include "platform/builtin/device_io.h"
#include "platform/builtin/driver.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using testing::CountOf;
using testing::Recorder;
using testing::Report;
using testing::SysexOf;
using testing::TestBuffer;

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// The input stream: bytes in, short messages and filled buffers out.

struct StreamCase {
  const char* name;
  std::uint32_t bufferCount;
  std::uint32_t bufferSize;
  Bytes fed;
  std::vector<std::uint32_t> shorts;  // packed, in order
  std::vector<Bytes> buffers;         // what each returned buffer holds, in order
};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class StreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamTest, DeliversWhatTheBytesSay) {
  const StreamCase& c = GetParam();
  Recorder recorder;
  InputStream stream;
  stream.Bind(1, Recorder::Callback, recorder.Instance());
  std::vector<std::unique_ptr<TestBuffer>> buffers;
  for (std::uint32_t i = 0; i < c.bufferCount; ++i) {
    buffers.push_back(std::make_unique<TestBuffer>(c.bufferSize));
    ASSERT_EQ(stream.PrepareHeader(&buffers.back()->header, kMidiHdrSize), kMidiOk);
    ASSERT_EQ(stream.AddBuffer(&buffers.back()->header, kMidiHdrSize), kMidiOk);
  }
  ASSERT_EQ(stream.Start(), kMidiOk);
  stream.Feed(c.fed.data(), c.fed.size());

  std::vector<std::uint32_t> shorts;
  std::vector<Bytes> returned;
  for (const Report& r : recorder.Of(MIM_DATA)) shorts.push_back(r.packed);
  for (const Report& r : recorder.Of(MIM_LONGDATA)) returned.push_back(r.bytes);
  EXPECT_EQ(shorts, c.shorts);
  EXPECT_EQ(returned, c.buffers);
  ASSERT_EQ(stream.Reset(), kMidiOk);
}

const Bytes kLong = SysexOf(10'000);

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamTest,
    ::testing::Values(StreamCase{"ShortMessagesWithRunningStatus",
                                 0,
                                 0,
                                 {0x90, 0x3C, 0x64, 0x3E, 0x00, 0xC0, 0x05, 0x06, 0xF8, 0xF2, 0x10,
                                  0x20, 0x11, 0xF6},
                                 {0x643C90, 0x003E90, 0x05C0, 0x06C0, 0xF8, 0x2010F2, 0xF6},
                                 {}},
                      StreamCase{"LongMessageFillsBuffersInOrder",
                                 4,
                                 4096,
                                 kLong,
                                 {},
                                 {Bytes(kLong.begin(), kLong.begin() + 4096),
                                  Bytes(kLong.begin() + 4096, kLong.begin() + 8192),
                                  Bytes(kLong.begin() + 8192, kLong.end())}},
                      StreamCase{"MessageEndingWithAFullBufferReturnsItOnce",
                                 2,
                                 4,
                                 {0xF0, 0x01, 0x02, 0xF7, 0x90, 0x3C, 0x40},
                                 {0x403C90},
                                 {{0xF0, 0x01, 0x02, 0xF7}}},
                      StreamCase{"RealTimeInsideSysexComesFirstAndApart",
                                 1,
                                 64,
                                 {0xF0, 0x01, 0xF8, 0x02, 0xFE, 0xF7},
                                 {0xF8, 0xFE},
                                 {{0xF0, 0x01, 0x02, 0xF7}}},
                      StreamCase{"WithoutBuffersSysexIsDroppedAndShortsStillArrive",
                                 0,
                                 0,
                                 {0xF0, 0x01, 0xF7, 0x90, 0x3C, 0x40},
                                 {0x403C90},
                                 {}},
                      StreamCase{"WhatFindsNoBufferIsDropped",
                                 1,
                                 4,
                                 {0xF0, 0x01, 0x02, 0x03, 0x04, 0x05, 0xF7, 0xB0, 0x07, 0x64},
                                 {0x6407B0},
                                 {{0xF0, 0x01, 0x02, 0x03}}},
                      StreamCase{"StatusByteCutsSysexShort",
                                 2,
                                 64,
                                 Concat({{0xF0, 0x01, 0x02}, {0x90, 0x3C, 0x40}}),
                                 {0x403C90},
                                 {{0xF0, 0x01, 0x02}}},
                      StreamCase{"StrayDataAndEndBytesAreIgnored",
                                 0,
                                 0,
                                 {0x3C, 0x40, 0xF7, 0xE0, 0x00, 0x40},
                                 {0x4000E0},
                                 {}}),
    [](const ::testing::TestParamInfo<StreamCase>& row) { return std::string(row.param.name); });

TEST(Stream, DropsInputBeforeStartAndStampsMillisecondsFromStart) {
  Recorder recorder;
  InputStream stream;
  stream.Bind(1, Recorder::Callback, recorder.Instance());
  const std::uint8_t note[] = {0x90, 0x3C, 0x40};
  stream.Feed(note, 3);
  EXPECT_TRUE(recorder.Of(MIM_DATA).empty());

  ASSERT_EQ(stream.Start(), kMidiOk);
  stream.Feed(note, 3);
  std::this_thread::sleep_for(60ms);
  stream.Feed(note, 3);
  auto shorts = recorder.Of(MIM_DATA);
  ASSERT_EQ(shorts.size(), 2u);
  EXPECT_GE(shorts[1].stamp - shorts[0].stamp, 60u);
  EXPECT_LT(shorts[1].stamp, 1000u) << "milliseconds since Start, not some other clock";
}

TEST(Stream, ResetHandsEveryQueuedBufferBackBeforeItReturns) {
  Recorder recorder;
  InputStream stream;
  stream.Bind(1, Recorder::Callback, recorder.Instance());
  TestBuffer a(16), b(16), c(16);
  for (TestBuffer* t : {&a, &b, &c}) {
    ASSERT_EQ(stream.PrepareHeader(&t->header, kMidiHdrSize), kMidiOk);
    ASSERT_EQ(stream.AddBuffer(&t->header, kMidiHdrSize), kMidiOk);
  }
  EXPECT_EQ(stream.UnprepareHeader(&a.header, kMidiHdrSize), kMidiErrStillPlaying);
  EXPECT_EQ(stream.AddBuffer(&a.header, kMidiHdrSize), kMidiErrStillPlaying);
  EXPECT_EQ(stream.Close(), kMidiErrStillPlaying);
  ASSERT_EQ(stream.Start(), kMidiOk);

  ASSERT_EQ(stream.Reset(), kMidiOk);
  auto returned = recorder.Of(MIM_LONGDATA);
  ASSERT_EQ(returned.size(), 3u);
  EXPECT_EQ(returned[0].header, &a.header);
  EXPECT_EQ(returned[1].header, &b.header);
  EXPECT_EQ(returned[2].header, &c.header);
  for (const Report& r : returned) EXPECT_TRUE(r.bytes.empty());
  EXPECT_EQ(a.header.dwFlags & (MHDR_DONE | MHDR_INQUEUE), MHDR_DONE);

  const std::uint8_t note[] = {0x90, 0x3C, 0x40};
  stream.Feed(note, 3);  // stopped: nothing arrives
  EXPECT_TRUE(recorder.Of(MIM_DATA).empty());
  EXPECT_EQ(stream.UnprepareHeader(&a.header, kMidiHdrSize), kMidiOk);
  EXPECT_EQ(stream.AddBuffer(&a.header, kMidiHdrSize), kMidiErrUnprepared);
  EXPECT_EQ(stream.Close(), kMidiOk);
  stream.Feed(note, 3);
  EXPECT_TRUE(recorder.Of(MIM_DATA).empty());
}

// ---------------------------------------------------------------------------
// The built-in devices at driver level.

class BuiltinTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (MidiHandle h : inputs_) {
      driver_.midiInReset(h);
      driver_.midiInClose(h);
    }
    for (MidiHandle h : outputs_) driver_.midiOutClose(h);
  }

  MidiHandle OpenInput(const std::string& name, Recorder& recorder, int buffers) {
    MidiHandle h = 0;
    for (std::uint32_t d = 0; d < driver_.midiInGetNumDevs(); ++d) {
      MIDIINCAPS caps{};
      EXPECT_EQ(driver_.midiInGetDevCaps(d, &caps, sizeof caps), kMidiOk);
      if (name != caps.szPname) continue;
      EXPECT_EQ(
          driver_.midiInOpen(&h, d, Recorder::Callback, recorder.Instance(), CALLBACK_FUNCTION),
          kMidiOk);
    }
    EXPECT_NE(h, 0u) << name;
    inputs_.push_back(h);
    for (int i = 0; i < buffers; ++i) {
      buffers_.push_back(std::make_unique<TestBuffer>(4096));
      EXPECT_EQ(driver_.midiInPrepareHeader(h, &buffers_.back()->header, kMidiHdrSize), kMidiOk);
      EXPECT_EQ(driver_.midiInAddBuffer(h, &buffers_.back()->header, kMidiHdrSize), kMidiOk);
    }
    EXPECT_EQ(driver_.midiInStart(h), kMidiOk);
    return h;
  }

  // The recorders outlive the devices, which report their closing.
  Recorder in_;
  Recorder out_;
  BuiltinMidiDriver driver_;
  std::vector<MidiHandle> inputs_;
  std::vector<MidiHandle> outputs_;
  std::vector<std::unique_ptr<TestBuffer>> buffers_;
};

TEST_F(BuiltinTest, ListsTheDemoAndTheLoopback) {
  ASSERT_EQ(driver_.midiInGetNumDevs(), 2u);
  ASSERT_EQ(driver_.midiOutGetNumDevs(), 1u);
  MIDIINCAPS in{};
  MIDIOUTCAPS out{};
  ASSERT_EQ(driver_.midiInGetDevCaps(0, &in, sizeof in), kMidiOk);
  EXPECT_STREQ(in.szPname, "Korvane Demo");
  ASSERT_EQ(driver_.midiInGetDevCaps(1, &in, sizeof in), kMidiOk);
  EXPECT_STREQ(in.szPname, "Korvane Loopback");
  ASSERT_EQ(driver_.midiOutGetDevCaps(0, &out, sizeof out), kMidiOk);
  EXPECT_STREQ(out.szPname, "Korvane Loopback");
  EXPECT_EQ(driver_.midiInGetDevCaps(2, &in, sizeof in), kMidiErrBadDeviceId);
  EXPECT_EQ(driver_.midiOutGetDevCaps(1, &out, sizeof out), kMidiErrBadDeviceId);
  MidiHandle h = 0;
  EXPECT_EQ(driver_.midiInOpen(&h, 5, Recorder::Callback, 0, CALLBACK_FUNCTION),
            kMidiErrBadDeviceId);
  EXPECT_EQ(driver_.midiInStart(12345), kMidiErrInvalidHandle);
  EXPECT_EQ(driver_.midiOutShortMsg(12345, 0x90), kMidiErrInvalidHandle);
}

TEST_F(BuiltinTest, LoopbackReturnsShortAndLongMessagesIntact) {
  Recorder& in = in_;
  Recorder& out = out_;
  const MidiHandle input = OpenInput("Korvane Loopback", in, 4);
  MidiHandle output = 0;
  ASSERT_EQ(driver_.midiOutOpen(&output, 0, Recorder::Callback, out.Instance(), CALLBACK_FUNCTION),
            kMidiOk);
  outputs_.push_back(output);
  (void)input;

  // The bytes that the status implies, and no more.
  for (std::uint32_t packed :
       {0x643C90u, 0x7F0005C0u, 0x7F7F00F8u, 0x2000E3u, 0x0000F6u, 0x0010F1u})
    EXPECT_EQ(driver_.midiOutShortMsg(output, packed), kMidiOk) << std::hex << packed;
  for (std::uint32_t packed : {0x3C40u, 0xF0u, 0xF7u})
    EXPECT_EQ(driver_.midiOutShortMsg(output, packed), kMidiErrInvalidParam) << std::hex << packed;
  std::vector<std::uint32_t> shorts;
  for (const Report& r : in.Of(MIM_DATA)) shorts.push_back(r.packed);
  EXPECT_EQ(shorts, (std::vector<std::uint32_t>{0x643C90, 0x05C0, 0xF8, 0x2000E3, 0xF6, 0x10F1}));

  const Bytes sysex = SysexOf(10'000);
  TestBuffer block(static_cast<std::uint32_t>(sysex.size()));
  std::copy(sysex.begin(), sysex.end(), block.data.begin());
  EXPECT_EQ(driver_.midiOutLongMsg(output, &block.header, kMidiHdrSize), kMidiErrUnprepared);
  ASSERT_EQ(driver_.midiOutPrepareHeader(output, &block.header, kMidiHdrSize), kMidiOk);
  ASSERT_EQ(driver_.midiOutLongMsg(output, &block.header, kMidiHdrSize), kMidiOk);

  auto done = out.WaitFor([](const auto& r) { return CountOf(r, MOM_DONE) == 1; });
  ASSERT_EQ(CountOf(done, MOM_DONE), 1u);
  for (const Report& r : done) {
    if (r.message != MOM_DONE) continue;
    EXPECT_EQ(r.header, &block.header);
    EXPECT_NE(r.thread, std::this_thread::get_id()) << "MOM_DONE must not come inside the call";
  }
  EXPECT_EQ(driver_.midiOutUnprepareHeader(output, &block.header, kMidiHdrSize), kMidiOk);

  auto longs = in.Of(MIM_LONGDATA);
  ASSERT_EQ(longs.size(), 3u);
  EXPECT_EQ(longs[0].bytes.size(), 4096u);
  EXPECT_EQ(longs[1].bytes.size(), 4096u);
  EXPECT_EQ(longs[2].bytes.size(), 1808u);
  Bytes joined;
  for (const Report& r : longs) joined.insert(joined.end(), r.bytes.begin(), r.bytes.end());
  EXPECT_EQ(joined, sysex);
}

// The demo's quarter frames, read back into a time: pieces 0..7 in order,
// and each set of eight two frames on from the one before.
TEST_F(BuiltinTest, DemoPlaysWhatItPromises) {
  Recorder& recorder = in_;
  const MidiHandle h = OpenInput("Korvane Demo", recorder, 4);
  const auto all = recorder.WaitFor(
      [](const auto& reports) {
        std::size_t longs = 0;
        for (const auto& r : reports) longs += r.message == MIM_LONGDATA;
        return longs >= 3;  // the Identity Reply and the two parts of the dump
      },
      6s);
  ASSERT_EQ(driver_.midiInReset(h), kMidiOk);
  const std::size_t atReset = recorder.Of(MIM_DATA).size();

  std::vector<int> pieces;
  std::vector<std::uint32_t> senseStamps;
  std::vector<int> times;  // frames since midnight, one per complete set
  int nibbles[8] = {};
  std::uint32_t lastStamp = 0;
  bool noteOn = false, noteOff = false, controller = false, program = false, bend = false,
       drums = false;
  for (const Report& r : all) {
    EXPECT_GE(r.stamp, lastStamp);
    lastStamp = r.stamp;
    if (r.message != MIM_DATA) continue;
    const std::uint8_t status = r.packed & 0xFF;
    const int d1 = (r.packed >> 8) & 0xFF;
    const int d2 = (r.packed >> 16) & 0xFF;
    if (status == 0xF1) {
      const int piece = d1 >> 4;
      if (!pieces.empty()) {
        EXPECT_EQ(piece, (pieces.back() + 1) % 8);
      }
      pieces.push_back(piece);
      nibbles[piece] = d1 & 0xF;
      if (piece == 7 && pieces.size() >= 8) {
        EXPECT_EQ(nibbles[7] >> 1, 1) << "rate code 1: 25 fps";
        const int hours = nibbles[6] | (nibbles[7] & 1) << 4;
        times.push_back(
            ((hours * 60 + (nibbles[4] | nibbles[5] << 4)) * 60 + (nibbles[2] | nibbles[3] << 4)) *
                25 +
            (nibbles[0] | nibbles[1] << 4));
      }
    }
    if (status == 0xFE) senseStamps.push_back(r.stamp);
    noteOn |= (status & 0xF0) == 0x90 && d2 > 0;
    noteOff |= (status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && d2 == 0);
    drums |= status == 0x99;
    controller |= (status & 0xF0) == 0xB0;
    program |= (status & 0xF0) == 0xC0;
    bend |= (status & 0xF0) == 0xE0;
  }
  // Quarter frames: 100 a second.
  EXPECT_GE(pieces.size(), 180u);
  ASSERT_GE(times.size(), 10u);
  EXPECT_EQ(times.front() / 25, 3600) << "starts at 01:00:00";
  for (std::size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i], times[i - 1] + 2);
  // Active Sensing every 300 ms: on average, since a loaded machine may
  // wake the player late now and then.
  ASSERT_GE(senseStamps.size(), 6u);
  const double meanGap = static_cast<double>(senseStamps.back() - senseStamps.front()) /
                         static_cast<double>(senseStamps.size() - 1);
  EXPECT_NEAR(meanGap, 300.0, 15.0);
  EXPECT_TRUE(noteOn && noteOff && drums && controller && program && bend);

  std::vector<Bytes> longs;
  for (const Report& r : all) {
    if (r.message == MIM_LONGDATA) longs.push_back(r.bytes);
  }
  ASSERT_GE(longs.size(), 3u);
  EXPECT_EQ(longs[0], (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x7D, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00,
                             0x00, 0x00, 0xF7}));
  EXPECT_EQ(longs[1].size(), 4096u);
  EXPECT_EQ(longs[1].front(), 0xF0);
  EXPECT_EQ(longs[1].size() + longs[2].size(), static_cast<std::size_t>(kDemoDumpSize));
  EXPECT_EQ(longs[2].back(), 0xF7);

  // The reset stopped the player: nothing more comes.
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(recorder.Of(MIM_DATA).size(), atReset);
}

// ---------------------------------------------------------------------------
// The driver the program makes: real devices first (none forced here), the
// built-in ones after them, and the mapper.

TEST(Factory, WithoutRealMidiListsTheBuiltInDevicesAndAMapper) {
  for (const char* api : {"none", "alsa", "jack"}) {
    SCOPED_TRACE(api);
    if (std::string(api) == "alsa" && ::access("/dev/snd/seq", R_OK | W_OK) == 0) continue;
    ::setenv("KORVANE_MIDI_API", api, 1);
    ::setenv("JACK_DEFAULT_SERVER", "korvane-no-such-server", 1);
    auto driver = CreateMidiDriver();
    ASSERT_EQ(driver->midiInGetNumDevs(), 2u);
    ASSERT_EQ(driver->midiOutGetNumDevs(), 1u);
    MIDIINCAPS in{};
    ASSERT_EQ(driver->midiInGetDevCaps(1, &in, sizeof in), kMidiOk);
    EXPECT_STREQ(in.szPname, "Korvane Loopback");
    MIDIOUTCAPS out{};
    ASSERT_EQ(driver->midiOutGetDevCaps(MIDI_MAPPER, &out, sizeof out), kMidiOk);
    EXPECT_STREQ(out.szPname, "MIDI Mapper");
    EXPECT_EQ(driver->midiInGetDevCaps(2, &in, sizeof in), kMidiErrBadDeviceId);

    // The mapper is the first output device: here the loopback.
    Recorder recorder;
    MidiHandle input = 0, output = 0;
    ASSERT_EQ(
        driver->midiInOpen(&input, 1, Recorder::Callback, recorder.Instance(), CALLBACK_FUNCTION),
        kMidiOk);
    ASSERT_EQ(driver->midiInStart(input), kMidiOk);
    ASSERT_EQ(driver->midiOutOpen(&output, MIDI_MAPPER, Recorder::Callback, recorder.Instance(),
                                  CALLBACK_FUNCTION),
              kMidiOk);
    EXPECT_EQ(driver->midiOutShortMsg(output, 0x403C90), kMidiOk);
    EXPECT_EQ(recorder.Of(MIM_DATA).size(), 1u);
    EXPECT_EQ(driver->midiOutClose(output), kMidiOk);
    EXPECT_EQ(driver->midiOutClose(output), kMidiErrInvalidHandle);
    EXPECT_EQ(driver->midiInReset(input), kMidiOk);
    EXPECT_EQ(driver->midiInClose(input), kMidiOk);
  }
  ::unsetenv("KORVANE_MIDI_API");
}

// ---------------------------------------------------------------------------
// Through the ports, on the UI thread's message queue.

TEST(LoopbackPorts, WhatTheOutputPortSendsTheInputPortTakes) {
  ::setenv("KORVANE_MIDI_API", "none", 1);
  auto driver = CreateMidiDriver();
  ::unsetenv("KORVANE_MIDI_API");
  TMidiInput input(*driver);
  TMidiOutput output(*driver);
  input.SetProductName("Korvane Loopback");
  output.SetProductName("Korvane Loopback");
  std::vector<std::unique_ptr<TMyMidiEvent>> events;
  input.OnMidiInput = [&](TMidiInput& port) {
    while (port.EventCount() > 0) events.push_back(port.TakeEvent());
  };
  int done = 0;
  output.Onmidioutput = [&](TMidiOutput&) { ++done; };
  input.Open();
  ASSERT_EQ(input.State(), TPortState::stOpen);
  input.Start();
  ASSERT_TRUE(output.Open());

  output.SendShort(0x90, 0x3C, 0x64);
  output.SendShort(0xC3, 0x05, 0x7F);  // a program change carries one data byte
  const Bytes sysex = SysexOf(10'000);
  output.SendLong(sysex.data(), static_cast<std::uint16_t>(sysex.size()));

  const auto until = std::chrono::steady_clock::now() + 5s;
  while ((events.size() < 5 || done < 1) && std::chrono::steady_clock::now() < until) {
    MessageQueue::Instance().ProcessMessages();
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(events[0]->StatusByte, 0x90);
  EXPECT_EQ(events[0]->DataByte1, 0x3C);
  EXPECT_EQ(events[0]->DataByte2, 0x64);
  EXPECT_EQ(events[1]->StatusByte, 0xC3);
  EXPECT_EQ(events[1]->DataByte1, 0x05);
  EXPECT_EQ(events[1]->DataByte2, 0x00);
  Bytes joined;
  const std::uint16_t sizes[] = {4096, 4096, 1808};
  for (int i = 0; i < 3; ++i) {
    const auto& e = events[2 + i];
    EXPECT_EQ(e->StatusByte, 0xF0);
    ASSERT_EQ(e->SysexSize, sizes[i]);
    joined.insert(joined.end(), e->SysexData, e->SysexData + e->SysexSize);
  }
  EXPECT_EQ(joined, sysex);
  output.Close();
  input.Close();
}

}  // namespace
}  // namespace korvane
