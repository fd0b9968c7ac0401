// What a save of the settings must keep, checked on any file text: the seven
// keys read back as written, every other line stays byte for byte in its
// order, and a second save of the same values changes nothing. Shared by the
// fuzz target and the regular test that keeps the inputs it once failed on.
#pragma once

#include <string>
#include <string_view>

namespace korvane {

// Empty when the save of fileText kept all of the above; otherwise what broke.
std::string CheckSettingsSave(std::string_view fileText);

}  // namespace korvane
