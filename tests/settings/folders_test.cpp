// InitFolders: the working folder at start-up, of any length, keeps the
// settings file in place when the working folder changes later.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "monitor/inifile.h"
#include "monitor/monitorstate.h"
#include "monitor/winfuncties.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

class Folders : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "korvane-folders-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Goes down through folders of 200-character names, one chdir at a time,
  // until the path is at least `length` long.
  std::string DeepFolder(std::size_t length) {
    fs::current_path(root_);
    std::string path = fs::current_path().string();
    const std::string name(200, 'k');
    while (path.size() < length) {
      fs::create_directory(name);
      fs::current_path(name);
      path += "/" + name;
    }
    return path;
  }

  fs::path previous_;
  fs::path root_;
};

TEST_F(Folders, StartFolderIsTheWorkingFolderWithASeparatorForAnyLength) {
  for (std::size_t length : {std::size_t{0}, std::size_t{145}, std::size_t{5000}}) {
    SCOPED_TRACE(length);
    const std::string path = DeepFolder(length);
    MonitorState.StartFolder = "stale";
    InitFolders();
    EXPECT_EQ(MonitorState.StartFolder, path + "/");
  }
}

TEST_F(Folders, TheRootFolderGetsOneSeparator) {
  fs::current_path("/");
  InitFolders();
  EXPECT_EQ(MonitorState.StartFolder, "/");
}

TEST_F(Folders, ALaterChangeOfWorkingFolderDoesNotMoveTheSettingsFile) {
  fs::current_path(root_);
  InitFolders();
  fs::create_directory(root_ / "elsewhere");
  fs::current_path(root_ / "elsewhere");
  SaveSettings();
  EXPECT_TRUE(fs::exists(root_ / "Korvane.ini"));
  EXPECT_FALSE(fs::exists(root_ / "elsewhere" / "Korvane.ini"));
}

}  // namespace
}  // namespace korvane
