// The main window: start-up with and without settings, the port lists and
// lamps, Midi > Open and Close, the views, and what closing writes.
#include <QAction>
#include <QDir>
#include <QTimer>
#include <sstream>

#include "window_fixture.h"

namespace korvane {
namespace {

TEST_F(WindowTest, FirstStartWithoutSettingsOpensTheFirstPortsInTheNormalView) {
  TMonitorForm& form = Start();

  EXPECT_EQ(form.pos(), QPoint(0, 0));
  EXPECT_EQ(form.cmbInput->count(), 2);
  EXPECT_EQ(form.cmbInput->currentText(), "In A");
  EXPECT_EQ(form.cmbOutput->currentText(), "Out A");
  EXPECT_TRUE(driver_->InputStarted(0));
  EXPECT_TRUE(driver_->OutputOpen(0));
  EXPECT_EQ(form.lopen->text(), " Open ");
  EXPECT_EQ(Background(form.lopen), kLime);
  EXPECT_EQ(form.lout->text(), " Open ");
  EXPECT_EQ(Background(form.lout), kLime);
  EXPECT_EQ(MonitorState.InClosed, 0);
  EXPECT_EQ(MonitorState.OutClosed, 0);
  EXPECT_EQ(MonitorState.ShowFrames, 0);
  EXPECT_EQ(MonitorState.TcView, 0);
  EXPECT_EQ(MonitorState.ThruEnabled, 1);
  EXPECT_EQ(form.Ltc->text(), "00:00:00:00");
  EXPECT_EQ(MemoLines(), QStringList{"No message yet."});
  EXPECT_EQ(form.MaxLinesLimit(), 255);
  EXPECT_TRUE(form.Lmess->text().isEmpty());
  EXPECT_EQ(form.centralWidget()->size(), QSize(713, 217 - 19));
  EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WindowTest, StoredSettingsPlaceTheWindowAndChooseThePorts) {
  WriteSettings(
      "[MidiSet]\nMidi_In1=1\nMidi_In2=7\nMidi_Out=1\nLeft=30\nTop=40\nFrames=1\nTCstate=1\n");
  TMonitorForm& form = Start();

  EXPECT_EQ(form.pos(), QPoint(30, 40));
  EXPECT_EQ(OuterSize(), QSize(200, 100));
  EXPECT_EQ(MonitorState.TcView, 1);
  EXPECT_EQ(form.cmbInput->currentText(), "In B");
  EXPECT_TRUE(driver_->InputStarted(1));
  EXPECT_FALSE(driver_->InputOpen(0));
  EXPECT_TRUE(driver_->OutputOpen(1));
  // Frames come from the settings, but the button starts up: its first
  // click puts it down and leaves them on, the second turns them off.
  EXPECT_EQ(MonitorState.ShowFrames, 1);
  EXPECT_FALSE(form.SBframes->isChecked());
  form.SBframes->click();
  EXPECT_EQ(MonitorState.ShowFrames, 1);
  form.SBframes->click();
  EXPECT_EQ(MonitorState.ShowFrames, 0);

  form.TimeCode1->trigger();
  EXPECT_EQ(OuterSize(), QSize(688, 167));
  EXPECT_EQ(MonitorState.SmallView, 1);
}

TEST_F(WindowTest, AnIndexBeyondTheListLeavesThatPortClosed) {
  WriteSettings("[MidiSet]\nMidi_In1=5\nMidi_Out=-1\n");
  TMonitorForm& form = Start();

  EXPECT_EQ(form.cmbInput->currentIndex(), -1);
  EXPECT_EQ(form.cmbOutput->currentIndex(), -1);
  EXPECT_FALSE(driver_->InputOpen(0));
  EXPECT_FALSE(driver_->OutputOpen(0));
  EXPECT_EQ(form.lopen->text(), " Closed ");
  EXPECT_EQ(Background(form.lopen), kRed);
  EXPECT_EQ(form.lout->text(), " Closed ");
  EXPECT_EQ(MonitorState.InClosed, 1);
  EXPECT_EQ(MonitorState.OutClosed, 1);
  // The start-up wipes the port messages; only the red lamps tell.
  EXPECT_TRUE(form.Lmess->text().isEmpty());
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WindowTest, WithoutAnyDeviceTheWindowStillStarts) {
  driver_ = std::make_unique<ScriptedDriver>(std::vector<std::string>{},
                                             std::vector<std::string>{"Out A"});
  TMonitorForm& form = Start();
  EXPECT_EQ(form.cmbInput->count(), 0);
  EXPECT_EQ(form.lopen->text(), " Closed ");
  EXPECT_EQ(form.lout->text(), " Open ");

  form.Open1->trigger();
  EXPECT_EQ(form.Lmess->text(), "In Device is al in gebruik !!");
  EXPECT_EQ(form.lopen->text(), " Closed ");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WindowTest, WithoutAnOutputDeviceTheInputStillOpens) {
  driver_ = std::make_unique<ScriptedDriver>(std::vector<std::string>{"In A"},
                                             std::vector<std::string>{});
  TMonitorForm& form = Start();
  EXPECT_EQ(form.cmbOutput->count(), 0);
  EXPECT_EQ(form.lout->text(), " Closed ");
  EXPECT_EQ(form.lopen->text(), " Open ");
  EXPECT_TRUE(driver_->InputStarted(0));
}

TEST_F(WindowTest, ADeviceInUseShowsItsMessageAndARedLamp) {
  TMonitorForm& form = Start();
  form.Close1->trigger();
  EXPECT_FALSE(driver_->InputOpen(0));
  EXPECT_FALSE(driver_->OutputOpen(0));
  EXPECT_EQ(form.lopen->text(), " Closed ");
  EXPECT_EQ(form.lout->text(), " Closed ");

  driver_->Fail("midiInOpen", kMidiErrAllocated);
  form.Open1->trigger();
  EXPECT_EQ(form.Lmess->text(), "In Device is al in gebruik !!");
  EXPECT_EQ(form.lopen->text(), " Closed ");
  EXPECT_EQ(MonitorState.InClosed, 1);
  EXPECT_EQ(form.lout->text(), " Open ");  // the output on its own

  driver_->Fail("midiOutOpen", kMidiErrAllocated);
  form.cmbInput->activated(0);
  EXPECT_EQ(form.Lmess->text(), "Out Device is al in gebruik !!");
  EXPECT_EQ(form.lout->text(), " Closed ");
  EXPECT_EQ(Background(form.lout), kRed);
  EXPECT_EQ(form.lopen->text(), " Open ");
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WindowTest, AStartFailureAfterOpenGivesTheInputBack) {
  TMonitorForm& form = Start();
  form.Close1->trigger();
  driver_->Fail("midiInStart", kMidiErrNotReady);
  form.Open1->trigger();
  EXPECT_EQ(form.lopen->text(), " Closed ");
  EXPECT_FALSE(driver_->InputOpen(0));
  // So the next attempt can choose and open it again.
  form.Open1->trigger();
  EXPECT_EQ(form.lopen->text(), " Open ");
  EXPECT_TRUE(driver_->InputStarted(0));
}

TEST_F(WindowTest, OpenWithTheInputOpenDoesNothing) {
  driver_->Fail("midiOutOpen", kMidiErrAllocated);
  TMonitorForm& form = Start();
  ASSERT_EQ(form.lout->text(), " Closed ");
  driver_->ClearCalls();
  form.Open1->trigger();
  EXPECT_TRUE(driver_->DeviceCallTexts().empty());
  EXPECT_EQ(form.lout->text(), " Closed ");
}

TEST_F(WindowTest, ANewOutputChoiceMovesTheOutputWhileTheInputIsClosed) {
  driver_->Fail("midiInOpen", kMidiErrAllocated);
  TMonitorForm& form = Start();
  ASSERT_EQ(form.lopen->text(), " Closed ");
  ASSERT_TRUE(driver_->OutputOpen(0));

  form.cmbOutput->setCurrentIndex(1);
  form.cmbOutput->activated(1);
  EXPECT_FALSE(driver_->OutputOpen(0));
  EXPECT_TRUE(driver_->OutputOpen(1));
  EXPECT_EQ(form.lout->text(), " Open ");
  EXPECT_EQ(MonitorState.OutPortIndex, 1);
  // The input was tried again too, and opens now.
  EXPECT_EQ(form.lopen->text(), " Open ");
  EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(WindowTest, AFailingCloseIsReportedAndTheLampsFollowThePorts) {
  TMonitorForm& form = Start();
  driver_->Fail("midiOutClose", kMidiErrNotReady);
  form.Close1->trigger();
  ASSERT_EQ(reports_.size(), 1u);
  // The input closed; the output that refused stays open, and says so.
  EXPECT_EQ(form.lopen->text(), " Closed ");
  EXPECT_EQ(form.lout->text(), " Open ");
  EXPECT_TRUE(driver_->OutputOpen(0));
  form.Close1->trigger();
  EXPECT_EQ(form.lout->text(), " Closed ");
  EXPECT_FALSE(driver_->OutputOpen(0));
}

struct ViewCase {
  const char* name;
  std::vector<const char*> commands;  // "Small", "TimeCode", "Small View"
  std::uint8_t smallView;
  std::uint8_t tcView;
  QSize size;
};

TEST_F(WindowTest, ViewCommandsFollowTheViewTable) {
  const ViewCase cases[] = {
      {"small", {"Small"}, 1, 0, {688, 167}},
      {"small and back", {"Small", "Small"}, 0, 0, {688, 310}},
      {"pop-up small view", {"Small View"}, 1, 0, {688, 167}},
      {"timecode", {"TimeCode"}, 0, 1, {200, 100}},
      {"timecode and back to small", {"TimeCode", "TimeCode"}, 1, 0, {688, 167}},
      {"small, timecode", {"Small", "TimeCode"}, 1, 1, {200, 100}},
      {"small, timecode and back to normal", {"Small", "TimeCode", "TimeCode"}, 0, 0, {688, 310}},
      {"timecode, small", {"TimeCode", "Small"}, 1, 0, {688, 167}},
  };
  for (const ViewCase& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    TMonitorForm& form = Start();
    form.Lmess->setText("last");
    for (const char* command : c.commands) {
      QAction* action = std::string(command) == "Small"      ? form.Small1
                        : std::string(command) == "TimeCode" ? form.TimeCode1
                                                             : form.SmallView1;
      action->trigger();
    }
    EXPECT_EQ(MonitorState.SmallView, c.smallView);
    EXPECT_EQ(MonitorState.TcView, c.tcView);
    EXPECT_EQ(OuterSize(), c.size);
    // Leaving the small view blanks both labels; entering it keeps them.
    if (c.size == QSize(688, 310)) {
      EXPECT_EQ(form.Lmess->text(), " ");
      EXPECT_EQ(form.lvorig->text(), " ");
    } else {
      EXPECT_EQ(form.Lmess->text(), "last");
    }
  }
}

TEST_F(WindowTest, ClearEmptiesTheLogForGoodAndKeepsTheLimit) {
  TMonitorForm& form = Start();
  form.Clear1->trigger();
  EXPECT_TRUE(MemoLines().isEmpty());
  form.resize(600, 300);
  QApplication::processEvents();
  EXPECT_TRUE(MemoLines().isEmpty());
  EXPECT_EQ(form.MaxLinesLimit(), 255);
  Feed({0x403C90});
  EXPECT_EQ(MemoLines(), QStringList{Line(0x403C90)});
}

TEST_F(WindowTest, ViewTimerAndShowAsFlipTheirState) {
  TMonitorForm& form = Start();
  ASSERT_TRUE(form.SpTimer->isVisible());
  form.ViewTimer1->trigger();
  EXPECT_FALSE(form.SpTimer->isVisible());
  EXPECT_TRUE(form.UpDown1->isVisible());
  form.ViewTimer1->trigger();
  EXPECT_TRUE(form.SpTimer->isVisible());

  EXPECT_FALSE(form.ShowAS1->isChecked());
  form.ShowAS1->trigger();
  EXPECT_EQ(MonitorState.ShowActiveSensing, 1);
  EXPECT_TRUE(form.ShowAS1->isChecked());
  form.ShowAS1->trigger();
  EXPECT_EQ(MonitorState.ShowActiveSensing, 0);
  EXPECT_FALSE(form.ShowAS1->isChecked());
}

std::vector<std::string> Keys(const std::string& text) {
  std::vector<std::string> keys;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (auto eq = line.find('='); eq != std::string::npos) keys.push_back(line.substr(0, eq));
  return keys;
}

TEST_F(WindowTest, ClosingWritesTheSevenKeysAndClosesThePorts) {
  WriteSettings("[MidiSet]\nMidi_In2=-9\n");
  TMonitorForm& form = Start();
  form.move(12, 34);
  form.TimeCode1->trigger();
  form.close();

  EXPECT_FALSE(driver_->InputOpen(0));
  EXPECT_FALSE(driver_->OutputOpen(0));
  const std::string text = SettingsText();
  EXPECT_EQ(Keys(text), (std::vector<std::string>{"Midi_In2", "Midi_In1", "Midi_Out", "Left", "Top",
                                                  "TCstate", "Frames"}));
  EXPECT_NE(text.find("Midi_In2=-9"), std::string::npos);
  EXPECT_NE(text.find("Left=12"), std::string::npos);
  EXPECT_NE(text.find("Top=34"), std::string::npos);
  EXPECT_NE(text.find("TCstate=1"), std::string::npos);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(WindowTest, ExitClosesThePortsAndTheWindow) {
  TMonitorForm& form = Start();
  form.Exit1->trigger();
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(driver_->InputOpen(0));
  EXPECT_FALSE(driver_->OutputOpen(0));
  EXPECT_EQ(Keys(SettingsText()).size(), 7u);
}

TEST_F(WindowTest, ARefusedSettingsWriteIsReportedAndTheWindowStillCloses) {
  TMonitorForm& form = Start();
  // A folder where the file should be: no write can replace it, root or not.
  ASSERT_TRUE(QDir(folder_.path()).mkdir(QStringLiteral("Korvane.ini")));
  form.close();

  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].rfind("Unable to write to ", 0), 0u) << reports_[0];
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(driver_->InputOpen(0));
  EXPECT_FALSE(driver_->OutputOpen(0));
}

TEST_F(WindowTest, TheTimerIntervalFollowsTheSpinControl) {
  TMonitorForm& form = Start();
  // As made the three are not in step.
  EXPECT_EQ(form.Timer1->interval(), 196);
  EXPECT_EQ(form.SpTimer->Value(), 127);
  EXPECT_EQ(form.UpDown1->Position(), 6);

  form.SpTimer->SetValue(6000);
  EXPECT_EQ(form.Timer1->interval(), 6000);
  EXPECT_EQ(form.UpDown1->Position(), 6000);
  form.SpTimer->SetValue(7000);
  EXPECT_EQ(form.Timer1->interval(), 6000);
}

TEST_F(WindowTest, TheFirstUpArrowClickGivesSixThenSeven) {
  TMonitorForm& form = Start();
  std::vector<int> intervals;
  auto change = form.SpTimer->OnChange;
  form.SpTimer->OnChange = [&](TSpincw0R& sender) {
    change(sender);
    intervals.push_back(form.Timer1->interval());
  };
  // A click on the upper half of the control: the up arrow.
  const QPointF at(5, 3);
  QMouseEvent press(QEvent::MouseButtonPress, at, form.UpDown1->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, form.UpDown1->mapToGlobal(at), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(form.UpDown1, &press);
  QApplication::sendEvent(form.UpDown1, &release);
  EXPECT_EQ(intervals, (std::vector<int>{6, 7}));
  EXPECT_EQ(form.UpDown1->Position(), 7);

  intervals.clear();
  form.UpDown1->Click(TUDBtnType::btPrev);
  EXPECT_EQ(intervals, (std::vector<int>{7, 6}));
  EXPECT_EQ(form.UpDown1->Position(), 6);
}

}  // namespace
}  // namespace korvane

namespace korvane {
namespace {

TEST_F(WindowTest, FileDialogsCanBeAnsweredWithoutAPerson) {
  TMonitorForm& form = Start();
  std::vector<std::string> titles;
  FileDialogHook previous = SetFileDialogHook([&](TFileDialog& dialog) {
    titles.push_back(dialog.Title);
    dialog.FileName = "/tmp/dump";
    return dialog.Kind == TFileDialogKind::Save;
  });
  form.OpenDialog1->FileName = "old";
  EXPECT_FALSE(form.OpenDialog1->Execute(&form));
  EXPECT_TRUE(form.SaveDialog1->Execute(&form));
  EXPECT_EQ(form.SaveDialog1->FileName, "/tmp/dump");
  EXPECT_EQ(titles, (std::vector<std::string>{"Save Sysex File", ""}));
  EXPECT_EQ(form.OpenDialog1->Filter, "Sysex Files|*.syx|All Files|*.*");
  EXPECT_EQ(QtFilterText(form.OpenDialog1->Filter), "Sysex Files (*.syx);;All Files (*.*)");
  SetFileDialogHook(std::move(previous));
}

}  // namespace
}  // namespace korvane
