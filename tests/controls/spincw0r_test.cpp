#include "controls/spincw0r.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>
#include <vector>

namespace korvane {
namespace {

// Distinct colours for every role the control draws with, so a pixel tells
// which step of the drawing put it there.
const QColor kBase(0xFF, 0xFF, 0xE0);
const QColor kText(0x10, 0x20, 0x30);
const QColor kHighlight(0x30, 0x60, 0xC0);
const QColor kHighlightText(0xF0, 0xF0, 0xF0);
const QColor kButton(0xC0, 0xC0, 0xC0);
const QColor kDark(0x60, 0x60, 0x60);
const QColor kLight(0xFF, 0xFF, 0xFF);
const QColor kBlack(0, 0, 0);
const QColor kLampOn(0xFF, 0, 0);
const QColor kLampOff(0x80, 0x80, 0x80);

QPalette TestPalette() {
  QPalette palette;
  const std::pair<QPalette::ColorRole, QColor> roles[] = {
      {QPalette::Base, kBase},           {QPalette::Text, kText},
      {QPalette::Highlight, kHighlight}, {QPalette::HighlightedText, kHighlightText},
      {QPalette::Button, kButton},       {QPalette::Window, kButton},
      {QPalette::Dark, kDark},           {QPalette::Light, kLight},
  };
  for (const auto& [role, color] : roles) palette.setColor(role, color);
  return palette;
}

QFont TestFont() {
  QFont font("DejaVu Sans");
  font.setPixelSize(10);
  // Whole pixels in the text colour, so the first column of the text is exact.
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

// First column in [left, right) holding a pixel of the colour, or -1.
int FirstColumnWith(const QImage& image, const QColor& color, int left, int right) {
  for (int x = left; x < right; ++x) {
    for (int y = 0; y < image.height(); ++y) {
      if (image.pixelColor(x, y) == color) return x;
    }
  }
  return -1;
}

// How far right of its cell the ink of the text begins in the test font.
int InkOffset(const QString& text) {
  QImage scratch(60, 30, QImage::Format_RGB32);
  scratch.fill(Qt::white);
  QPainter p(&scratch);
  p.setFont(TestFont());
  p.setPen(Qt::black);
  p.drawText(QRect(0, 0, 60, 30), Qt::AlignLeft | Qt::AlignTop, text);
  p.end();
  return FirstColumnWith(scratch, Qt::black, 0, 60);
}

class SpinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.resize(200, 80);
    spin_ = new TSpincw0R(&window_);
    spin_->setGeometry(10, 10, 48, 22);
    spin_->setPalette(TestPalette());
    spin_->setFont(TestFont());
    spin_->SetCursorAccess({[this] { return pointer_; },
                            [this](const QPoint& p) {
                              pointer_ = p;
                              pointer_moves_.push_back(p);
                            }});
    spin_->OnChange = [this](TSpincw0R& sender) {
      EXPECT_EQ(&sender, spin_);
      changes_.push_back(sender.Value());
    };
    spin_->OnChanging = [this](TSpincw0R& sender) { changing_.push_back(sender.Value()); };
    window_.show();
    // Until the window is exposed, repaint() draws nothing.
    QElapsedTimer timer;
    timer.start();
    while (!window_.windowHandle()->isExposed() && timer.elapsed() < 2000) {
      QApplication::processEvents();
    }
    // The shown window may have handed the focus to its only focusable child.
    spin_->clearFocus();
  }

  void Activate() {
    window_.activateWindow();
    QElapsedTimer timer;
    timer.start();
    while (!window_.isActiveWindow() && timer.elapsed() < 2000) QApplication::processEvents();
    ASSERT_TRUE(window_.isActiveWindow());
  }

  // Sets the bounds and value without leaving recorded events behind.
  void Start(std::int32_t min, std::int32_t max, std::int32_t value) {
    spin_->SetMaxValue(max);
    spin_->SetMinValue(min);
    spin_->SetMinValue(min);
    spin_->SetValue(value);
    ASSERT_EQ(spin_->Value(), value);
    changes_.clear();
  }

  QImage Grab() { return spin_->grab().toImage(); }

  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(spin_, &event);
  }

  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButton button) {
    QMouseEvent event(type, QPointF(at), QPointF(spin_->mapToGlobal(at)), button, held_,
                      modifiers_);
    QApplication::sendEvent(spin_, &event);
  }

  void Press(QPoint at, Qt::MouseButton button = Qt::LeftButton,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier,
             Qt::MouseButtons also_held = Qt::NoButton) {
    held_ = button | also_held;
    modifiers_ = modifiers;
    Mouse(QEvent::MouseButtonPress, at, button);
  }
  void Move(QPoint at) { Mouse(QEvent::MouseMove, at, Qt::NoButton); }
  void Release(QPoint at = QPoint(40, 10)) {
    const Qt::MouseButton button = held_ & Qt::LeftButton ? Qt::LeftButton : Qt::RightButton;
    held_ = Qt::NoButton;
    Mouse(QEvent::MouseButtonRelease, at, button);
  }

  QWidget window_;
  TSpincw0R* spin_ = nullptr;
  QPoint pointer_{500, 300};
  std::vector<QPoint> pointer_moves_;
  std::vector<std::int32_t> changes_;
  std::vector<std::int32_t> changing_;
  Qt::MouseButtons held_;
  Qt::KeyboardModifiers modifiers_;
};

TEST_F(SpinTest, ConstructionValues) {
  TSpincw0R fresh;
  EXPECT_EQ(fresh.size(), QSize(44, 22));
  EXPECT_EQ(fresh.Value(), 0);
  EXPECT_EQ(fresh.MinValue(), 0);
  EXPECT_EQ(fresh.MaxValue(), 127);
  EXPECT_EQ(fresh.BKColor(), clWindow);
  EXPECT_EQ(fresh.LedOnCol(), clRed);
  EXPECT_EQ(fresh.LedOffCol(), clGray);
  EXPECT_EQ(fresh.CMinColor(), clOlive);
  EXPECT_EQ(fresh.Panelwidth(), 1);
  EXPECT_EQ(fresh.FontColor(), clWindowText);
  EXPECT_TRUE(fresh.Tabstop());
  EXPECT_EQ(fresh.FocusControl(), nullptr);
}

// The main window's instance: 48 x 22, four digits.
TEST_F(SpinTest, DrawsFieldFramesAndLamp) {
  Start(1, 6000, 1000);
  const QImage image = Grab();
  ASSERT_EQ(image.size(), QSize(48, 22));
  const struct {
    int x, y;
    QColor color;
    const char* what;
  } rows[] = {
      {0, 0, kDark, "outer frame, top-left"},
      {0, 10, kDark, "outer frame, left"},
      {20, 0, kDark, "outer frame, top"},
      {46, 0, kLight, "outer frame, top-right corner"},
      {0, 20, kLight, "outer frame, bottom-left corner"},
      {46, 10, kLight, "outer frame, right"},
      {20, 20, kLight, "outer frame, bottom"},
      {47, 10, kButton, "last column untouched by the frame"},
      {20, 21, kButton, "last row untouched by the frame"},
      {1, 1, kBlack, "field frame, top-left"},
      {1, 10, kBlack, "field frame, left"},
      {20, 1, kBlack, "field frame, top"},
      {32, 1, kDark, "field frame, top-right corner"},
      {1, 19, kDark, "field frame, bottom-left corner"},
      {32, 10, kDark, "field frame, right"},
      {20, 19, kDark, "field frame, bottom"},
      {2, 2, kBase, "field, top-left"},
      {31, 2, kBase, "field, top-right"},
      {2, 18, kBase, "field, bottom-left"},
      {31, 18, kBase, "field, bottom-right"},
      {33, 10, kButton, "between field and handle"},
      {34, 1, kLight, "handle frame, top-left"},
      {34, 10, kLight, "handle frame, left"},
      {40, 1, kLight, "handle frame, top"},
      {45, 1, kDark, "handle frame, top-right corner"},
      {34, 19, kDark, "handle frame, bottom-left corner"},
      {45, 10, kDark, "handle frame, right"},
      {40, 19, kDark, "handle frame, bottom"},
      {35, 2, kButton, "handle face"},
      {43, 10, kButton, "handle face right of the lamp"},
      {40, 18, kButton, "handle face below the lamp"},
      {36, 3, kLampOff, "lamp, top-left"},
      {42, 3, kLampOff, "lamp, top-right"},
      {36, 17, kLampOff, "lamp, bottom-left"},
      {42, 17, kLampOff, "lamp, bottom-right"},
      {40, 2, kButton, "above the lamp"},
      {35, 10, kButton, "left of the lamp"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(image.pixelColor(row.x, row.y), row.color) << "at " << row.x << "," << row.y;
  }
  EXPECT_EQ(FirstColumnWith(image, kText, 2, 32), 5 + InkOffset("1000"));
}

TEST_F(SpinTest, LampLightsWhilePressedInTheHandle) {
  spin_->SetLedOnCol(RgbColor(0, 0xFF, 0));
  Press(QPoint(40, 10));
  QImage image = Grab();
  EXPECT_EQ(image.pixelColor(36, 3), QColor(0, 0xFF, 0));
  EXPECT_EQ(image.pixelColor(42, 17), QColor(0, 0xFF, 0));
  EXPECT_EQ(image.pixelColor(43, 17), kButton);
  Release();
  image = Grab();
  EXPECT_EQ(image.pixelColor(36, 3), kLampOff);
  spin_->SetLedOffCol(clMaroon);
  EXPECT_EQ(Grab().pixelColor(42, 17), QColor(0x80, 0, 0));
}

TEST_F(SpinTest, TextStartsWhereItsWidthSays) {
  const struct {
    std::int32_t value;
    int x;
  } rows[] = {{5, 11},  {0, 11},  {9, 11},   {42, 8},  {10, 8},  {99, 8},
              {127, 5}, {100, 5}, {5000, 5}, {-3, 14}, {-1, 14}, {-45, 14}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    Start(-100, 6000, row.value);
    const QString text = QString::number(row.value);
    EXPECT_EQ(FirstColumnWith(Grab(), kText, 2, 32), row.x + InkOffset(text));
  }
}

TEST_F(SpinTest, FocusSwapsFieldAndTextColours) {
  Start(0, 127, 42);
  spin_->SetFontColor(clRed);  // forgotten once the focus has been and gone
  Activate();
  spin_->setFocus();
  ASSERT_TRUE(spin_->hasFocus());
  EXPECT_EQ(spin_->BKColor(), clHighlight);
  QImage image = Grab();
  EXPECT_EQ(image.pixelColor(2, 2), kHighlight);
  EXPECT_EQ(FirstColumnWith(image, kHighlightText, 2, 32), 8 + InkOffset("42"));

  spin_->clearFocus();
  EXPECT_EQ(spin_->BKColor(), clWindow);
  EXPECT_EQ(spin_->FontColor(), clWindowText);
  image = Grab();
  EXPECT_EQ(image.pixelColor(2, 2), kBase);
  EXPECT_EQ(FirstColumnWith(image, kText, 2, 32), 8 + InkOffset("42"));
}

TEST_F(SpinTest, BackgroundSetWhileFocusedComesBackAfterIt) {
  Activate();
  spin_->setFocus();
  spin_->SetBKColor(clYellow);
  EXPECT_EQ(spin_->BKColor(), clYellow);
  spin_->clearFocus();
  EXPECT_EQ(spin_->BKColor(), clYellow);
  EXPECT_EQ(Grab().pixelColor(2, 2), QColor(0xFF, 0xFF, 0));
}

TEST_F(SpinTest, DisabledLooksTheSame) {
  Start(0, 127, 64);
  const QImage enabled = Grab();
  spin_->setEnabled(false);
  EXPECT_EQ(Grab(), enabled);
}

TEST_F(SpinTest, GrowsToTheSmallestSizeWhenDrawn) {
  const struct {
    QSize given, drawn;
  } rows[] = {
      {{30, 10}, {44, 22}}, {{48, 10}, {48, 22}}, {{30, 30}, {44, 30}}, {{48, 22}, {48, 22}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.given.width() * 100 + row.given.height());
    spin_->resize(row.given);
    EXPECT_EQ(spin_->size(), row.given);
    spin_->repaint();
    EXPECT_EQ(spin_->size(), row.drawn);
    EXPECT_EQ(Grab().size(), row.drawn);
  }
}

// The order of the assignments decides: the bounds in force at each one apply.
TEST_F(SpinTest, ValueIsLimitedByTheBoundsAtTheTime) {
  spin_->SetValue(1000);
  spin_->SetMaxValue(6000);
  spin_->SetMinValue(1);
  EXPECT_EQ(spin_->Value(), 127);
  EXPECT_EQ(changes_, std::vector<std::int32_t>{127});
}

TEST_F(SpinTest, EverySetValueFiresOnChange) {
  spin_->SetValue(5);
  spin_->SetValue(5);
  spin_->SetValue(-7);
  EXPECT_EQ(changes_, (std::vector<std::int32_t>{5, 5, 0}));
}

TEST_F(SpinTest, MovingABoundPullsTheValueSilently) {
  Start(0, 127, 100);
  spin_->SetMaxValue(50);
  EXPECT_EQ(spin_->Value(), 50);
  spin_->SetMinValue(60);
  EXPECT_EQ(spin_->Value(), 60);
  spin_->SetMaxValue(70);
  spin_->SetMinValue(-5);
  EXPECT_EQ(spin_->Value(), 60);
  EXPECT_TRUE(changes_.empty());
}

TEST_F(SpinTest, SetValueTestsTheGivenValueAgainstBothBounds) {
  const struct {
    std::int32_t min, max, v, expected;
  } rows[] = {
      {0, 127, 64, 64}, {0, 127, 128, 127},
      {0, 127, -1, 0},  {10, 5, 7, 10},  // above the maximum and below the minimum: the minimum
      {10, 5, 3, 10},   {10, 5, 12, 5},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.min << ".." << row.max << " := " << row.v);
    TSpincw0R spin;
    spin.SetMaxValue(row.max);
    spin.SetMinValue(row.min);
    spin.SetValue(row.v);
    EXPECT_EQ(spin.Value(), row.expected);
  }
}

TEST_F(SpinTest, PanelwidthIsAtMostTwo) {
  spin_->SetPanelwidth(2);
  EXPECT_EQ(spin_->Panelwidth(), 2);
  spin_->SetPanelwidth(9);
  EXPECT_EQ(spin_->Panelwidth(), 2);
  spin_->SetPanelwidth(0);
  EXPECT_EQ(spin_->Panelwidth(), 0);
}

TEST_F(SpinTest, Keys) {
  const struct {
    const char* name;
    std::int32_t min, max, start;
    int key;
    Qt::KeyboardModifiers modifiers;
    std::int32_t expected;
    bool fires;
  } rows[] = {
      {"Up", 0, 127, 64, Qt::Key_Up, Qt::NoModifier, 65, true},
      {"Shift+Up", 0, 127, 64, Qt::Key_Up, Qt::ShiftModifier, 65, true},
      {"keypad +", 0, 127, 64, Qt::Key_Plus, Qt::KeypadModifier, 65, true},
      {"+ of the main keys", 0, 127, 64, Qt::Key_Plus, Qt::NoModifier, 64, false},
      {"Down", 0, 127, 64, Qt::Key_Down, Qt::NoModifier, 63, true},
      {"keypad -", 0, 127, 64, Qt::Key_Minus, Qt::KeypadModifier, 63, true},
      {"- of the main keys", 0, 127, 64, Qt::Key_Minus, Qt::NoModifier, 64, false},
      {"Page Up", 0, 127, 64, Qt::Key_PageUp, Qt::NoModifier, 74, true},
      {"Page Up near the top", 0, 127, 120, Qt::Key_PageUp, Qt::NoModifier, 127, true},
      {"Page Down", 0, 127, 64, Qt::Key_PageDown, Qt::NoModifier, 54, true},
      {"Page Down near the bottom", 0, 127, 5, Qt::Key_PageDown, Qt::NoModifier, 0, true},
      {"End", 0, 127, 64, Qt::Key_End, Qt::NoModifier, 127, true},
      {"Home", 0, 127, 64, Qt::Key_Home, Qt::NoModifier, 0, true},
      {"Up at the maximum", 0, 127, 127, Qt::Key_Up, Qt::NoModifier, 127, true},
      {"Down at the minimum", 0, 127, 0, Qt::Key_Down, Qt::NoModifier, 0, true},
      {"End at the maximum", 0, 127, 127, Qt::Key_End, Qt::NoModifier, 127, false},
      {"Home at the minimum", 0, 127, 0, Qt::Key_Home, Qt::NoModifier, 0, false},
      {"Insert", 1, 6000, 1000, Qt::Key_Insert, Qt::NoModifier, 3000, true},
      {"Insert rounds toward zero", -5, 0, 0, Qt::Key_Insert, Qt::NoModifier, -2, true},
      {"Insert at the middle", 1, 6000, 3000, Qt::Key_Insert, Qt::NoModifier, 3000, false},
      {"Insert, huge bounds", 2147483600, 2147483647, 2147483647, Qt::Key_Insert, Qt::NoModifier,
       2147483623, true},
      {"Up at the largest integer", 0, 2147483647, 2147483647, Qt::Key_Up, Qt::NoModifier,
       2147483647, true},
      {"another key", 0, 127, 64, Qt::Key_A, Qt::NoModifier, 64, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Start(row.min, row.max, row.start);
    Key(row.key, row.modifiers);
    EXPECT_EQ(spin_->Value(), row.expected);
    EXPECT_EQ(changes_.size(), row.fires ? 1u : 0u);
  }
}

TEST_F(SpinTest, KeyReleaseDoesNothing) {
  Start(0, 127, 64);
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier);
  QApplication::sendEvent(spin_, &release);
  EXPECT_EQ(spin_->Value(), 64);
  EXPECT_TRUE(changes_.empty());
}

// Each movement event is one step in its direction, however far the pointer
// went; down lowers the value.
TEST_F(SpinTest, DragStepsByTheModifiersOfThePress) {
  const struct {
    const char* name;
    Qt::KeyboardModifiers modifiers;
    Qt::MouseButtons also_held;
    std::int32_t step;
  } rows[] = {
      {"plain", Qt::NoModifier, Qt::NoButton, 1},
      {"Shift", Qt::ShiftModifier, Qt::NoButton, 5},
      {"Ctrl", Qt::ControlModifier, Qt::NoButton, 10},
      {"Shift and Ctrl", Qt::ShiftModifier | Qt::ControlModifier, Qt::NoButton, 1},
      {"Shift and Alt", Qt::ShiftModifier | Qt::AltModifier, Qt::NoButton, 1},
      {"Shift with the right button held too", Qt::ShiftModifier, Qt::RightButton, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Start(0, 6000, 1000);
    changing_.clear();
    pointer_moves_.clear();
    Press(QPoint(40, 10), Qt::LeftButton, row.modifiers, row.also_held);
    Move(QPoint(40, 21));  // down, so no quirk of the previous drag
    Move(QPoint(40, 3));   // up
    Move(QPoint(40, 4));   // at the reference: no step, yet OnChanging
    Move(QPoint(40, 5));   // down by one pixel
    const std::int32_t s = row.step;
    EXPECT_EQ(changing_, (std::vector<std::int32_t>{1000 - s, 1000, 1000, 1000 - s}));
    EXPECT_TRUE(changes_.empty());
    Release();
    EXPECT_EQ(changes_, std::vector<std::int32_t>{1000 - s});
    EXPECT_EQ(pointer_moves_.size(), 3u);
  }
}

TEST_F(SpinTest, DragPullsThePointerBackOnePixel) {
  Start(0, 127, 64);
  Press(QPoint(40, 10));
  Move(QPoint(40, 15));
  EXPECT_EQ(pointer_, QPoint(500, 299));
  Move(QPoint(40, 14));  // where the pulled-back pointer lands: no step
  EXPECT_EQ(spin_->Value(), 63);
  Move(QPoint(40, 2));
  EXPECT_EQ(pointer_, QPoint(500, 300));
  Move(QPoint(40, 3));
  EXPECT_EQ(spin_->Value(), 64);
  EXPECT_EQ(pointer_moves_.size(), 2u);
  Release();
}

TEST_F(SpinTest, DragStopsAtTheBounds) {
  Start(0, 127, 125);
  Press(QPoint(40, 10), Qt::LeftButton, Qt::ControlModifier);
  Move(QPoint(40, 15));  // 115
  Move(QPoint(40, 5));   // 125
  Move(QPoint(40, 1));   // 127, not 135
  EXPECT_EQ(spin_->Value(), 127);
  Release();
  Start(0, 127, 3);
  Press(QPoint(40, 10), Qt::LeftButton, Qt::ShiftModifier);
  Move(QPoint(40, 15));
  EXPECT_EQ(spin_->Value(), 0);
  Release();
  EXPECT_EQ(changes_, std::vector<std::int32_t>{0});
}

// The vertical reference of a drag is not reset by a press: the first drag
// compares with 0, later ones with where the previous drag left it.
TEST_F(SpinTest, FirstMovementComparesWithThePreviousDrag) {
  Start(0, 127, 64);
  Press(QPoint(40, 10));
  Move(QPoint(40, 5));  // upwards, yet below 0: a step down
  EXPECT_EQ(spin_->Value(), 63);
  Release();
  Press(QPoint(40, 2));
  Move(QPoint(40, 3));  // downwards, yet above 4 (5 - 1): a step up
  EXPECT_EQ(spin_->Value(), 64);
  Release();
}

TEST_F(SpinTest, OnlyTheHandleAreaStartsADrag) {
  const struct {
    QPoint at;
    bool drags;
  } rows[] = {
      {{26, 10}, false},
      {{27, 10}, true},  // 27 lies inside the number field
      {{47, 21}, true},
      {{40, 0}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.at.x() << "," << row.at.y());
    Start(0, 127, 64);
    changing_.clear();
    Press(row.at);
    EXPECT_EQ(Grab().pixelColor(36, 3), row.drags ? kLampOn : kLampOff);
    Move(QPoint(40, 21));
    Move(QPoint(40, 1));
    Release();
    EXPECT_EQ(changing_.size(), row.drags ? 2u : 0u);
    EXPECT_EQ(changes_.size(), row.drags ? 1u : 0u);
    EXPECT_EQ(Grab().pixelColor(36, 3), kLampOff);
  }
}

TEST_F(SpinTest, PressAndReleaseWithoutMovementReportNothing) {
  Press(QPoint(40, 10));
  Release();
  EXPECT_TRUE(changing_.empty());
  EXPECT_TRUE(changes_.empty());
}

// Only the left button captures the pointer.
TEST_F(SpinTest, DragOutsideTheControlNeedsTheLeftButton) {
  Start(0, 127, 64);
  Press(QPoint(40, 10), Qt::RightButton);
  Move(QPoint(40, 80));
  Move(QPoint(40, -40));
  EXPECT_TRUE(changing_.empty());
  Move(QPoint(40, 21));
  EXPECT_EQ(changing_.size(), 1u);
  Release();
  Press(QPoint(40, 10));
  Move(QPoint(40, -40));
  EXPECT_EQ(changing_.size(), 2u);
  Release();
}

TEST_F(SpinTest, CursorSplitsOverTheHandle) {
  Move(QPoint(30, 10));
  EXPECT_EQ(spin_->cursor().shape(), Qt::SplitVCursor);
  Move(QPoint(20, 10));
  EXPECT_EQ(spin_->cursor().shape(), Qt::ArrowCursor);
  Move(QPoint(30, 0));
  EXPECT_EQ(spin_->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(SpinTest, PressTakesTheFocus) {
  Activate();
  const struct {
    const char* name;
    Qt::MouseButton button;
    bool tabstop;
    bool focused;
  } rows[] = {
      {"left", Qt::LeftButton, true, true},
      {"right", Qt::RightButton, true, true},
      {"middle", Qt::MiddleButton, true, false},
      {"left without Tabstop", Qt::LeftButton, false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    spin_->SetTabstop(row.tabstop);
    spin_->clearFocus();
    Press(QPoint(10, 10), row.button);
    Release();
    EXPECT_EQ(spin_->hasFocus(), row.focused);
  }
}

TEST_F(SpinTest, PressGivesTheFocusToFocusControl) {
  Activate();
  auto* edit = new QLineEdit(&window_);
  edit->setGeometry(100, 10, 60, 22);
  edit->show();
  spin_->SetFocusControl(edit);
  Press(QPoint(10, 10));
  Release();
  EXPECT_TRUE(edit->hasFocus());
  // Already there: this control takes it instead.
  Press(QPoint(10, 10));
  Release();
  EXPECT_TRUE(spin_->hasFocus());

  delete edit;
  EXPECT_EQ(spin_->FocusControl(), nullptr);
  spin_->clearFocus();
  Press(QPoint(10, 10));
  EXPECT_TRUE(spin_->hasFocus());
  Release();
}

}  // namespace
}  // namespace korvane
