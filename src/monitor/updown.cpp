#include "monitor/updown.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <algorithm>

namespace korvane {

namespace {
constexpr int kFirstRepeatMs = 400;
constexpr int kRepeatMs = 100;
}  // namespace

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::TabFocus);
  connect(&repeat_, &QTimer::timeout, this, [this] {
    repeat_.setInterval(kRepeatMs);
    Click(pressedButton_);
  });
}

void TUpDown::SetPosition(std::int32_t position) noexcept {
  position_ = std::clamp(position, min_, std::max(min_, max_));
  update();
}

void TUpDown::SetRange(std::int32_t min, std::int32_t max) noexcept {
  min_ = min;
  max_ = max;
  SetPosition(position_);
}

void TUpDown::Click(TUDBtnType button) {
  bool allow = true;
  if (OnChanging) OnChanging(*this, allow);
  if (allow) {
    // 64-bit so a range at the ends of the 32-bit numbers cannot overflow.
    std::int64_t next = std::int64_t{position_} + (button == TUDBtnType::btNext ? 1 : -1);
    if (next > max_) next = wrap_ ? min_ : max_;
    if (next < min_) next = wrap_ ? max_ : min_;
    position_ = static_cast<std::int32_t>(next);
    update();
  }
  if (OnClick) OnClick(*this, button);
}

TUDBtnType TUpDown::ButtonAt(int y) const noexcept {
  return y < height() / 2 ? TUDBtnType::btNext : TUDBtnType::btPrev;
}

void TUpDown::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (focusPolicy() != Qt::NoFocus) setFocus(Qt::MouseFocusReason);
  pressed_ = true;
  pressedButton_ = ButtonAt(event->position().toPoint().y());
  update();
  repeat_.start(kFirstRepeatMs);
  Click(pressedButton_);
}

void TUpDown::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressed_ = false;
  repeat_.stop();
  update();
}

void TUpDown::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette& pal = palette();
  const int half = height() / 2;
  const QRect buttons[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
  for (int i = 0; i < 2; ++i) {
    const QRect& r = buttons[i];
    const bool down = pressed_ && static_cast<int>(pressedButton_) == i;
    painter.fillRect(r, pal.button());
    // A raised button: light top-left edges, dark bottom-right; pressed the other way round.
    painter.setPen(down ? pal.dark().color() : pal.light().color());
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(down ? pal.light().color() : pal.dark().color());
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
    const int cx = r.center().x() + (down ? 1 : 0);
    const int cy = r.center().y() + (down ? 1 : 0);
    QPolygon arrow;
    if (i == 0)
      arrow << QPoint(cx - 2, cy + 1) << QPoint(cx + 2, cy + 1) << QPoint(cx, cy - 1);
    else
      arrow << QPoint(cx - 2, cy - 1) << QPoint(cx + 2, cy - 1) << QPoint(cx, cy + 1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isEnabled() ? pal.buttonText() : pal.mid());
    painter.drawPolygon(arrow);
  }
}

}  // namespace korvane
