// ShowInformation with Qt offscreen: the box is found as the active modal
// widget while ShowInformation waits in it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "monitor/winfuncties.h"

namespace korvane {
namespace {

// Runs `inspect` on the information box once it is up, then presses `key`
// on it; fails the test if no box shows within a few seconds.
void WhileShown(const std::function<void(QMessageBox&)>& inspect, int key) {
  QTimer poll;
  int tries = 0;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) {
      if (++tries > 300) {
        poll.stop();
        ADD_FAILURE() << "no modal information box showed";
        QApplication::exit();
      }
      return;
    }
    poll.stop();
    inspect(*box);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(box, &press);
  });
  poll.start(10);
  ShowInformation("There is no valid Sysex-Message in the buffer");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(InformationBox, ShowsTheTextUnderItsCaptionWithOneOkButton) {
  bool inspected = false;
  WhileShown(
      [&](QMessageBox& box) {
        inspected = true;
        EXPECT_EQ(box.windowTitle(), "Information");
        EXPECT_EQ(box.text(), "There is no valid Sysex-Message in the buffer");
        EXPECT_EQ(box.icon(), QMessageBox::Information);
        EXPECT_TRUE(box.isModal());
        ASSERT_EQ(box.buttons().size(), 1);
        auto* ok = qobject_cast<QPushButton*>(box.buttons().front());
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->text(), "OK");
        EXPECT_EQ(box.defaultButton(), ok);
        EXPECT_EQ(box.escapeButton(), ok);
      },
      Qt::Key_Return);
  EXPECT_TRUE(inspected);
}

TEST(InformationBox, EscapeClosesIt) {
  WhileShown([](QMessageBox&) {}, Qt::Key_Escape);
}

}  // namespace
}  // namespace korvane
