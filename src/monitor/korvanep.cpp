#include "monitor/korvanep.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <vector>

#include "controls/colors.h"
#include "controls/spincw0r.h"
#include "midi/mididefs.h"
#include "monitor/errorreport.h"
#include "monitor/inifile.h"
#include "monitor/messagepump.h"
#include "monitor/monitorstate.h"
#include "monitor/monprocs.h"
#include "monitor/recievef.h"
#include "monitor/syxfile.h"
#include "monitor/winfuncties.h"

namespace korvane {

TMonitorForm* MonitorForm = nullptr;

namespace {

constexpr int kPanelHeight = 80;
constexpr int kStatusBarHeight = 19;
constexpr int kClientWidth = 713;
constexpr int kClientHeight = 217;
constexpr std::int32_t kLogLineCap = 255;

const QColor kLampRed(255, 0, 0);
const QColor kLampLime(0, 255, 0);
const QColor kActiveLit(255, 0, 0);
const QColor kActiveOut(128, 0, 0);

const char* const kInBusyText = "In Device is al in gebruik !!";
const char* const kOutBusyText = "Out Device is al in gebruik !!";

// Terminal and Courier New of the original layout: a fixed-pitch font.
QFont FixedFont(int pixelSize, bool bold = false) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

// MS Sans Serif of the original layout: a proportional font of the platform.
// Liberation Sans where it is installed, as its widths come closest to the
// original's and the labels keep their places; else the general font.
QFont ProportionalFont(int pixelSize) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  if (QFontDatabase::hasFamily(QStringLiteral("Liberation Sans")))
    font.setFamily(QStringLiteral("Liberation Sans"));
  font.setPixelSize(pixelSize);
  return font;
}

// A label that takes the size of its text, from its top-left corner.
void AutoSize(QLabel* label) {
  label->resize(label->sizeHint());
}

void SetColors(QWidget* widget, const QColor* background, const QColor* text) {
  QPalette palette = widget->palette();
  if (background != nullptr) {
    palette.setColor(QPalette::Window, *background);
    palette.setColor(QPalette::Base, *background);
    widget->setAutoFillBackground(true);
  }
  if (text != nullptr) {
    palette.setColor(QPalette::WindowText, *text);
    palette.setColor(QPalette::Text, *text);
  }
  widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const char* text, int left, int top, int width, int height) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setGeometry(left, top, width, height);
  return label;
}

QString TwoDigits(const char* format, int a, int b, int c, int d = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b, c, d);
  return QString::fromLatin1(text);
}

}  // namespace

TMonitorForm::TMonitorForm(MidiDriver& driver, QWidget* parent) : QMainWindow(parent) {
  MonitorForm = this;
  MakeComponents();
  MakeMenus();
  // The client area as made (status bar included); the menu comes on top.
  resize(kClientWidth, kClientHeight + MainMenu1->sizeHint().height());

  // The ports. Without any input device the input port cannot be made; the
  // window then works without it, its list empty and its lamp red.
  try {
    MidiInput1 = std::make_unique<TMidiInput>(driver);
  } catch (const std::exception&) {
    MidiInput1.reset();
  }
  if (MidiInput1) {
    // Stored with the form; applied while loading, so it selects nothing.
    MidiInput1->SetLoading(true);
    MidiInput1->SetProductName("SB Live! MIDI In [E400]");
    MidiInput1->SetLoading(false);
    MidiInput1->SetSysexBufferSize(4096);
    MidiInput1->OnMidiInput = [this](TMidiInput& sender) { MIDIInput1MidiInput(sender); };
  }
  MidiOutput1 = std::make_unique<TMidiOutput>(driver);

  RunGuarded([this] { FormCreate(); });
}

TMonitorForm::~TMonitorForm() {
  // The ports go first: their notifications must not reach a window that is
  // half torn down.
  MidiInput1.reset();
  MidiOutput1.reset();
  if (MonitorForm == this) MonitorForm = nullptr;
}

void TMonitorForm::MakeComponents() {
  setWindowTitle(QStringLiteral(
      "  Midi SMPTE / Data / Sysex Monitor    (use ctrl-c or ctrl-v to copy or paste)."));
  setFont(ProportionalFont(11));
  QPalette windowPalette = palette();
  windowPalette.setColor(QPalette::WindowText, Qt::black);
  setPalette(windowPalette);

  auto* client = new QWidget(this);
  setCentralWidget(client);

  pnlColumnHeading = new QWidget(client);
  pnlColumnHeading->setGeometry(0, 0, kClientWidth, kPanelHeight);
  QWidget* panel = pnlColumnHeading;

  Ltc = MakeLabel(panel, "00:00:00:00", 3, 3, 186, 28);
  Ltc->setAlignment(Qt::AlignCenter);
  Ltc->setFont(FixedFont(27, true));
  {
    const QColor black(0, 0, 0), aqua(0, 255, 255);
    SetColors(Ltc, &black, &aqua);
  }
  Ltc->setContextMenuPolicy(Qt::CustomContextMenu);

  Label4 = MakeLabel(panel, "Active sensing", 211, 6, 69, 13);
  AutoSize(Label4);
  Lactive = MakeLabel(panel, "", 288, 10, 21, 8);
  SetColors(Lactive, &kActiveOut, nullptr);

  SpTimer = new TSpincw0R(panel);
  SpTimer->setGeometry(287, 21, 48, 22);
  SpTimer->SetBKColor(clBtnFace);
  SpTimer->SetLedOffCol(RgbColor(128, 128, 128));
  // Applied before OnChange is bound, as a stored form does: the maximum is
  // still 127 when 1000 arrives, and nothing reaches the timer yet.
  SpTimer->SetValue(1000);
  SpTimer->SetMaxValue(6000);
  SpTimer->SetMinValue(1);
  SpTimer->OnChange = [this](TSpincw0R&) { SptimerChange(); };

  UpDown1 = new TUpDown(panel);
  UpDown1->setGeometry(333, 21, 10, 21);
  UpDown1->SetRange(1, 6000);
  UpDown1->SetPosition(6);
  UpDown1->SetWrap(false);
  UpDown1->OnChanging = [this](TUpDown&, bool& allow) { UpDown1Changing(allow); };
  UpDown1->OnClick = [this](TUpDown&, TUDBtnType button) { UpDown1Click(button); };

  SBframes = new QToolButton(panel);
  SBframes->setGeometry(154, 30, 29, 8);
  SBframes->setText(QStringLiteral("- - -"));
  SBframes->setCheckable(true);
  SBframes->setAutoRaise(true);
  SBframes->setFocusPolicy(Qt::NoFocus);

  lvorig = MakeLabel(panel, "", 6, 34, 324, 15);
  Lmess = MakeLabel(panel, "", 6, 49, 324, 15);
  for (QLabel* label : {lvorig, Lmess}) {
    label->setFont(FixedFont(12));
    label->setTextFormat(Qt::PlainText);
  }

  Label1 = MakeLabel(panel, "Timestmp  Mess      Dt1  Dt2     Description", 5, 67, 352, 12);
  Label1->setFont(FixedFont(12));
  AutoSize(Label1);

  cmbInput = new QComboBox(panel);
  cmbInput->setGeometry(400, 3, 136, 21);
  cmbInput->setMaxVisibleItems(12);
  Label2 = MakeLabel(panel, "Select In-port:", 401, 25, 66, 13);
  AutoSize(Label2);
  lopen = MakeLabel(panel, " Closed ", 475, 26, 38, 13);

  cmbOutput = new QComboBox(panel);
  cmbOutput->setGeometry(541, 3, 136, 21);
  cmbOutput->setMaxVisibleItems(12);
  Label3 = MakeLabel(panel, "Select Out-port:", 540, 26, 74, 13);
  AutoSize(Label3);
  lout = MakeLabel(panel, " Closed ", 619, 26, 38, 13);
  SetLamp(lopen, false);
  SetLamp(lout, false);

  // Right-aligned on its right edge (467); wider to the left than the
  // original 67 so that the text and a six-digit count are never cut off.
  Lwritten = MakeLabel(panel, "Bytes written: ", 360, 66, 107, 13);
  Lwritten->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  setTabOrder(cmbInput, cmbOutput);
  setTabOrder(cmbOutput, UpDown1);
  setTabOrder(UpDown1, SpTimer);

  Memo1 = new QPlainTextEdit(client);
  Memo1->setFont(FixedFont(12));
  {
    const QColor background(10, 70, 4), lime(0, 255, 0);
    SetColors(Memo1, &background, &lime);
  }
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  Memo1->setPlainText(QStringLiteral("No message yet."));

  StatusBar = new QStatusBar(this);
  StatusBar->setFixedHeight(kStatusBarHeight);
  setStatusBar(StatusBar);
  auto* statusText = new QLabel(StatusBar);
  statusText->setObjectName(QStringLiteral("StatusText"));
  statusText->setTextFormat(Qt::PlainText);
  StatusBar->addWidget(statusText, 1);

  Timer1 = new QTimer(this);
  Timer1->setInterval(196);
  connect(Timer1, &QTimer::timeout, this, [this] { RunGuarded([this] { Timer1Timer(); }); });
  Timer1->start();

  OpenDialog1 = std::make_unique<TFileDialog>(TFileDialogKind::Open);
  OpenDialog1->Title = "Save Sysex File";
  OpenDialog1->Filter = "Sysex Files|*.syx|All Files|*.*";
  OpenDialog1->DefaultExt = "*.syx";
  OpenDialog1->OverwritePrompt = true;
  OpenDialog1->HideReadOnly = true;
  OpenDialog1->CreatePrompt = true;
  SaveDialog1 = std::make_unique<TFileDialog>(TFileDialogKind::Save);
  SaveDialog1->HideReadOnly = true;

  // Only a choice by the user counts as a change, not one made by the program.
  connect(cmbInput, &QComboBox::activated, this,
          [this] { RunGuarded([this] { cmbInputChange(); }); });
  connect(cmbOutput, &QComboBox::activated, this,
          [this] { RunGuarded([this] { cmbInputChange(); }); });
  connect(SBframes, &QToolButton::clicked, this,
          [this] { RunGuarded([this] { SBframesClick(); }); });
}

void TMonitorForm::MakeMenus() {
  auto command = [this](QAction* action, void (TMonitorForm::*handler)()) {
    connect(action, &QAction::triggered, this,
            [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
  };

  MainMenu1 = menuBar();
  File1 = MainMenu1->addMenu(QStringLiteral("File"));
  SaveSYX1 = File1->addAction(QStringLiteral("Save SYX"));
  OpenSYX1 = File1->addAction(QStringLiteral("Open SYX"));
  command(SaveSYX1, &TMonitorForm::BSaveSYXClick);
  command(OpenSYX1, &TMonitorForm::OpenSYX1Click);

  View1 = MainMenu1->addMenu(QStringLiteral("View"));
  Clear1 = View1->addAction(QStringLiteral("Clear"));
  N1 = View1->addSeparator();
  HideMenu1 = View1->addAction(QStringLiteral("Hide Menu"));
  Small1 = View1->addAction(QStringLiteral("Small"));
  TimeCode1 = View1->addAction(QStringLiteral("TimeCode"));
  N2 = View1->addSeparator();
  ViewTimer1 = View1->addAction(QStringLiteral("View Timer"));
  ShowAS1 = View1->addAction(QStringLiteral("Show AS"));
  ShowAS1->setCheckable(true);
  ShowAS1->setChecked(false);
  command(Clear1, &TMonitorForm::SpClearClick);
  command(Small1, &TMonitorForm::BsmallClick);
  command(TimeCode1, &TMonitorForm::BtcviewClick);
  command(ViewTimer1, &TMonitorForm::ViewTimer1Click);
  command(ShowAS1, &TMonitorForm::ShowAS1Click);

  Midi1 = MainMenu1->addMenu(QStringLiteral("Midi"));
  Open1 = Midi1->addAction(QStringLiteral("Open"));
  Close1 = Midi1->addAction(QStringLiteral("Close"));
  command(Open1, &TMonitorForm::BOpenClick);
  command(Close1, &TMonitorForm::BCloseClick);

  Recv1 = MainMenu1->addAction(QStringLiteral("Recv"));
  Exit1 = MainMenu1->addAction(QStringLiteral("Exit"));
  command(Recv1, &TMonitorForm::BRcSYXClick);
  command(Exit1, &TMonitorForm::BexitClick);

  PopupMenu1 = new QMenu(this);
  SmallView1 = PopupMenu1->addAction(QStringLiteral("Small View"));
  ShowMenu1 = PopupMenu1->addAction(QStringLiteral("Show Menu"));
  N3 = PopupMenu1->addSeparator();
  PExit1 = PopupMenu1->addAction(QStringLiteral("Exit"));
  command(SmallView1, &TMonitorForm::BsmallClick);
  command(PExit1, &TMonitorForm::BexitClick);
  connect(Ltc, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(Ltc->mapToGlobal(at)); });
}

// ---- Start-up, ports and views ---------------------------------------------

void TMonitorForm::FormCreate() {
  InitFolders();
  LoadSettings();
  move(MonitorState.WinLeft, MonitorState.WinTop);
  if (MonitorState.TcView == 1) {
    SetOuterHeight(100);
    SetOuterWidth(200);
  }
  HourglassCursor();
  CloseDevs();
  MonitorState.InClosed = 1;
  MonitorState.OutClosed = 1;
  MonitorState.SmallView = 0;
  MonitorState.ShowActiveSensing = 0;
  MonitorState.ThruEnabled = 1;

  cmbInput->clear();
  if (MidiInput1) {
    for (std::uint16_t i = 0; i < MidiInput1->DeviceCount(); ++i) {
      MidiInput1->SetDeviceID(i);
      cmbInput->addItem(QString::fromStdString(MidiInput1->ProductName()));
    }
  }
  const std::int32_t in = MonitorState.InPortIndex;
  cmbInput->setCurrentIndex(in >= 0 && in < cmbInput->count() ? in : -1);

  cmbOutput->clear();
  for (std::uint16_t i = 0; i < MidiOutput1->DeviceCount(); ++i) {
    MidiOutput1->SetDeviceID(i);
    cmbOutput->addItem(QString::fromStdString(MidiOutput1->ProductName()));
  }
  const std::int32_t out = MonitorState.OutPortIndex;
  cmbOutput->setCurrentIndex(out >= 0 && out < cmbOutput->count() ? out : -1);

  OpenDevs();
  NormalCursor();
  Lmess->setText(QString());
  lvorig->setText(QString());
}

void TMonitorForm::OpenDevs() {
  if (MonitorState.InClosed == 1) {
    bool opened = false;
    try {
      if (MidiInput1) {
        MidiInput1->SetProductName(cmbInput->currentText().toStdString());
        MidiInput1->Open();
        MidiInput1->Start();
        opened = MidiInput1->State() == TPortState::stOpen;
      }
    } catch (...) {
    }
    if (!opened && MidiInput1 && MidiInput1->State() == TPortState::stOpen) {
      // Opened but not started: give the device back, or the port would stay
      // open behind a red lamp and refuse every later choice.
      try {
        MidiInput1->Close();
      } catch (...) {
      }
    }
    if (opened) {
      SetLamp(lopen, true);
      MonitorState.InClosed = 0;
    } else {
      Lmess->setText(QString::fromLatin1(kInBusyText));
      MonitorState.InClosed = 1;
      SetLamp(lopen, false);
    }
  }
  if (MonitorState.OutClosed == 1) {
    bool opened = false;
    try {
      MidiOutput1->SetProductName(cmbOutput->currentText().toStdString());
      opened = MidiOutput1->Open();
    } catch (...) {
    }
    if (opened) {
      SetLamp(lout, true);
      MonitorState.OutClosed = 0;
      // The output has been open again: thru failures may be told anew.
      reportedInputErrors_.clear();
    } else {
      SetLamp(lout, false);
      Lmess->setText(QString::fromLatin1(kOutBusyText));
      MonitorState.OutClosed = 1;
    }
  }
}

void TMonitorForm::CloseDevs() {
  // Each port on its own flag, so an output that is open behind a closed
  // input is really closed (and a new choice really moves it). A port whose
  // Close fails keeps the flag and lamp of the state it is left in; the first
  // error still ends the calling command.
  std::exception_ptr failure;
  if (MonitorState.InClosed == 0 && MidiInput1) {
    try {
      MidiInput1->Close();
    } catch (...) {
      failure = std::current_exception();
    }
    // A failing Close still leaves the input port closed.
    if (MidiInput1->State() != TPortState::stOpen) {
      MonitorState.InClosed = 1;
      SetLamp(lopen, false);
    }
  } else if (MonitorState.InClosed == 0) {
    MonitorState.InClosed = 1;
    SetLamp(lopen, false);
  }
  if (MonitorState.OutClosed == 0) {
    try {
      MidiOutput1->Close();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    if (MidiOutput1->State() != TPortState::stOpen) {
      MonitorState.OutClosed = 1;
      SetLamp(lout, false);
    }
  }
  // At start-up both flags are still 0 with both ports closed: the lamps go red.
  if (MonitorState.InClosed == 1) SetLamp(lopen, false);
  if (MonitorState.OutClosed == 1) SetLamp(lout, false);
  if (failure) std::rethrow_exception(failure);
}

void TMonitorForm::cmbInputChange() {
  HourglassCursor();
  CloseDevs();
  MonitorState.InPortIndex = cmbInput->currentIndex();
  MonitorState.OutPortIndex = cmbOutput->currentIndex();
  OpenDevs();
  NormalCursor();
}

void TMonitorForm::BOpenClick() {
  HourglassCursor();
  if (MonitorState.InClosed == 1) OpenDevs();
  NormalCursor();
}

void TMonitorForm::BCloseClick() {
  HourglassCursor();
  CloseDevs();
  NormalCursor();
}

void TMonitorForm::BexitClick() {
  CloseDevs();
  close();
}

void TMonitorForm::SpClearClick() {
  Memo1->clear();
}

void TMonitorForm::BsmallClick() {
  MonitorState.SmallView = static_cast<std::uint8_t>(1 - MonitorState.SmallView);
  if (MonitorState.SmallView == 1) {
    SetOuterHeight(167);
    SetOuterWidth(688);
  } else {
    SetOuterHeight(310);
    SetOuterWidth(688);
    Lmess->setText(QStringLiteral(" "));
    lvorig->setText(QStringLiteral(" "));
  }
  MonitorState.TcView = 0;
}

void TMonitorForm::BtcviewClick() {
  MonitorState.TcView = static_cast<std::uint8_t>(1 - MonitorState.TcView);
  if (MonitorState.TcView == 1) {
    SetOuterHeight(100);
    SetOuterWidth(200);
  } else {
    BsmallClick();
  }
}

void TMonitorForm::ViewTimer1Click() {
  SpTimer->setVisible(!SpTimer->isVisible());
}

void TMonitorForm::ShowAS1Click() {
  MonitorState.ShowActiveSensing = static_cast<std::uint8_t>(1 - MonitorState.ShowActiveSensing);
  ShowAS1->setChecked(MonitorState.ShowActiveSensing == 1);
}

void TMonitorForm::SBframesClick() {
  MonitorState.ShowFrames = SBframes->isChecked() ? 1 : 0;
}

void TMonitorForm::FormResize() {
  if (MemoLineCount() > 0) {
    MaxLines = kLogLineCap;
    // The document drops whole lines from the top beyond the cap.
    Memo1->setMaximumBlockCount(MaxLines);
  } else {
    Memo1->clear();
  }
}

void TMonitorForm::FormClose() {
  MonitorState.WinLeft = x();
  MonitorState.WinTop = y();
  // A refused settings write is told, but the ports are closed and the
  // window ends all the same: the program can always be quit.
  RunGuarded([] { SaveSettings(); });
  RunGuarded([this] { CloseDevs(); });
}

void TMonitorForm::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TMonitorForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayOutClient();
  RunGuarded([this] { FormResize(); });
}

void TMonitorForm::LayOutClient() {
  QWidget* client = centralWidget();
  if (client == nullptr) return;
  const int width = client->width();
  pnlColumnHeading->setGeometry(0, 0, width, kPanelHeight);
  Memo1->setGeometry(0, kPanelHeight, width, std::max(0, client->height() - kPanelHeight));
}

void TMonitorForm::SetOuterHeight(int height) {
  const int frame = frameGeometry().height() - geometry().height();
  resize(width(), std::max(0, height - frame));
  if (!isVisible()) pendingOuter_.setHeight(height);
}

void TMonitorForm::SetOuterWidth(int width) {
  const int frame = frameGeometry().width() - geometry().width();
  resize(std::max(0, width - frame), this->height());
  if (!isVisible()) pendingOuter_.setWidth(width);
}

void TMonitorForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // Before the first show the frame is not known yet: a view chosen at
  // start-up gets its outer size once it is.
  if (pendingOuter_.isValid()) {
    const QSize outer = pendingOuter_;
    pendingOuter_ = QSize();
    SetOuterHeight(outer.height());
    SetOuterWidth(outer.width());
  }
}

void TMonitorForm::SetLamp(QLabel* lamp, bool open) {
  lamp->setText(QString::fromLatin1(open ? " Open " : " Closed "));
  const QColor black(0, 0, 0);
  SetColors(lamp, open ? &kLampLime : &kLampRed, &black);
  AutoSize(lamp);
}

void TMonitorForm::SetActiveLamp(bool lit) {
  if (lit == activeLampLit_) return;
  activeLampLit_ = lit;
  SetColors(Lactive, lit ? &kActiveLit : &kActiveOut, nullptr);
}

void TMonitorForm::HourglassCursor() {
  setCursor(Qt::WaitCursor);
}

void TMonitorForm::NormalCursor() {
  setCursor(Qt::ArrowCursor);
}

QString TMonitorForm::StatusText() const {
  auto* label = StatusBar->findChild<QLabel*>(QStringLiteral("StatusText"));
  return label != nullptr ? label->text() : QString();
}

void TMonitorForm::SetStatusText(const QString& text) {
  if (auto* label = StatusBar->findChild<QLabel*>(QStringLiteral("StatusText")))
    label->setText(text);
}

int TMonitorForm::MemoLineCount() const {
  const QTextDocument* document = Memo1->document();
  return document->isEmpty() ? 0 : document->blockCount();
}

// ---- Live input ------------------------------------------------------------

void TMonitorForm::MIDIInput1MidiInput(TMidiInput& sender) {
  // Nothing thrown in here may reach the dispatcher: a failure is told in the
  // status bar, the event in hand is destroyed with its unique_ptr, and the
  // program goes on.
  ++handlerDepth_;
  try {
    HandleWaitingEvents(sender);
  } catch (...) {
    // Out of memory for an event or a line: what was in hand is dropped.
  }
  --handlerDepth_;
  if (handlerDepth_ == 0) {
    try {
      FlushLog();
    } catch (...) {
      memoPending_.clear();
      smallPending_.clear();
      smallPendingCount_ = 0;
    }
  }
}

void TMonitorForm::HandleWaitingEvents(TMidiInput& sender) {
  while (sender.EventCount() > 0) {
    std::unique_ptr<TMyMidiEvent> event;
    try {
      event = sender.TakeEvent();
    } catch (const std::exception& e) {
      // The slot stays in the ring; the next notification tries it again.
      ReportInputError(e.what());
      return;
    }
    if (!event) return;

    if (event->StatusByte == 0xF1) {
      // A quarter frame ends the handler; the events behind it wait for
      // their own notifications.
      QuarterFrame(*event);
      return;
    }
    try {
      if (MonitorState.Receiving == 1) Capture(*event);
      if (event->StatusByte == 0xFE) {
        SetActiveLamp(true);
        if (MonitorState.ShowActiveSensing == 0) return;
      }
      if (MonitorState.Receiving == 0) LogMessage(*event);
      if (MonitorState.ThruEnabled == 1) MidiOutput1->SendEvent(*event);
    } catch (const std::exception& e) {
      // This event is done with; the ones behind it are handled as usual.
      ReportInputError(e.what());
    }
    // Input that keeps coming faster than it is taken would hold the window
    // here for good: once the pump's turn is spent, the rest waits for the
    // notifications still queued.
    if (PumpTurnOverdue()) return;
  }
}

void TMonitorForm::QuarterFrame(const TMyMidiEvent& event) {
  // A data byte of 0x80 or more is no quarter frame any stream carries; its
  // piece number would lie outside the eight pieces.
  if (event.DataByte1 >= 0x80) return;
  MonitorState.QfPiece = static_cast<std::uint8_t>(event.DataByte1 >> 4);
  MonitorState.QfNibble = static_cast<std::uint8_t>(event.DataByte1 & 0x0F);
  MonitorState.QfParts[MonitorState.QfPiece] = MonitorState.QfNibble;
  const auto& p = MonitorState.QfParts;
  // Pieces 1, 3 and 5 count whole; of piece 7 only bit 0 (hours bit 4), the
  // frame-rate bits are not shown.
  const int frames = p[0] + 16 * p[1];
  const int seconds = p[2] + 16 * p[3];
  const int minutes = p[4] + 16 * p[5];
  const int hours = p[6] + 16 * (p[7] & 1);
  Ltc->setText(MonitorState.ShowFrames == 1
                   ? TwoDigits("%2.2d:%2.2d:%2.2d:%2.2d", hours, minutes, seconds, frames)
                   : TwoDigits("%2.2d:%2.2d:%2.2d", hours, minutes, seconds));
}

void TMonitorForm::Capture(const TMyMidiEvent& event) {
  if (event.SysexData == nullptr || event.SysexSize == 0) return;
  std::uint16_t stored = 0;
  for (; stored < event.SysexSize; ++stored) {
    if (MonitorState.DumpCount < 0 || MonitorState.DumpCount > kDumpBufferLast) break;
    MonitorState.DumpBuffer[static_cast<std::size_t>(MonitorState.DumpCount)] =
        event.SysexData[stored];
    ++MonitorState.DumpCount;
  }
  // A new reception starts counting from 0, so a byte stored means the buffer
  // has room again and a later overflow is a new one.
  if (stored > 0) dumpFullReported_ = false;
  // The count is shown once per event; nothing paints between its bytes.
  if (RecieveForm != nullptr) {
    char text[32];
    std::snprintf(text, sizeof text, "%6.2d", MonitorState.DumpCount);
    RecieveForm->StRecv->setText(QString::fromLatin1(text));
  }
  if (stored < event.SysexSize && !dumpFullReported_) {
    // The rest of this reception does not fit: told once, and thru goes on.
    dumpFullReported_ = true;
    SetStatusText(QString::fromLatin1(kDumpFullText));
  }
}

void TMonitorForm::ReportInputError(const std::string& text) {
  // With the output closed every forwarded event fails alike: one line in the
  // status bar, not a box per event.
  if (!reportedInputErrors_.insert(text).second) return;
  SetStatusText(QString::fromStdString(text));
}

void TMonitorForm::LogMessage(const TMyMidiEvent& event) {
  if (MonitorState.SmallView == 1) {
    smallPending_.append(QString::fromStdString(EventLineText(event)));
    if (smallPending_.size() > 2) smallPending_.removeFirst();
    ++smallPendingCount_;
  } else if (MaxLines > 0) {
    memoPending_.append(QString::fromStdString(EventLineText(event)));
    // More than a full memo in one go: the older ones would only be removed again.
    if (memoPending_.size() > MaxLines) memoPending_.removeFirst();
  }
  if (handlerDepth_ == 0) FlushLog();
}

void TMonitorForm::FlushLog() {
  if (smallPendingCount_ > 0) {
    // The small view shows the last two lines, the newest below.
    if (smallPending_.size() >= 2) {
      lvorig->setText(smallPending_[0]);
    } else {
      lvorig->setText(Lmess->text());
    }
    Lmess->setText(smallPending_.constLast());
    smallPending_.clear();
    smallPendingCount_ = 0;
  }
  if (!memoPending_.isEmpty()) {
    AppendToMemo(memoPending_);
    memoPending_.clear();
  }
}

void TMonitorForm::AppendToMemo(const QStringList& lines) {
  QTextDocument* document = Memo1->document();
  const bool empty = document->isEmpty();
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::End);
  cursor.beginEditBlock();
  if (!empty) cursor.insertBlock();
  cursor.insertText(lines.join(u'\n'));
  cursor.endEditBlock();
  // The newest line stays in view.
  QScrollBar* bar = Memo1->verticalScrollBar();
  bar->setValue(bar->maximum());
}

void TMonitorForm::Timer1Timer() {
  HandleWaitingMessages();
  SetActiveLamp(false);
}

void TMonitorForm::SptimerChange() {
  Timer1->setInterval(SpTimer->Value());
  UpDown1->SetPosition(SpTimer->Value());
}

void TMonitorForm::UpDown1Changing(bool& allowChange) {
  SpTimer->SetValue(UpDown1->Position());
  allowChange = true;
}

void TMonitorForm::UpDown1Click(TUDBtnType button) {
  if (button == TUDBtnType::btNext)
    SpTimer->SetValue(SpTimer->Value() + 1);
  else
    SpTimer->SetValue(SpTimer->Value() - 1);
}

// ---- The dump commands -----------------------------------------------------

void TMonitorForm::BSaveSYXClick() {
  // A dump starts with the system-exclusive status byte; nothing else is checked.
  if (MonitorState.DumpBuffer[0] != 0xF0) {
    ShowInformation("There is no valid Sysex-Message in the buffer");
    return;
  }
  SaveSYXFile();
}

namespace {
// Written or read in pieces of this size, so the label shows progress without
// a label update per byte.
constexpr std::size_t kDumpChunk = 64 * 1024;

QString Counted(const char* text, std::uint64_t count) {
  return QString::fromLatin1(text) + QString::number(count);
}
}  // namespace

void TMonitorForm::SaveSYXFile() {
  SaveDialog1->FileName = MonitorState.SysexFileName;
  if (!SaveDialog1->Execute(this)) return;
  MonitorState.SysexFileName = SaveDialog1->FileName;
  SyxFile file = SyxFile::Create(SyxFilePath(MonitorState.SysexFileName));
  SetStatusText(QStringLiteral("Writing File : ") +
                QString::fromStdString(MonitorState.SysexFileName));
  // DumpCount never passes the buffer's end: the capture stops there.
  const auto count =
      static_cast<std::size_t>(std::clamp(MonitorState.DumpCount, 0, kDumpBufferSize));
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min(kDumpChunk, count - done);
    file.Write(MonitorState.DumpBuffer.data() + done, piece);
    done += piece;
    Lwritten->setText(Counted("Bytes written: ", done));
  }
  file.Close();
  SetStatusText(Counted("Bytes written: ", count));
}

void TMonitorForm::OpenSYX1Click() {
  OpenDialog1->FileName = MonitorState.SysexFileName;
  if (!OpenDialog1->Execute(this)) return;
  MonitorState.SysexFileName = OpenDialog1->FileName;
  // Only read, so a read-only file loads too.
  SyxFile file = SyxFile::OpenForReading(SyxFilePath(MonitorState.SysexFileName));
  const std::uint64_t size = file.Size();
  SetStatusText(Counted(" File size: ", size));
  // Refused before anything is stored: the dump in the buffer stays whole.
  if (size > static_cast<std::uint64_t>(kDumpBufferSize))
    throw std::runtime_error("The file holds " + std::to_string(size) +
                             " bytes; the dump buffer takes at most " +
                             std::to_string(kDumpBufferSize) + " bytes. Nothing was read.");
  // Read whole before it replaces anything, so a failed read leaves the
  // buffer as it was.
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  for (std::size_t done = 0; done < bytes.size();) {
    const std::size_t piece = std::min(kDumpChunk, bytes.size() - done);
    file.Read(bytes.data() + done, piece);
    done += piece;
    Lwritten->setText(Counted("Bytes read: ", done));
  }
  file.Close();
  std::copy(bytes.begin(), bytes.end(), MonitorState.DumpBuffer.begin());
  // Save SYX writes DumpCount bytes: after an Open that is the loaded dump.
  MonitorState.DumpCount = static_cast<std::int32_t>(size);
  SetStatusText(Counted("Bytes read into buffer: ", size));
}

void TMonitorForm::BRcSYXClick() {
  MonitorState.Receiving = 1;
  MonitorState.DumpCount = 0;
  dumpFullReported_ = false;
  // Capture stops with the dialog, whatever way it closes.
  struct StopReceiving {
    ~StopReceiving() { MonitorState.Receiving = 0; }
  } stop;
  if (RecieveForm == nullptr) throw std::runtime_error("The reception dialog is not there");
  RecieveForm->StRecv->setText(QStringLiteral("0"));
  SetStatusText(QStringLiteral(" Waiting for Dump ... "));
  // Its modal loop keeps dispatching the input port's notifications.
  RecieveForm->exec();
}

}  // namespace korvane
