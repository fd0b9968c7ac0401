// The application's standard error report, and the guard that every command
// handler runs in, so that no exception ever reaches Qt's event loop.
#pragma once

#include <functional>
#include <string>

namespace korvane {

// Shows `text` to the user and returns; the program goes on. By default a
// modal message box; tests install a hook that records the text instead.
void ShowErrorReport(const std::string& text);

using ErrorReportHook = std::function<void(const std::string& text)>;
// Replaces the report (an empty hook restores the message box); returns the
// previous hook.
ErrorReportHook SetErrorReportHook(ErrorReportHook hook);

// Runs `command`; whatever it throws goes to ShowErrorReport.
void RunGuarded(const std::function<void()>& command) noexcept;

}  // namespace korvane
