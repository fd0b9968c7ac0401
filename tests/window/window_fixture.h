// An offscreen main window on a scripted driver, in a folder of its own (the
// settings file lands there), with the error report recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QToolButton>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "controls/spincw0r.h"
#include "midi/miditype.h"
#include "monitor/errorreport.h"
#include "monitor/korvanep.h"  // first: see the note on `slots` in it
#include "monitor/monitorstate.h"
#include "monitor/monprocs.h"
#include "platform/message_queue.h"
#include "platform/scripted/scripted_driver.h"

QT_BEGIN_NAMESPACE
// Readable values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& lines, std::ostream* out) {
  for (const QString& line : lines) *out << "\n  \"" << line.toStdString() << '"';
}
inline void PrintTo(const QSize& size, std::ostream* out) {
  *out << size.width() << " x " << size.height();
}
inline void PrintTo(const QPoint& point, std::ostream* out) {
  *out << '(' << point.x() << ", " << point.y() << ')';
}
inline void PrintTo(const QColor& color, std::ostream* out) {
  *out << color.name().toStdString();
}
QT_END_NAMESPACE

namespace korvane {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    previousFolder_ = QDir::currentPath();
    QDir::setCurrent(folder_.path());
    // The window's globals start at zero for every run of the program.
    std::destroy_at(&MonitorState);
    std::construct_at(&MonitorState);
    previousHook_ =
        SetErrorReportHook([this](const std::string& text) { reports_.push_back(text); });
    driver_ = std::make_unique<ScriptedDriver>(std::vector<std::string>{"In A", "In B"},
                                               std::vector<std::string>{"Out A", "Out B"});
  }

  void TearDown() override {
    if (form_) {
      // Long messages still with the driver come back before the ports go.
      driver_->SyncAndProcess();
      form_.reset();
    }
    driver_.reset();
    MessageQueue::Instance().ProcessMessages();
    SetErrorReportHook(std::move(previousHook_));
    QDir::setCurrent(previousFolder_);
  }

  // Makes and shows the window (its first sizing sets the log's limit).
  TMonitorForm& Start() {
    form_ = std::make_unique<TMonitorForm>(*driver_);
    form_->show();
    QApplication::processEvents();
    return *form_;
  }

  void WriteSettings(const std::string& text) {
    QFile file(QDir(folder_.path()).filePath(QStringLiteral("Korvane.ini")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text.data(), static_cast<qint64>(text.size()));
  }

  std::string SettingsText() const {
    QFile file(QDir(folder_.path()).filePath(QStringLiteral("Korvane.ini")));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll().toStdString();
  }

  // Short messages (status in bits 0-7) into input device `device`, then
  // their notifications dispatched.
  void Feed(const std::vector<std::uint32_t>& packed, std::uint32_t device = 0) {
    for (std::uint32_t message : packed) driver_->FeedShort(message, 0x1234, device);
    driver_->SyncAndProcess();
  }

  void FeedSysex(std::vector<std::uint8_t> bytes) {
    driver_->FeedSysex(std::move(bytes), 0x1234);
    driver_->SyncAndProcess();
  }

  QStringList MemoLines() const {
    QStringList lines;
    for (QTextBlock b = form_->Memo1->document()->begin(); b.isValid(); b = b.next())
      lines << b.text();
    if (lines.size() == 1 && lines[0].isEmpty()) lines.clear();
    return lines;
  }

  static QString Line(std::uint32_t packed) {
    TMyMidiEvent event;
    event.StatusByte = static_cast<std::uint8_t>(packed);
    event.DataByte1 = static_cast<std::uint8_t>(packed >> 8);
    event.DataByte2 = static_cast<std::uint8_t>(packed >> 16);
    event.TimeStamp = 0x1234;
    return QString::fromStdString(EventLineText(event));
  }

  static QColor Background(const QWidget* widget) {
    return widget->palette().color(QPalette::Window);
  }

  // Outer size: frame, caption and menu included.
  QSize OuterSize() const { return form_->frameGeometry().size(); }

  QTemporaryDir folder_;
  QString previousFolder_;
  ErrorReportHook previousHook_;
  std::vector<std::string> reports_;
  std::unique_ptr<ScriptedDriver> driver_;
  std::unique_ptr<TMonitorForm> form_;
};

inline const QColor kRed(255, 0, 0);
inline const QColor kLime(0, 255, 0);
inline const QColor kMaroon(128, 0, 0);

}  // namespace korvane
