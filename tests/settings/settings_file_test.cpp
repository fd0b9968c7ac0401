// The settings file: value texts, a file written from nothing, other lines
// kept byte for byte, and writes the file system refuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "monitor/inifile.h"
#include "monitor/monitorstate.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

// A fresh folder for the settings file; MonitorState.StartFolder points at it.
class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korvane-settings-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern + "/";
    MonitorState.StartFolder = folder_;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(folder_, ec);
  }

  std::string Path() const { return folder_ + "Korvane.ini"; }

  void WriteFile(const std::string& path, const std::string& text) const {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good());
  }

  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Names in the folder, so a left-over temporary file shows.
  std::vector<std::string> FolderEntries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  static void SetAllSeven(std::int32_t in1, std::int32_t in2, std::int32_t out, std::int32_t left,
                          std::int32_t top, std::uint8_t frames, std::uint8_t tc) {
    MonitorState.InPortIndex = in1;
    MonitorState.InPort2Index = in2;
    MonitorState.OutPortIndex = out;
    MonitorState.WinLeft = left;
    MonitorState.WinTop = top;
    MonitorState.ShowFrames = frames;
    MonitorState.TcView = tc;
  }

  std::string folder_;
};

struct ValueTextRow {
  std::string text;
  std::int32_t left;
  std::uint8_t frames;
};

// The same value text under "Left" (an integer) and "Frames" (a boolean).
const ValueTextRow kValueTexts[] = {
    {"-20", -20, 1},
    {"0x20", 32, 1},
    {"0X20", 32, 1},
    {"$20", 32, 1},
    {"$aB", 0xab, 1},
    {" 15", 15, 1},
    {"15 \t", 15, 1},
    {"+7", 7, 1},
    {"0", 0, 0},
    {"15px", 0, 0},
    {"", 0, 0},
    {"2", 2, 1},
    {"-1", -1, 1},
    {"true", 0, 0},
    {"1 5", 0, 0},
    {"-$20", 0, 0},
    {"$", 0, 0},
    {"0x", 0, 0},
    {"0x-5", 0, 0},
    {"-", 0, 0},
    {"2147483647", 2147483647, 1},
    {"-2147483648", -2147483647 - 1, 1},
    {"2147483648", 0, 0},
    {"-2147483649", 0, 0},
    {"99999999999999999999", 0, 0},
    {"$FFFFFFFF", -1, 1},
    {"$0000000000000010", 16, 1},
    {"$100000000", 0, 0},
    {std::string(1100, '0') + "12", 12, 1},
};

TEST_F(SettingsFile, ValueTextsReadAsIntegersAndBooleans) {
  for (const ValueTextRow& row : kValueTexts) {
    SCOPED_TRACE("value text \"" + row.text + "\"");
    WriteFile(Path(), "[MidiSet]\nLeft=" + row.text + "\nFrames=" + row.text + "\n");
    MonitorState.WinLeft = 12345;
    MonitorState.ShowFrames = 7;
    LoadSettings();
    EXPECT_EQ(MonitorState.WinLeft, row.left);
    EXPECT_EQ(MonitorState.ShowFrames, row.frames);

    // Booleans go back as 1 or 0, whatever text they were read from.
    SaveSettings();
    const std::string saved = ReadFile(Path());
    EXPECT_NE(saved.find(std::string("Frames=") + (row.frames ? "1" : "0") + "\n"),
              std::string::npos)
        << saved;
  }
}

TEST_F(SettingsFile, NoFileGivesDefaultsAndTheFirstSaveWritesAllSevenInOrder) {
  SetAllSeven(5, 6, 7, 8, 9, 1, 1);
  LoadSettings();
  EXPECT_EQ(MonitorState.InPortIndex, 0);
  EXPECT_EQ(MonitorState.InPort2Index, 0);
  EXPECT_EQ(MonitorState.OutPortIndex, 0);
  EXPECT_EQ(MonitorState.WinLeft, 0);
  EXPECT_EQ(MonitorState.WinTop, 0);
  EXPECT_EQ(MonitorState.ShowFrames, 0);
  EXPECT_EQ(MonitorState.TcView, 0);
  EXPECT_FALSE(fs::exists(Path())) << "reading must not create the file";

  SetAllSeven(3, -7, 2, -20, 45, 0, 1);
  const mode_t oldMask = ::umask(022);
  SaveSettings();
  ::umask(oldMask);
  EXPECT_EQ(
      ReadFile(Path()),
      "[MidiSet]\nMidi_In1=3\nMidi_In2=-7\nMidi_Out=2\nLeft=-20\nTop=45\nTCstate=1\nFrames=0\n");
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Korvane.ini"});
  EXPECT_EQ(fs::status(Path()).permissions(), fs::perms::owner_read | fs::perms::owner_write |
                                                  fs::perms::group_read | fs::perms::others_read);
}

TEST_F(SettingsFile, SaveKeepsEveryOtherLineByteForByte) {
  // Line ends of the file's own kind, a BOM, comments, odd lines, our keys in
  // other sections and in other letter case, a second MidiSet section, and no
  // line end at the very end.
  const std::string before =
      "\xEF\xBB\xBF; made by hand\r\n"
      "Left=1\r\n"
      "[Other]\r\n"
      "Left = 99 \r\n"
      "odd line without equals\r\n"
      "\r\n"
      "  [ midiset ]  \r\n"
      "  left =  5  \r\n"
      "; Top=3\r\n"
      "Extra=keep me\r\n"
      "FRAMES=true\r\n"
      "Midi_In2\r\n"
      "\r\n"
      "\r\n"
      "[Last]\r\n"
      "[MidiSet]\r\n"
      "Top=77\r\n"
      "tail=no line end";
  const std::string after =
      "\xEF\xBB\xBF; made by hand\r\n"
      "Left=1\r\n"
      "[Other]\r\n"
      "Left = 99 \r\n"
      "odd line without equals\r\n"
      "\r\n"
      "  [ midiset ]  \r\n"
      "left=-4\r\n"
      "; Top=3\r\n"
      "Extra=keep me\r\n"
      "FRAMES=1\r\n"
      "Midi_In2\r\n"
      "Midi_In1=1\r\n"
      "Midi_In2=2\r\n"
      "Midi_Out=3\r\n"
      "Top=10\r\n"
      "TCstate=0\r\n"
      "\r\n"
      "\r\n"
      "[Last]\r\n"
      "[MidiSet]\r\n"
      "Top=77\r\n"
      "tail=no line end";
  WriteFile(Path(), before);
  ASSERT_EQ(::chmod(Path().c_str(), 0640), 0);

  LoadSettings();
  EXPECT_EQ(MonitorState.WinLeft, 5);
  EXPECT_EQ(MonitorState.WinTop, 0) << "only the first MidiSet section counts";
  EXPECT_EQ(MonitorState.ShowFrames, 0);

  SetAllSeven(1, 2, 3, -4, 10, 1, 0);
  SaveSettings();
  EXPECT_EQ(ReadFile(Path()), after);
  EXPECT_EQ(fs::status(Path()).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Korvane.ini"});
}

TEST_F(SettingsFile, MissingSectionIsAddedAfterALastLineWithoutLineEnd) {
  WriteFile(Path(), "[Other]\nx=1");
  SetAllSeven(0, 0, 0, 0, 0, 0, 0);
  SaveSettings();
  EXPECT_EQ(ReadFile(Path()),
            "[Other]\nx=1\n[MidiSet]\nMidi_In1=0\nMidi_In2=0\nMidi_Out=0\nLeft=0\nTop=0\n"
            "TCstate=0\nFrames=0\n");
}

TEST_F(SettingsFile, MidiIn2GoesThroughAStartAndACloseUnchanged) {
  const struct {
    const char* line;
    const char* written;
  } rows[] = {
      {"Midi_In2=-123456\n", "Midi_In2=-123456\n"},
      {"Midi_In2=$7FFFFFFF\n", "Midi_In2=2147483647\n"},
      {"", "Midi_In2=0\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    WriteFile(Path(), std::string("[MidiSet]\nMidi_In1=4\n") + row.line);
    LoadSettings();
    SaveSettings();
    EXPECT_NE(ReadFile(Path()).find(row.written), std::string::npos) << ReadFile(Path());
  }
}

TEST_F(SettingsFile, SaveGoesThroughASymbolicLinkToItsFile) {
  const std::string real = folder_ + "real.ini";
  WriteFile(real, "[MidiSet]\nLeft=1\n");
  ASSERT_EQ(::symlink("real.ini", Path().c_str()), 0);
  MonitorState.WinLeft = 9;
  SaveSettings();
  EXPECT_TRUE(fs::is_symlink(Path()));
  EXPECT_NE(ReadFile(real).find("Left=9\n"), std::string::npos);
}

// Refusals that hold for root too: CI runs as root, where permission bits
// alone refuse nothing.
class RefusedSave : public SettingsFile {
 protected:
  void ExpectRefused(const std::string& path) {
    try {
      SaveSettings();
      ADD_FAILURE() << "the save was not refused";
    } catch (const EIniFileException& e) {
      EXPECT_STREQ(e.what(), ("Unable to write to " + path).c_str());
    }
  }
};

TEST_F(RefusedSave, WhenTheSettingsFolderIsAFile) {
  const std::string plain = folder_ + "plain";
  WriteFile(plain, "not a folder\n");
  MonitorState.StartFolder = plain + "/";
  ExpectRefused(plain + "/Korvane.ini");
  EXPECT_EQ(ReadFile(plain), "not a folder\n");
}

TEST_F(RefusedSave, WhenTheFileIsReadOnly) {
  const std::string old = "[MidiSet]\nLeft=3\n";
  WriteFile(Path(), old);
  ASSERT_EQ(::chmod(Path().c_str(), 0444), 0);
  MonitorState.WinLeft = 4;
  ExpectRefused(Path());
  EXPECT_EQ(ReadFile(Path()), old);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Korvane.ini"});
}

TEST_F(RefusedSave, WhenTheSettingsPathIsAFolder) {
  ASSERT_TRUE(fs::create_directory(Path()));
  ExpectRefused(Path());
  EXPECT_TRUE(fs::is_directory(Path()));
}

TEST_F(RefusedSave, WhenTheSettingsPathIsAPipeWithoutHangingTheStart) {
  ASSERT_EQ(::mkfifo(Path().c_str(), 0644), 0);
  MonitorState.WinLeft = 4;
  LoadSettings();
  EXPECT_EQ(MonitorState.WinLeft, 0);
  ExpectRefused(Path());
}

TEST_F(RefusedSave, WhenTheDiskFillsInTheMiddleKeepsTheOldFileWhole) {
  // A file size limit fails the write part way through, as a full disk would.
  const std::string old = "[MidiSet]\nLeft=3\n; " + std::string(200, 'x') + "\n";
  WriteFile(Path(), old);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &previous), 0);
  rlimit small = saved;
  small.rlim_cur = 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  MonitorState.WinLeft = 4;
  ExpectRefused(Path());
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::sigaction(SIGXFSZ, &previous, nullptr);
  EXPECT_EQ(ReadFile(Path()), old);
  EXPECT_EQ(FolderEntries(), std::vector<std::string>{"Korvane.ini"});
}

}  // namespace
}  // namespace korvane
