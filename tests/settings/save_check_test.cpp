// The fuzz target's check as a regular test: the committed seed files, and
// every input on which the fuzzer once found a fault.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fuzz/settings_check.h"

namespace korvane {
namespace {

struct FoundInput {
  const char* name;
  std::string text;
};

// One row per input that ever failed, with what it broke.
const FoundInput kFoundInputs[] = {
    // The line end added after a last line that ends in a lone CR makes the
    // CR part of a CR LF; no byte of the line changes.
    {"last line ends in a lone CR", "no sections hy=value\r"},
};

TEST(SettingsSaveCheck, InputsTheFuzzerOnceFailedOn) {
  for (const FoundInput& row : kFoundInputs) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CheckSettingsSave(row.text), "");
  }
}

TEST(SettingsSaveCheck, SeedFiles) {
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(KORVANE_SETTINGS_SEEDS)) {
    SCOPED_TRACE(entry.path().string());
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(CheckSettingsSave(text.str()), "");
    ++seen;
  }
  EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace korvane
