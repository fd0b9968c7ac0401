#include "monitor/errorreport.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <utility>

namespace korvane {
namespace {
ErrorReportHook& Hook() {
  static ErrorReportHook hook;
  return hook;
}
}  // namespace

void ShowErrorReport(const std::string& text) {
  if (Hook()) {
    Hook()(text);
    return;
  }
  QMessageBox box(QMessageBox::Critical, QApplication::applicationDisplayName(),
                  QString::fromStdString(text), QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

ErrorReportHook SetErrorReportHook(ErrorReportHook hook) {
  return std::exchange(Hook(), std::move(hook));
}

void RunGuarded(const std::function<void()>& command) noexcept {
  // The report itself may fail (no memory for the box); then there is
  // nothing left to tell the user with, and the program still goes on.
  try {
    try {
      command();
    } catch (const std::exception& e) {
      ShowErrorReport(e.what());
    } catch (...) {
      ShowErrorReport("Unknown error");
    }
  } catch (...) {
  }
}

}  // namespace korvane
