// The start-up folder that holds the settings file, and short notices to the
// user. UI thread only.
#pragma once

#include <string>

namespace korvane {

// MonitorState.StartFolder := the working folder now, followed by '/'. Called
// once, first thing at start-up, so the settings file stays in this folder
// even when the working folder changes later. Left empty (the settings file
// then lies in whatever the working folder is) when the working folder can
// no longer be found.
void InitFolders();

// A modal information box centred on the screen: caption "Information", the
// information icon, the text, and one "OK" button that is both the default
// and the Escape button. Returns when the user closes it.
void ShowInformation(const std::string& text);

}  // namespace korvane
