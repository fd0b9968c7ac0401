#include "controls/spincw0r.h"

#include <QCursor>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

namespace korvane {

namespace {

constexpr int kMinWidth = 44;
constexpr int kMinHeight = 22;
// The handle area starts here whatever the width, so a wide control has part
// of its number field in it.
constexpr int kHandleLeft = 27;

// A one-pixel frame on (l, t, r, b): the left column and top row in the first
// colour, the right column r - 1 and bottom row b - 1 in the second, which
// also takes the top-right and bottom-left corners.
void Bevel(QPainter& p, int l, int t, int r, int b, const QColor& first, const QColor& second) {
  p.fillRect(l, t, 1, b - 1 - t, first);
  p.fillRect(l, t, r - 1 - l, 1, first);
  p.fillRect(r - 1, t, 1, b - t, second);
  p.fillRect(l, b - 1, r - l, 1, second);
}

bool CanFocus(const QWidget& w) {
  return w.isVisible() && w.isEnabled();
}

}  // namespace

TSpincw0R::TSpincw0R(QWidget* parent) : QWidget(parent) {
  // Movements without a button pressed set the cursor over the handle.
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(kMinWidth, kMinHeight);
  SetBKColor(clWindow);
  SetTabstop(true);
  cursor_.Pos = [] { return QCursor::pos(); };
  cursor_.SetPos = [](const QPoint& p) { QCursor::setPos(p); };
}

void TSpincw0R::SetValue(std::int32_t v) {
  // Both tests look at v, so with MinValue above MaxValue the minimum wins
  // for any v up to MaxValue.
  value_ = v;
  if (v > max_value_) value_ = max_value_;
  if (v < min_value_) value_ = min_value_;
  Change();
  repaint();
}

void TSpincw0R::SetMinValue(std::int32_t v) {
  min_value_ = v;
  if (value_ < v) value_ = v;
  update();
}

void TSpincw0R::SetMaxValue(std::int32_t v) {
  max_value_ = v;
  if (value_ > v) value_ = v;
  update();
}

void TSpincw0R::SetBKColor(TColor c) {
  bk_color_ = c;
  saved_bk_color_ = c;
  update();
}

void TSpincw0R::SetLedOnCol(TColor c) {
  led_on_col_ = c;
  update();
}

void TSpincw0R::SetLedOffCol(TColor c) {
  led_off_col_ = c;
  update();
}

void TSpincw0R::SetCMinColor(TColor c) {
  cmin_color_ = c;
  update();
}

void TSpincw0R::SetPanelwidth(std::uint8_t b) {
  panel_width_ = std::min<std::uint8_t>(b, 2);
  update();
}

void TSpincw0R::SetFontColor(TColor c) {
  font_color_ = c;
  update();
}

void TSpincw0R::SetFocusControl(QWidget* control) {
  focus_control_ = control;
}

bool TSpincw0R::Tabstop() const {
  return (focusPolicy() & Qt::TabFocus) != 0;
}

// Click focus is left out on purpose: the press handler decides who gets the
// focus, and only for the left and right buttons.
void TSpincw0R::SetTabstop(bool on) {
  setFocusPolicy(on ? Qt::TabFocus : Qt::NoFocus);
}

void TSpincw0R::SetCursorAccess(TCursorAccess access) {
  cursor_ = std::move(access);
}

bool TSpincw0R::InHandleArea(const QPoint& p) const {
  return p.x() >= kHandleLeft && p.x() <= width() - 1 && p.y() >= 1 && p.y() <= height() - 1;
}

void TSpincw0R::Change() {
  // A copy, so a handler may replace OnChange while it runs.
  const TNotifyEvent handler = OnChange;
  if (handler) handler(*this);
}

void TSpincw0R::paintEvent(QPaintEvent* /*event*/) {
  if (height() < kMinHeight || width() < kMinWidth) {
    resize(std::max(width(), kMinWidth), std::max(height(), kMinHeight));
  }
  const int w = width();
  const int h = height();
  const QPalette& pal = palette();
  const auto color = [&pal](TColor c) { return ColorToQColor(c, pal); };
  const QColor btn_shadow = color(clBtnShadow);
  const QColor btn_highlight = color(clBtnHighlight);
  const QColor background = color(bk_color_);

  // Composed off-screen and copied in one piece, so no half-drawn state shows.
  const qreal dpr = devicePixelRatioF();
  QPixmap image(QSize(w, h) * dpr);
  image.setDevicePixelRatio(dpr);
  {
    QPainter p(&image);
    p.setFont(font());
    p.fillRect(0, 0, w, h, color(clBtnFace));
    Bevel(p, 0, 0, w - 1, h - 1, btn_shadow, btn_highlight);
    p.fillRect(2, 2, w - 18, h - 5, background);

    const QString text = QString::number(value_);
    const int x = value_ >= 100 ? 5 : value_ >= 10 ? 8 : value_ >= 0 ? 11 : 14;
    const QFontMetrics metrics = p.fontMetrics();
    const QRect cell(x, 4, metrics.horizontalAdvance(text), metrics.height());
    p.fillRect(cell, background);
    p.setPen(color(font_color_));
    p.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);

    Bevel(p, w - 14, 1, w - 2, h - 2, btn_highlight, btn_shadow);
    p.fillRect(w - 12, 3, 7, h - 7, color(dragging_ ? led_on_col_ : led_off_col_));
    Bevel(p, 1, 1, w - 15, h - 2, QColor(Qt::black), btn_shadow);
  }
  QPainter(this).drawPixmap(0, 0, image);
}

void TSpincw0R::keyPressEvent(QKeyEvent* event) {
  const bool keypad = (event->modifiers() & Qt::KeypadModifier) != 0;
  prev_value_ = value_;
  // Wide, so a step past the 32-bit range is limited instead of overflowing.
  std::int64_t v = value_;
  switch (event->key()) {
    case Qt::Key_Up:
      ++v;
      break;
    case Qt::Key_Down:
      --v;
      break;
    case Qt::Key_Plus:
      if (keypad) ++v;
      break;
    case Qt::Key_Minus:
      if (keypad) --v;
      break;
    case Qt::Key_PageUp:
      v += 10;
      break;
    case Qt::Key_PageDown:
      v -= 10;
      break;
    case Qt::Key_End:
      v = max_value_;
      break;
    case Qt::Key_Home:
      v = min_value_;
      break;
    case Qt::Key_Insert:
      v = (std::int64_t{max_value_} + min_value_) / 2;
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  // Compared before limiting: Up at the maximum still reports a change,
  // End at the maximum does not.
  if (v != prev_value_) {
    if (v < min_value_) v = min_value_;
    if (v > max_value_) v = max_value_;
    value_ = static_cast<std::int32_t>(v);
    Change();
    repaint();
  }
}

void TSpincw0R::keyReleaseEvent(QKeyEvent* /*event*/) {}

void TSpincw0R::focusInEvent(QFocusEvent* /*event*/) {
  bk_color_ = clHighlight;
  font_color_ = clHighlightText;
  repaint();
}

void TSpincw0R::focusOutEvent(QFocusEvent* /*event*/) {
  // Whatever font colour was set before the focus came, it is not restored.
  bk_color_ = saved_bk_color_;
  font_color_ = clWindowText;
  repaint();
}

void TSpincw0R::mousePressEvent(QMouseEvent* event) {
  const Qt::MouseButton button = event->button();
  if (button == Qt::LeftButton || button == Qt::RightButton) {
    QWidget* other = focus_control_;
    if (other != nullptr && (other->focusPolicy() & Qt::TabFocus) && CanFocus(*other) &&
        !other->hasFocus()) {
      other->setFocus(Qt::MouseFocusReason);
    } else if (Tabstop() && !hasFocus() && CanFocus(*this)) {
      setFocus(Qt::MouseFocusReason);
    }
  }
  if (InHandleArea(event->position().toPoint())) dragging_ = true;

  // Only exactly one modifier with the left button alone gives bigger steps.
  const auto modifiers =
      event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
  const auto buttons = event->buttons() & (Qt::LeftButton | Qt::RightButton | Qt::MiddleButton);
  if (buttons == Qt::LeftButton) {
    if (modifiers == Qt::ShiftModifier) shift_drag_ = true;
    if (modifiers == Qt::ControlModifier) ctrl_drag_ = true;
  }
  repaint();
}

void TSpincw0R::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pos = event->position().toPoint();
  // Qt keeps the pointer for any button held, but only the left button
  // captures it here: a drag with another button sees movements over the
  // control alone.
  if (!(event->buttons() & Qt::LeftButton) && !rect().contains(pos)) return;

  setCursor(InHandleArea(pos) ? Qt::SplitVCursor : Qt::ArrowCursor);
  if (!dragging_) return;

  prev_value_ = value_;
  drag_anchor_ = cursor_.Pos();
  const int step = 1 + (shift_drag_ ? 4 : 0) + (ctrl_drag_ ? 9 : 0);
  // One step per movement event however far the pointer went, and the
  // pointer is pulled back one pixel so it never runs off the screen.
  std::int64_t v = value_;
  if (pos.y() > last_y_) {
    v -= step;
    last_y_ = pos.y() - 1;
    cursor_.SetPos(QPoint(drag_anchor_.x(), drag_anchor_.y() - 1));
    if (v < min_value_) v = min_value_;
  } else if (pos.y() < last_y_) {
    v += step;
    last_y_ = pos.y() + 1;
    cursor_.SetPos(QPoint(drag_anchor_.x(), drag_anchor_.y() + 1));
    if (v > max_value_) v = max_value_;
  }
  value_ = static_cast<std::int32_t>(v);
  drag_changed_ = true;
  const TNotifyEvent handler = OnChanging;
  if (handler) handler(*this);
  repaint();
}

void TSpincw0R::mouseReleaseEvent(QMouseEvent* /*event*/) {
  if (drag_changed_) Change();
  dragging_ = false;
  shift_drag_ = false;
  ctrl_drag_ = false;
  drag_changed_ = false;
  repaint();
}

}  // namespace korvane
