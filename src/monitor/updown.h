// An up-down control: two arrow buttons, one above the other, that step an
// integer position within a range. Holding a button repeats the step.
#pragma once

#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>

namespace korvane {

enum class TUDBtnType { btNext, btPrev };  // up arrow, down arrow

class TUpDown : public QWidget {
  Q_OBJECT

 public:
  // Before the position moves; clearing allowChange keeps it where it is.
  using ChangingHandler = std::function<void(TUpDown& sender, bool& allowChange)>;
  // After the position has moved (or stayed at an end of the range).
  using ClickHandler = std::function<void(TUpDown& sender, TUDBtnType button)>;

  explicit TUpDown(QWidget* parent = nullptr);

  std::int32_t Position() const noexcept { return position_; }
  void SetPosition(std::int32_t position) noexcept;  // limited to the range, no events
  std::int32_t Min() const noexcept { return min_; }
  std::int32_t Max() const noexcept { return max_; }
  void SetRange(std::int32_t min, std::int32_t max) noexcept;
  bool Wrap() const noexcept { return wrap_; }
  void SetWrap(bool wrap) noexcept { wrap_ = wrap; }

  ChangingHandler OnChanging;
  ClickHandler OnClick;

  // What one click on a button does: OnChanging, the step, OnClick.
  void Click(TUDBtnType button);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  TUDBtnType ButtonAt(int y) const noexcept;

  std::int32_t position_ = 0;
  std::int32_t min_ = 0;
  std::int32_t max_ = 100;
  bool wrap_ = false;
  bool pressed_ = false;
  TUDBtnType pressedButton_ = TUDBtnType::btNext;
  QTimer repeat_;
};

}  // namespace korvane
