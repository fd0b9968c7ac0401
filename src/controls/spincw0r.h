// TSpincw0R: a small custom-drawn integer control. The number sits in a
// sunken field; at the right edge a raised handle with a lamp. Keys change
// the value while the control has the focus; pressing on the handle area and
// moving the pointer up or down drags it, one step per movement event.
// UI thread only.
#pragma once

#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "controls/colors.h"

namespace korvane {

class TSpincw0R : public QWidget {
  Q_OBJECT

 public:
  using TNotifyEvent = std::function<void(TSpincw0R& sender)>;

  // Reading and moving the pointer's screen position. The platform cursor by
  // default; tests put their own in, as an offscreen screen has no pointer.
  struct TCursorAccess {
    std::function<QPoint()> Pos;
    std::function<void(const QPoint&)> SetPos;
  };

  explicit TSpincw0R(QWidget* parent = nullptr);

  std::int32_t Value() const { return value_; }
  // Limits to the bounds, then always fires OnChange and repaints at once.
  void SetValue(std::int32_t v);
  std::int32_t MinValue() const { return min_value_; }
  void SetMinValue(std::int32_t v);  // pulls Value up without an event
  std::int32_t MaxValue() const { return max_value_; }
  void SetMaxValue(std::int32_t v);  // pulls Value down without an event

  // The background in use: clHighlight while focused.
  TColor BKColor() const { return bk_color_; }
  void SetBKColor(TColor c);
  TColor LedOnCol() const { return led_on_col_; }
  void SetLedOnCol(TColor c);
  TColor LedOffCol() const { return led_off_col_; }
  void SetLedOffCol(TColor c);
  TColor CMinColor() const { return cmin_color_; }  // stored only
  void SetCMinColor(TColor c);
  std::uint8_t Panelwidth() const { return panel_width_; }  // stored only, at most 2
  void SetPanelwidth(std::uint8_t b);
  TColor FontColor() const { return font_color_; }
  void SetFontColor(TColor c);

  // Takes the focus instead of this control when this one is pressed.
  QWidget* FocusControl() const { return focus_control_; }
  void SetFocusControl(QWidget* control);

  // Reachable with Tab and taking the focus when pressed.
  bool Tabstop() const;
  void SetTabstop(bool on);

  void SetCursorAccess(TCursorAccess access);

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;  // every pointer movement during a drag

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool InHandleArea(const QPoint& p) const;
  void Change();

  std::int32_t value_ = 0;
  std::int32_t min_value_ = 0;
  std::int32_t max_value_ = 127;
  TColor bk_color_ = clWindow;
  TColor saved_bk_color_ = clWindow;
  TColor led_on_col_ = clRed;
  TColor led_off_col_ = clGray;
  TColor cmin_color_ = clOlive;
  TColor font_color_ = clWindowText;
  std::uint8_t panel_width_ = 1;
  QPointer<QWidget> focus_control_;  // forgets a control that is destroyed
  TCursorAccess cursor_;

  bool shift_drag_ = false;
  bool ctrl_drag_ = false;
  QPoint drag_anchor_;
  // Vertical reference of the drag. Not reset by a press, so a drag's first
  // movement is compared with where the previous drag left it (0 at first).
  std::int32_t last_y_ = 0;
  std::int32_t prev_value_ = 0;
  bool drag_changed_ = false;
  bool dragging_ = false;
};

}  // namespace korvane
