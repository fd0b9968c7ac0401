#include "monitor/recievef.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

namespace korvane {

TRecieveForm* RecieveForm = nullptr;

namespace {

QLabel* MakeLabel(QWidget* parent, const char* caption, int left, int top) {
  auto* label = new QLabel(QString::fromLatin1(caption), parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

void MakeBoldNavy(QLabel* label, int pixelSize) {
  QFont font = label->font();
  font.setBold(true);
  if (pixelSize > 0) font.setPixelSize(pixelSize);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 0, 128));
  label->setPalette(palette);
}

}  // namespace

TRecieveForm::TRecieveForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(" Recieve System Excusieve Messages"));
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(11);
  setFont(font);
  setModal(true);
  // Outer size 432 x 168 at 120, 183 on the screen; the frame is the window
  // manager's, so the client area is what we can size.
  move(120, 183);
  resize(432, 168);

  Label3 = MakeLabel(this, "[Enter] or Press [Start] on Unit to start Recieving Dump.", 60, 14);
  MakeBoldNavy(Label3, 0);
  Label3->adjustSize();
  Label1 = MakeLabel(this, "Bytes Recieved: ", 60, 50);

  StRecv = new QLabel(QStringLiteral("0"), this);
  StRecv->setGeometry(147, 48, 72, 18);
  StRecv->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  StRecv->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  MakeBoldNavy(StRecv, 13);

  Label4 = MakeLabel(this, "Space for 500.000 bytes", 256, 50);

  BDone = new QPushButton(QStringLiteral("Done"), this);
  BDone->setGeometry(146, 70, 73, 23);
  BDone->setDefault(true);
  BDone->setFocus();
  connect(BDone, &QPushButton::clicked, this, &QDialog::accept);

  Label2 =
      MakeLabel(this, "Press Done when bytes do not increment for more than 3 seconds", 60, 102);
}

void TRecieveForm::keyPressEvent(QKeyEvent* event) {
  // The dialog has no Cancel: a reception ends with Done or the close box, not
  // with a stray Escape in the middle of a dump.
  if (event->matches(QKeySequence::Cancel)) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace korvane
