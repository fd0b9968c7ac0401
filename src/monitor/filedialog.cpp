#include "monitor/filedialog.h"

#include <QFileDialog>
#include <QStringList>
#include <utility>

namespace korvane {
namespace {
FileDialogHook& Hook() {
  static FileDialogHook hook;
  return hook;
}
}  // namespace

FileDialogHook SetFileDialogHook(FileDialogHook hook) {
  return std::exchange(Hook(), std::move(hook));
}

std::string QtFilterText(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(u'|');
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
    entries << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(u';', u' '));
  return entries.join(QStringLiteral(";;")).toStdString();
}

bool TFileDialog::Execute(QWidget* parent) {
  if (Hook()) return Hook()(*this);
  QFileDialog dialog(parent, QString::fromStdString(Title));
  dialog.setAcceptMode(Kind == TFileDialogKind::Save ? QFileDialog::AcceptSave
                                                     : QFileDialog::AcceptOpen);
  // Without the create prompt the open dialog would insist on an existing file.
  dialog.setFileMode(Kind == TFileDialogKind::Open && !CreatePrompt ? QFileDialog::ExistingFile
                                                                    : QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite,
                   !(OverwritePrompt && Kind == TFileDialogKind::Save));
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (!Filter.empty())
    dialog.setNameFilters(QString::fromStdString(QtFilterText(Filter)).split(QStringLiteral(";;")));
  if (!FileName.empty()) dialog.selectFile(QString::fromStdString(FileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  FileName = dialog.selectedFiles().constFirst().toStdString();
  return true;
}

}  // namespace korvane
