// The dump reception dialog: shown modally while a system-exclusive dump is
// captured; the input handler keeps the count in StRecv up to date.
#pragma once

#include <QDialog>

class QKeyEvent;
class QLabel;
class QPushButton;

namespace korvane {

class TRecieveForm : public QDialog {
  Q_OBJECT

 public:
  explicit TRecieveForm(QWidget* parent = nullptr);

  QPushButton* BDone;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* StRecv;
  QLabel* Label3;
  QLabel* Label4;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// Made once at start-up, after the main window, and reused for every reception.
extern TRecieveForm* RecieveForm;

}  // namespace korvane
