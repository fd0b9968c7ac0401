// libFuzzer target: any bytes as the settings file, read and saved in memory
// by the same code that reads and saves "Korvane.ini".
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/settings_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string fault = korvane::CheckSettingsSave({reinterpret_cast<const char*>(data), size});
  if (!fault.empty()) {
    std::fprintf(stderr, "settings save: %s\n", fault.c_str());
    std::abort();
  }
  return 0;
}
