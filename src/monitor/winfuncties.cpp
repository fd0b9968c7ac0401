#include "monitor/winfuncties.h"

#include <unistd.h>

#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "monitor/monitorstate.h"

namespace korvane {

void InitFolders() {
  // getcwd with no buffer sizes its own, so a working folder of any length
  // fits.
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  if (!cwd) {
    MonitorState.StartFolder.clear();
    return;
  }
  MonitorState.StartFolder = cwd.get();
  if (MonitorState.StartFolder.empty() || MonitorState.StartFolder.back() != '/') {
    MonitorState.StartFolder += '/';
  }
}

void ShowInformation(const std::string& text) {
  // No parent: the box is centred on the screen, not on a window.
  QMessageBox box(QMessageBox::Information, QStringLiteral("Information"),
                  QString::fromStdString(text));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  // Our own button rather than the standard one, whose text follows the
  // installed translation.
  QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  box.setDefaultButton(ok);
  box.setEscapeButton(ok);
  box.exec();
}

}  // namespace korvane
