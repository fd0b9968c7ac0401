// The open and save file dialogs of the main window, with the settings the
// window gives them. Execute shows the platform's dialog, unless a hook is
// installed (tests hand file names in through it).
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace korvane {

enum class TFileDialogKind { Open, Save };

class TFileDialog {
 public:
  explicit TFileDialog(TFileDialogKind kind) : Kind(kind) {}

  // True when the user chose a file; FileName then holds it.
  bool Execute(QWidget* parent = nullptr);

  const TFileDialogKind Kind;
  std::string FileName;    // offered at Execute, the chosen one after it
  std::string Title;       // empty: the platform's own title
  std::string Filter;      // "Sysex Files|*.syx|All Files|*.*"; empty: every file
  std::string DefaultExt;  // as given, e.g. "*.syx"
  bool OverwritePrompt = false;
  bool HideReadOnly = false;
  bool CreatePrompt = false;
};

// Stands in for every dialog's Execute; returns what Execute returns.
using FileDialogHook = std::function<bool(TFileDialog& dialog)>;
// An empty hook restores the platform's dialogs; returns the previous hook.
FileDialogHook SetFileDialogHook(FileDialogHook hook);

// "Name|pattern|Name|pattern" as Qt's "Name (pattern);;Name (pattern)".
std::string QtFilterText(const std::string& filter);

}  // namespace korvane
