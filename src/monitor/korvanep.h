// The monitor's main window: the timecode display, the Active Sensing lamp,
// the two port lists with their lamps, the log, the status bar and the menus,
// and the handling of every message that arrives at the input port.
// UI thread only.
#pragma once

// The port headers name a parameter `slots`, which Qt's keyword macro of that
// name would swallow when a Qt header came first.
#pragma push_macro("slots")
#undef slots
#include "midi/midiin.h"
#include "midi/midiout.h"
#pragma pop_macro("slots")

#include <QColor>
#include <QMainWindow>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "midi/miditype.h"
#include "monitor/filedialog.h"
#include "monitor/updown.h"
#include "platform/mididriver.h"

class QComboBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QStatusBar;
class QTimer;
class QToolButton;
class QAction;

namespace korvane {

class TSpincw0R;

// Shown in the status bar, once per reception, when a dump outgrows the buffer.
inline constexpr const char* kDumpFullText =
    "Dump buffer full: the first 500001 bytes are kept, the rest is not captured";

class TMonitorForm : public QMainWindow {
  Q_OBJECT

 public:
  // The ports use `driver`; FormCreate runs before the constructor returns.
  explicit TMonitorForm(MidiDriver& driver = DefaultMidiDriver(), QWidget* parent = nullptr);
  ~TMonitorForm() override;

  // Components. Qt owns the widgets (children of the window); the window owns
  // the ports and the dialogs. MidiInput1 is null when there was no input
  // device to make it with.
  QWidget* pnlColumnHeading;
  QLabel* Label1;
  QPlainTextEdit* Memo1;
  QLabel* Lmess;
  QLabel* lvorig;
  QLabel* Ltc;
  QTimer* Timer1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* lopen;
  QLabel* lout;
  QComboBox* cmbInput;
  QComboBox* cmbOutput;
  QToolButton* SBframes;
  QMenu* PopupMenu1;
  QAction* PExit1;
  QAction* SmallView1;
  std::unique_ptr<TFileDialog> OpenDialog1;
  std::unique_ptr<TFileDialog> SaveDialog1;
  QLabel* Lwritten;
  QStatusBar* StatusBar;
  std::unique_ptr<TMidiInput> MidiInput1;
  std::unique_ptr<TMidiOutput> MidiOutput1;
  QLabel* Lactive;
  QLabel* Label4;
  QMenuBar* MainMenu1;
  QMenu* File1;
  QMenu* View1;
  QMenu* Midi1;
  QAction* Recv1;
  QAction* Exit1;
  QAction* Small1;
  QAction* TimeCode1;
  QAction* Open1;
  QAction* Close1;
  QAction* N1;
  QAction* Clear1;
  QAction* N2;
  QAction* HideMenu1;
  QAction* ShowMenu1;
  QAction* N3;
  QAction* SaveSYX1;
  QAction* ViewTimer1;
  QAction* ShowAS1;
  TUpDown* UpDown1;
  TSpincw0R* SpTimer;
  QAction* OpenSYX1;

  // Start-up, ports and views.
  void FormCreate();
  void OpenDevs();
  void CloseDevs();
  void cmbInputChange();
  void BOpenClick();
  void BCloseClick();
  void BexitClick();
  void SpClearClick();
  void BsmallClick();
  void BtcviewClick();
  void ViewTimer1Click();
  void ShowAS1Click();
  void SBframesClick();
  void FormResize();
  void FormClose();

  // Live input.
  void MIDIInput1MidiInput(TMidiInput& sender);
  void LogMessage(const TMyMidiEvent& event);
  void Timer1Timer();
  void SptimerChange();
  void UpDown1Changing(bool& allowChange);
  void UpDown1Click(TUDBtnType button);

  // The dump commands.
  void BSaveSYXClick();
  void OpenSYX1Click();
  void BRcSYXClick();

  // The status bar's single text.
  QString StatusText() const;
  void SetStatusText(const QString& text);

  // The most lines the log keeps: 0 until the window is first sized, then 255.
  std::int32_t MaxLinesLimit() const noexcept { return MaxLines; }
  // Lines in the log memo; an emptied memo holds none.
  int MemoLineCount() const;

  // Window size and position as the user sees them: frame, caption and menu
  // included.
  void SetOuterHeight(int height);
  void SetOuterWidth(int width);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Asks for a file name and writes DumpCount bytes of the dump buffer.
  void SaveSYXFile();
  void MakeComponents();
  void MakeMenus();
  void LayOutClient();
  void SetLamp(QLabel* lamp, bool open);
  void SetActiveLamp(bool lit);
  void HourglassCursor();
  void NormalCursor();
  void HandleWaitingEvents(TMidiInput& sender);
  void QuarterFrame(const TMyMidiEvent& event);
  void Capture(const TMyMidiEvent& event);
  // Errors inside the input handler: once per text in the status bar.
  void ReportInputError(const std::string& text);
  // The lines logged during one handler call go in as one edit.
  void FlushLog();
  void AppendToMemo(const QStringList& lines);

  std::int32_t MaxLines = 0;

  int handlerDepth_ = 0;  // > 0 while MIDIInput1MidiInput runs
  QStringList memoPending_;
  QStringList smallPending_;  // the last two at most
  int smallPendingCount_ = 0;
  std::set<std::string> reportedInputErrors_;
  bool dumpFullReported_ = false;
  bool activeLampLit_ = false;
  QSize pendingOuter_;  // an outer size asked for before the frame was known
};

// The main window, once the program has made it.
extern TMonitorForm* MonitorForm;

}  // namespace korvane
