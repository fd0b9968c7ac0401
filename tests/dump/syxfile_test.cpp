#include "monitor/syxfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <vector>

namespace korvane {
namespace {

namespace fs = std::filesystem;

TEST(SyxFilePath, ExtensionRule) {
  struct Case {
    const char* name;
    const char* path;
  };
  const Case cases[] = {
      {"/tmp/dump.syx", "/tmp/dump.syx"}, {"/tmp/DUMP.SYX", "/tmp/DUMP.SYX"},
      {"/tmp/dump", "/tmp/dump.syx"},     {"/tmp/dump.syx.bak", "/tmp/dump.syx.bak.syx"},
      {"/tmp/dump.", "/tmp/dump..syx"},   {"/tmp/my.folder/dump", "/tmp/my.folder/dump.syx"},
      {"dump.Syx", "dump.Syx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SyxFilePath(c.name), c.path);
  }
}

TEST(InOutError, Texts) {
  EXPECT_EQ(InOutErrorText(2), "File not found");
  EXPECT_EQ(InOutErrorText(3), "Invalid filename");
  EXPECT_EQ(InOutErrorText(4), "Too many open files");
  EXPECT_EQ(InOutErrorText(5), "File access denied");
  EXPECT_EQ(InOutErrorText(100), "Read beyond end of file");
  EXPECT_EQ(InOutErrorText(101), "Disk full");
  EXPECT_EQ(InOutErrorText(32), "I/O error 32");
  // Operating-system errors whose own numbers would read as another text.
  EXPECT_EQ(InOutErrorText(InOutCodeFromErrno(ENOSPC)), "Disk full");
  EXPECT_EQ(InOutErrorText(InOutCodeFromErrno(EIO)), "I/O error 162");
}

class SyxFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("korvane-syx-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(SyxFileTest, WriteThenReadRoundTrips) {
  std::vector<std::uint8_t> bytes(500001);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 13);
  const std::string path = (dir_ / "big.syx").string();
  {
    SyxFile file = SyxFile::Create(path);
    file.Write(bytes.data(), bytes.size());
    file.Close();
  }
  SyxFile file = SyxFile::OpenForReading(path);
  ASSERT_EQ(file.Size(), bytes.size());
  std::vector<std::uint8_t> back(bytes.size());
  file.Read(back.data(), back.size());
  EXPECT_EQ(back, bytes);
}

TEST_F(SyxFileTest, ReadOnlyFileOpens) {
  const fs::path path = dir_ / "ro.syx";
  std::ofstream(path) << "\xF0\xF7";
  fs::permissions(path, fs::perms::owner_read);
  SyxFile file = SyxFile::OpenForReading(path.string());
  EXPECT_EQ(file.Size(), 2u);
}

// Failures made real without relying on permission bits (tests may run as root).
TEST_F(SyxFileTest, FailuresCarryTheirTexts) {
  auto message = [](auto&& action) -> std::string {
    try {
      action();
    } catch (const EInOutError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message([&] { SyxFile::OpenForReading((dir_ / "missing.syx").string()); }),
            "File not found");
  EXPECT_EQ(message([&] { SyxFile::Create((dir_ / "no-such-folder" / "x.syx").string()); }),
            "File not found");
  EXPECT_EQ(message([&] { SyxFile::OpenForReading(dir_.string()); }), "File access denied");

  // A file system that is always full.
  const fs::path full = dir_ / "full.syx";
  fs::create_symlink("/dev/full", full);
  const std::uint8_t bytes[] = {0xF0, 0x01, 0xF7};
  EXPECT_EQ(message([&] {
              SyxFile file = SyxFile::Create(full.string());
              file.Write(bytes, sizeof bytes);
              file.Close();
            }),
            "Disk full");
}

// A named pipe chosen in a file dialog, with nobody at its other end: opening
// it must not wait for a partner, or the window would freeze.
TEST_F(SyxFileTest, ANamedPipeDoesNotHang) {
  const fs::path pipe = dir_ / "pipe.syx";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
  auto within = [&](auto&& action) {
    auto done = std::async(std::launch::async, action);
    if (done.wait_for(std::chrono::seconds(3)) == std::future_status::ready) return true;
    // Free the waiting open by taking the other end for a moment.
    const int fd = ::open(pipe.c_str(), O_RDWR | O_NONBLOCK);
    done.wait();
    if (fd >= 0) ::close(fd);
    return false;
  };
  EXPECT_TRUE(within([&] { EXPECT_EQ(SyxFile::OpenForReading(pipe.string()).Size(), 0u); }));
  EXPECT_TRUE(within([&] { EXPECT_THROW(SyxFile::Create(pipe.string()), EInOutError); }));
}

}  // namespace
}  // namespace korvane
