// What the window does with each incoming message: timecode, the Active
// Sensing lamp, the log and the small view, thru, and the dump capture.
#include <QEventLoop>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>

#include "monitor/messagepump.h"
#include "monitor/recievef.h"
#include "window_fixture.h"

namespace korvane {
namespace {

std::uint32_t QuarterFrame(std::uint8_t data) {
  return 0xF1u | (std::uint32_t{data} << 8);
}

struct TimecodeCase {
  const char* name;
  bool frames;
  std::vector<std::uint8_t> data;  // quarter-frame data bytes: piece << 4 | nibble
  const char* shown;
};

TEST_F(WindowTest, QuarterFramesBuildTheTimecode) {
  // 01:02:03:04 with the 25 fps rate code (1 << 1) in piece 7.
  const std::vector<std::uint8_t> time = {0x04, 0x10, 0x23, 0x30, 0x42, 0x50, 0x61, 0x72};
  const TimecodeCase cases[] = {
      {"with frames", true, time, "01:02:03:04"},
      {"without frames", false, time, "01:02:03"},
      {"hours 23 whatever the rate bits", false, {0x67, 0x77}, "23:00:00"},
      {"hours 23, another rate", false, {0x67, 0x71}, "23:00:00"},
      {"first frame of a run, from the stored zeros", true, {0x05}, "00:00:00:05"},
      {"whole high nibbles, no masking", true, {0x0F, 0x1F}, "00:00:00:255"},
      {"a data byte of 0x80 or more is ignored", true, {0x05, 0x85, 0xF3}, "00:00:00:05"},
  };
  for (const TimecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    TMonitorForm& form = Start();
    if (c.frames) form.SBframes->click();
    std::vector<std::uint32_t> messages;
    for (std::uint8_t d : c.data) messages.push_back(QuarterFrame(d));
    Feed(messages);
    EXPECT_EQ(form.Ltc->text(), c.shown);
    // Never logged or forwarded.
    EXPECT_EQ(MemoLines(), QStringList{"No message yet."});
    EXPECT_TRUE(driver_->SentShort().empty());
  }
}

TEST_F(WindowTest, MessagesBehindAQuarterFrameAreLoggedInOrder) {
  TMonitorForm& form = Start();
  Feed({0x403C90, QuarterFrame(0x04), 0x403E90, 0x003C80});
  EXPECT_EQ(MemoLines(),
            (QStringList{"No message yet.", Line(0x403C90), Line(0x403E90), Line(0x003C80)}));
  EXPECT_EQ(driver_->SentShort(), (std::vector<std::uint32_t>{0x403C90, 0x403E90, 0x003C80}));
  EXPECT_EQ(form.Ltc->text(), "00:00:00");
}

TEST_F(WindowTest, ActiveSensingLightsTheLampAndIsLoggedOnlyOnRequest) {
  TMonitorForm& form = Start();
  EXPECT_EQ(Background(form.Lactive), kMaroon);

  Feed({0xFE});
  EXPECT_EQ(Background(form.Lactive), kRed);
  EXPECT_EQ(MemoLines(), QStringList{"No message yet."});
  EXPECT_TRUE(driver_->SentShort().empty());
  form.Timer1Timer();
  EXPECT_EQ(Background(form.Lactive), kMaroon);

  form.ShowAS1->trigger();
  Feed({0xFE});
  EXPECT_EQ(Background(form.Lactive), kRed);
  ASSERT_EQ(MemoLines().size(), 2);
  EXPECT_EQ(MemoLines()[1], Line(0xFE));
  EXPECT_TRUE(MemoLines()[1].contains("Active Sensing"));
  EXPECT_EQ(driver_->SentShort(), (std::vector<std::uint32_t>{0xFE}));
}

TEST_F(WindowTest, TheLogKeepsAtMost255WholeLinesWithTheNewestInView) {
  TMonitorForm& form = Start();
  std::vector<std::uint32_t> burst;
  QStringList expected{"No message yet."};
  auto message = [](int i) { return 0x90u | (std::uint32_t(i % 128) << 8) | (0x40u << 16); };
  for (int i = 0; i < 254; ++i) {
    burst.push_back(message(i));
    expected << Line(message(i));
  }
  Feed(burst);  // one handler call: one edit
  EXPECT_EQ(MemoLines(), expected);

  Feed({message(254)});  // the 255th log line removes the first
  expected.removeFirst();
  expected << Line(message(254));
  EXPECT_EQ(MemoLines(), expected);

  burst.clear();
  for (int i = 255; i < 600; ++i) {
    burst.push_back(message(i));
    expected << Line(message(i));
  }
  Feed(burst);
  expected = expected.mid(expected.size() - 255);
  EXPECT_EQ(MemoLines(), expected);

  // Lines that wrap still count and go as whole lines.
  for (int i = 0; i < 40; ++i) {
    std::vector<std::uint8_t> dump(300, static_cast<std::uint8_t>(i));
    dump.front() = 0xF0;
    dump.back() = 0xF7;
    FeedSysex(dump);
  }
  const QStringList lines = MemoLines();
  EXPECT_EQ(lines.size(), 255);
  EXPECT_EQ(lines.first(), expected[40]);
  EXPECT_TRUE(lines.last().contains("Sysex (300)")) << lines.last().toStdString();

  QTextCursor end(form.Memo1->document());
  end.movePosition(QTextCursor::End);
  QApplication::processEvents();
  EXPECT_TRUE(form.Memo1->viewport()->rect().contains(form.Memo1->cursorRect(end)));
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WindowTest, TheSmallViewShowsTheLastTwoLines) {
  TMonitorForm& form = Start();
  form.Small1->trigger();
  Feed({0x403C90});
  EXPECT_EQ(form.Lmess->text(), Line(0x403C90));
  EXPECT_TRUE(form.lvorig->text().isEmpty());
  Feed({0x403E90});
  EXPECT_EQ(form.lvorig->text(), Line(0x403C90));
  EXPECT_EQ(form.Lmess->text(), Line(0x403E90));
  Feed({0x7F07B0, 0x0005C0, 0x403C80});
  EXPECT_EQ(form.lvorig->text(), Line(0x0005C0));
  EXPECT_EQ(form.Lmess->text(), Line(0x403C80));
  EXPECT_EQ(MemoLines(), QStringList{"No message yet."});
  // Logging goes on in the timecode view, unseen.
  form.TimeCode1->trigger();
  Feed({0x003C80});
  EXPECT_EQ(form.Lmess->text(), Line(0x003C80));
}

TEST_F(WindowTest, ShortAndSystemExclusiveEventsGoThru) {
  Start();
  Feed({0x403C90, 0x7F07B0});
  const std::vector<std::uint8_t> identity = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  FeedSysex(identity);
  driver_->SyncAndProcess();  // the output's completion of the long message
  EXPECT_EQ(driver_->SentShort(), (std::vector<std::uint32_t>{0x403C90, 0x7F07B0}));
  EXPECT_EQ(driver_->SentLong(), (std::vector<std::vector<std::uint8_t>>{identity}));
  EXPECT_EQ(MemoLines().size(), 4);
}

TEST_F(WindowTest, ThruWithTheOutputClosedIsToldOnceInTheStatusBar) {
  driver_->Fail("midiOutOpen", kMidiErrAllocated);
  TMonitorForm& form = Start();
  ASSERT_EQ(form.lout->text(), " Closed ");

  Feed({0x403C90, 0x403E90});
  EXPECT_EQ(form.StatusText(), "MIDI Output device not open");
  EXPECT_TRUE(reports_.empty());
  // Every event is still logged; the program goes on.
  EXPECT_EQ(MemoLines().size(), 3);

  form.SetStatusText("something else");
  Feed({0x403F90});
  EXPECT_EQ(form.StatusText(), "something else");
  EXPECT_EQ(MemoLines().size(), 4);

  // Only once the output has been open in between is it told again.
  form.cmbOutput->activated(0);
  ASSERT_EQ(form.lout->text(), " Open ");
  driver_->Fail("midiOutOpen", kMidiErrAllocated);
  form.cmbOutput->activated(0);
  ASSERT_EQ(form.lout->text(), " Closed ");
  form.SetStatusText("something else");
  Feed({0x404090});
  EXPECT_EQ(form.StatusText(), "MIDI Output device not open");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WindowTest, ADriverRefusalWhileForwardingIsToldOncePerText) {
  TMonitorForm& form = Start();
  driver_->Fail("midiOutShortMsg", kMidiErrNotReady, ScriptedDriver::kAlways);
  Feed({0x403C90, 0x403E90});
  EXPECT_FALSE(form.StatusText().isEmpty());
  EXPECT_EQ(MemoLines().size(), 3);
  form.SetStatusText("x");
  Feed({0x403F90});
  EXPECT_EQ(form.StatusText(), "x");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WindowTest, ABufferThatCannotBeGivenBackWaitsForTheNextNotification) {
  TMonitorForm& form = Start();
  driver_->Fail("midiInPrepareHeader", kMidiErrNoMemory);
  FeedSysex({0xF0, 0x01, 0xF7});
  EXPECT_FALSE(form.StatusText().isEmpty());
  EXPECT_EQ(MemoLines().size(), 1);
  EXPECT_TRUE(reports_.empty());

  FeedSysex({0xF0, 0x02, 0xF7});
  const QStringList lines = MemoLines();
  ASSERT_EQ(lines.size(), 3);
  EXPECT_TRUE(lines[1].contains("F0 01 F7")) << lines[1].toStdString();
  EXPECT_TRUE(lines[2].contains("F0 02 F7")) << lines[2].toStdString();
}

TEST_F(WindowTest, NothingIsCapturedOutsideAReception) {
  Start();
  FeedSysex({0xF0, 0x01, 0xF7});
  EXPECT_EQ(MonitorState.DumpCount, 0);
  EXPECT_EQ(MonitorState.DumpBuffer[0], 0);
}

TEST_F(WindowTest, AReceptionCapturesForwardsAndDoesNotLog) {
  TRecieveForm dialog;
  RecieveForm = &dialog;
  TMonitorForm& form = Start();
  MonitorState.Receiving = 1;
  const std::vector<std::uint8_t> dump = {0xF0, 0x43, 0x00, 0x09, 0x20, 0xF7};
  FeedSysex(dump);
  Feed({0x403C90, QuarterFrame(0x05)});
  driver_->SyncAndProcess();

  EXPECT_EQ(MonitorState.DumpCount, 6);
  EXPECT_TRUE(std::equal(dump.begin(), dump.end(), MonitorState.DumpBuffer.begin()));
  EXPECT_EQ(dialog.StRecv->text(), "    06");
  EXPECT_EQ(MemoLines(), QStringList{"No message yet."});
  EXPECT_EQ(driver_->SentLong().size(), 1u);
  EXPECT_EQ(driver_->SentShort(), (std::vector<std::uint32_t>{0x403C90}));
  EXPECT_EQ(form.Ltc->text(), "00:00:00");
  RecieveForm = nullptr;
}

TEST_F(WindowTest, ADumpBeyondTheBufferIsToldOncePerReception) {
  TRecieveForm dialog;
  RecieveForm = &dialog;
  TMonitorForm& form = Start();
  MonitorState.Receiving = 1;
  MonitorState.DumpCount = kDumpBufferLast - 1;  // room for two more bytes
  FeedSysex({0xF0, 0x01, 0x02, 0xF7});
  EXPECT_EQ(MonitorState.DumpCount, kDumpBufferSize);
  EXPECT_EQ(MonitorState.DumpBuffer[kDumpBufferLast], 0x01);
  EXPECT_EQ(dialog.StRecv->text(), "500001");
  EXPECT_EQ(form.StatusText(), kDumpFullText);

  form.SetStatusText("x");
  FeedSysex({0xF0, 0x03, 0xF7});
  EXPECT_EQ(form.StatusText(), "x");
  EXPECT_EQ(MonitorState.DumpCount, kDumpBufferSize);
  // Thru goes on all the same.
  driver_->SyncAndProcess();
  EXPECT_EQ(driver_->SentLong().size(), 2u);

  // The next reception starts from 0 and may overflow (and be told) again.
  MonitorState.DumpCount = 0;
  FeedSysex({0xF0, 0xF7});
  MonitorState.DumpCount = kDumpBufferLast;
  FeedSysex({0xF0, 0x04, 0xF7});
  EXPECT_EQ(form.StatusText(), kDumpFullText);
  EXPECT_TRUE(reports_.empty());
  RecieveForm = nullptr;
}

TEST_F(WindowTest, NotificationsArriveThroughTheEventLoop) {
  TMonitorForm& form = Start();
  TMessagePump pump;
  driver_->FeedShort(0x403C90, 1);
  driver_->FeedShort(QuarterFrame(0x23), 2);
  driver_->FeedShort(0x403E90, 3);
  driver_->Sync();
  for (int i = 0; i < 200 && MemoLines().size() < 3; ++i)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(MemoLines().size(), 3);
  EXPECT_EQ(form.Ltc->text(), "00:00:03");

  // The lamp timer's tick lets waiting notifications run before it puts the lamp out.
  driver_->FeedShort(0xFE, 4);
  driver_->Sync();
  form.Timer1Timer();
  EXPECT_EQ(Background(form.Lactive), kMaroon);
  EXPECT_EQ(MessageQueue::Instance().Pending(), 0u);
}

// One input and one output; whatever goes out comes straight back in, on the
// sending thread, until `returns` messages have come back: input that never
// lets the ring run empty.
class FeedbackDriver final : public MidiDriver {
 public:
  explicit FeedbackDriver(std::uint64_t returns) : returns_(returns) {}
  void Emit(std::uint32_t packed) { callback_(kIn, MIM_DATA, instance_, packed, 0); }
  std::uint64_t Sent() const { return sent_; }

  std::uint32_t midiInGetNumDevs() override { return 1; }
  MidiResult midiInGetDevCaps(std::uint32_t, MIDIINCAPS* caps, std::uint32_t) override {
    *caps = MIDIINCAPS{};
    std::strcpy(caps->szPname, "Feedback In");
    return kMidiOk;
  }
  MidiResult midiInOpen(MidiHandle* handle, std::uint32_t, MidiCallback callback,
                        std::uintptr_t instance, std::uint32_t) override {
    callback_ = callback;
    instance_ = instance;
    *handle = kIn;
    return kMidiOk;
  }
  MidiResult midiInPrepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override { return kMidiOk; }
  MidiResult midiInAddBuffer(MidiHandle, MIDIHDR*, std::uint32_t) override { return kMidiOk; }
  MidiResult midiInStart(MidiHandle) override { return kMidiOk; }
  MidiResult midiInReset(MidiHandle) override { return kMidiOk; }
  MidiResult midiInUnprepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override { return kMidiOk; }
  MidiResult midiInClose(MidiHandle) override { return kMidiOk; }
  std::uint32_t midiOutGetNumDevs() override { return 1; }
  MidiResult midiOutGetDevCaps(std::uint32_t, MIDIOUTCAPS* caps, std::uint32_t) override {
    *caps = MIDIOUTCAPS{};
    std::strcpy(caps->szPname, "Feedback Out");
    return kMidiOk;
  }
  MidiResult midiOutOpen(MidiHandle* handle, std::uint32_t, MidiCallback, std::uintptr_t,
                         std::uint32_t) override {
    *handle = kOut;
    return kMidiOk;
  }
  MidiResult midiOutClose(MidiHandle) override { return kMidiOk; }
  MidiResult midiOutShortMsg(MidiHandle, std::uint32_t packed) override {
    // A slow device: the flood lasts several of the pump's turns on any machine.
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(2);
    while (std::chrono::steady_clock::now() < until) {
    }
    ++sent_;
    if (returns_ > 0) {
      --returns_;
      Emit(packed);
    }
    return kMidiOk;
  }
  MidiResult midiOutPrepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override { return kMidiOk; }
  MidiResult midiOutLongMsg(MidiHandle, MIDIHDR*, std::uint32_t) override { return kMidiOk; }
  MidiResult midiOutUnprepareHeader(MidiHandle, MIDIHDR*, std::uint32_t) override {
    return kMidiOk;
  }

 private:
  static constexpr MidiHandle kIn = 0xA0;
  static constexpr MidiHandle kOut = 0xB0;
  MidiCallback callback_ = nullptr;
  std::uintptr_t instance_ = 0;
  std::uint64_t returns_;
  std::uint64_t sent_ = 0;
};

// Input that comes faster than the window takes it must not shut out the
// event loop: painting, timers and the user get their turns while it lasts,
// and nothing is left behind when it stops.
TEST_F(WindowTest, AFloodOfInputLeavesTheEventLoopItsTurns) {
  constexpr std::uint64_t kReturns = 100000;
  FeedbackDriver feedback(kReturns);
  TMessagePump pump;
  TMonitorForm form(feedback);
  form.show();
  QApplication::processEvents();
  ASSERT_EQ(form.lopen->text(), " Open ");
  ASSERT_EQ(form.lout->text(), " Open ");

  QEventLoop loop;
  QTimer tick;
  bool sawPartTaken = false;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (feedback.Sent() > 0 && feedback.Sent() <= kReturns) sawPartTaken = true;
    if (feedback.Sent() > kReturns) loop.quit();
  });
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);  // a last resort only
  tick.start(1);
  feedback.Emit(0x403C90);
  loop.exec();

  EXPECT_TRUE(sawPartTaken);
  EXPECT_EQ(feedback.Sent(), kReturns + 1);
  EXPECT_EQ(form.MemoLineCount(), 255);
  form.Close1->trigger();
  MessageQueue::Instance().ProcessMessages();
}

}  // namespace
}  // namespace korvane
