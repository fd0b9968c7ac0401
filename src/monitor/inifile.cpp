#include "monitor/inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <vector>

namespace korvane {

namespace {

// Blanks around names and values. A carriage return counts too, so a file
// whose lines end in a lone CR still reads.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// One line of the text: its bytes are [begin, end), its line end ("\r\n",
// "\n", or nothing for a last line without one) is [end, next).
struct TLine {
  std::size_t begin;
  std::size_t end;
  std::size_t next;
};

std::vector<TLine> SplitLines(std::string_view text) {
  std::vector<TLine> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t nl = text.find('\n', begin);
    if (nl == std::string_view::npos) {
      lines.push_back({begin, text.size(), text.size()});
      break;
    }
    const std::size_t end = (nl > begin && text[nl - 1] == '\r') ? nl - 1 : nl;
    lines.push_back({begin, end, nl + 1});
    begin = nl + 1;
  }
  return lines;
}

enum class TLineKind { Other, Section, Key };

struct TParsedLine {
  TLineKind kind = TLineKind::Other;
  std::string_view name;   // section name or key, trimmed
  std::string_view value;  // key value, trimmed
};

TParsedLine ParseLine(std::string_view content, bool firstLine) {
  // An editor may have put a UTF-8 byte order mark before the first line.
  if (firstLine && content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  TParsedLine parsed;
  const std::string_view trimmed = Trim(content);
  if (!trimmed.empty() && trimmed.front() == '[') {
    const std::size_t close = trimmed.find(']');
    if (close != std::string_view::npos) {
      parsed.kind = TLineKind::Section;
      parsed.name = Trim(trimmed.substr(1, close - 1));
    }
    return parsed;
  }
  const std::size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return parsed;
  parsed.kind = TLineKind::Key;
  parsed.name = Trim(trimmed.substr(0, eq));
  parsed.value = Trim(trimmed.substr(eq + 1));
  return parsed;
}

// Where a key of a section is, or where it would go.
struct TKeyPlace {
  std::vector<TLine> lines;
  bool sectionFound = false;
  std::size_t lastFilledLine = 0;  // last non-blank line of the section, header included
  std::optional<std::size_t> keyLine;
  TParsedLine key;
};

TKeyPlace FindKey(std::string_view text, std::string_view section, std::string_view key) {
  TKeyPlace place;
  place.lines = SplitLines(text);
  bool inSection = false;
  for (std::size_t i = 0; i < place.lines.size(); ++i) {
    const TLine& line = place.lines[i];
    const TParsedLine parsed = ParseLine(text.substr(line.begin, line.end - line.begin), i == 0);
    if (parsed.kind == TLineKind::Section) {
      if (inSection) break;  // only the first section of that name counts
      if (SameText(parsed.name, section)) {
        inSection = true;
        place.sectionFound = true;
        place.lastFilledLine = i;
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trim(text.substr(line.begin, line.end - line.begin)).empty()) place.lastFilledLine = i;
    if (parsed.kind == TLineKind::Key && !place.keyLine && SameText(parsed.name, key)) {
      place.keyLine = i;
      place.key = parsed;
    }
  }
  return place;
}

// New lines take the line end the file already uses.
std::string_view LineEnd(std::string_view text) {
  const std::size_t nl = text.find('\n');
  if (nl != std::string_view::npos && nl > 0 && text[nl - 1] == '\r') return "\r\n";
  return "\n";
}

void CloseQuietly(int fd) {
  while (::close(fd) != 0 && errno == EINTR) {
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The whole file, or nothing for a missing one. False when the file is there
// but cannot be read, or is no regular file (a FIFO would block start-up, a
// device would never end).
bool ReadWholeFile(const std::string& fileName, std::string& text) {
  text.clear();
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    CloseQuietly(fd);
    return false;
  }
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      CloseQuietly(fd);
      text.clear();
      return false;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  CloseQuietly(fd);
  return true;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

}  // namespace

EIniFileException::EIniFileException(const std::string& fileName)
    : std::runtime_error("Unable to write to " + fileName) {}

bool TryStrToInt(std::string_view text, std::int32_t& value) {
  std::string s(text);
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.replace(0, 2, "$");
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  if (i < s.size() && s[i] == '$') {
    ++i;
    if (i == s.size()) return false;
    std::uint64_t acc = 0;
    for (; i < s.size(); ++i) {
      if (!IsHexDigit(s[i])) return false;
      acc = acc * 16 + HexDigitValue(s[i]);
      if (acc > 0xFFFFFFFFu) return false;
    }
    // Hexadecimal fills the 32 bits: $FFFFFFFF is -1.
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(acc));
    return true;
  }
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  if (i == s.size()) return false;
  constexpr std::int64_t kLimit = std::int64_t{1} << 31;
  std::int64_t acc = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    acc = acc * 10 + (s[i] - '0');
    if (acc > kLimit) return false;
  }
  if (negative) acc = -acc;
  if (acc >= kLimit) return false;
  value = static_cast<std::int32_t>(acc);
  return true;
}

std::string TIniText::ReadString(std::string_view section, std::string_view key) const {
  const TKeyPlace place = FindKey(text_, section, key);
  if (!place.keyLine) return {};
  // Read whole: cutting a long value (as a fixed 1024-byte buffer would) can
  // turn a valid number into another one.
  return std::string(place.key.value);
}

std::int32_t TIniText::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t def) const {
  std::int32_t value = def;
  if (!TryStrToInt(ReadString(section, key), value)) return def;
  return value;
}

bool TIniText::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniText::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteValue(section, key, std::to_string(value));
}

void TIniText::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteValue(section, key, value ? "1" : "0");
}

void TIniText::WriteValue(std::string_view section, std::string_view key, std::string_view value) {
  const TKeyPlace place = FindKey(text_, section, key);
  const std::string_view eol = LineEnd(text_);
  if (place.keyLine) {
    // Only the key's own line changes; its line end stays.
    const TLine& line = place.lines[*place.keyLine];
    std::string replacement(place.key.name);
    replacement += '=';
    replacement += value;
    text_.replace(line.begin, line.end - line.begin, replacement);
    return;
  }
  std::string added;
  std::size_t at = text_.size();
  if (place.sectionFound) {
    // After the section's last filled line, so blank lines before the next
    // section stay where they are.
    const TLine& last = place.lines[place.lastFilledLine];
    at = last.next;
    if (last.next == last.end) added += eol;  // the file's last line had no line end
  } else {
    if (!text_.empty() && text_.back() != '\n') added += eol;
    added += '[';
    added += section;
    added += ']';
    added += eol;
  }
  added += key;
  added += '=';
  added += value;
  added += eol;
  text_.insert(at, added);
}

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) {
  std::string text;
  readable_ = ReadWholeFile(fileName_, text);
  SetText(std::move(text));
}

void TIniFile::UpdateFile() {
  // A file that is there but unreadable would lose its other lines.
  if (!readable_) throw EIniFileException(fileName_);

  // Write through a symbolic link to the file it names, not over the link.
  std::string target = fileName_;
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(target.c_str(), nullptr)) {
      target = real;
      std::free(real);
    }
  }
  bool exists = false;
  if (::stat(target.c_str(), &st) == 0) {
    exists = true;
    // A file without any write permission is read-only for everyone,
    // whoever runs the program (root included).
    if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0) {
      throw EIniFileException(fileName_);
    }
  } else if (errno != ENOENT) {
    throw EIniFileException(fileName_);
  }

  std::string temp = target + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) throw EIniFileException(fileName_);
  auto fail = [&]() {
    CloseQuietly(fd);
    ::unlink(temp.c_str());
    throw EIniFileException(fileName_);
  };

  mode_t mode = 0;
  if (exists) {
    mode = st.st_mode & 07777;
    if (::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Keeping the owner is a courtesy; the settings are written anyway.
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  if (::fchmod(fd, mode) != 0) fail();
  if (!WriteAll(fd, Text())) fail();
  if (::fsync(fd) != 0) fail();
  if (::close(fd) != 0) {
    ::unlink(temp.c_str());
    throw EIniFileException(fileName_);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    throw EIniFileException(fileName_);
  }
  // Make the rename itself durable; the file is already complete either way.
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    CloseQuietly(dirFd);
  }
}

std::string SettingsFilePath() {
  return MonitorState.StartFolder + std::string(kSettingsFileName);
}

void ReadSettings(const TIniText& ini, TMonitorState& state) {
  state.InPortIndex = ini.ReadInteger(kSettingsSection, "Midi_In1", 0);
  state.InPort2Index = ini.ReadInteger(kSettingsSection, "Midi_In2", 0);
  state.OutPortIndex = ini.ReadInteger(kSettingsSection, "Midi_Out", 0);
  state.WinLeft = ini.ReadInteger(kSettingsSection, "Left", 0);
  state.WinTop = ini.ReadInteger(kSettingsSection, "Top", 0);
  state.ShowFrames = ini.ReadBool(kSettingsSection, "Frames", false) ? 1 : 0;
  state.TcView = ini.ReadBool(kSettingsSection, "TCstate", false) ? 1 : 0;
}

void WriteSettings(TIniText& ini, const TMonitorState& state) {
  ini.WriteInteger(kSettingsSection, "Midi_In1", state.InPortIndex);
  ini.WriteInteger(kSettingsSection, "Midi_In2", state.InPort2Index);
  ini.WriteInteger(kSettingsSection, "Midi_Out", state.OutPortIndex);
  ini.WriteInteger(kSettingsSection, "Left", state.WinLeft);
  ini.WriteInteger(kSettingsSection, "Top", state.WinTop);
  ini.WriteBool(kSettingsSection, "TCstate", state.TcView != 0);
  ini.WriteBool(kSettingsSection, "Frames", state.ShowFrames != 0);
}

void LoadSettings() {
  const TIniFile ini(SettingsFilePath());
  ReadSettings(ini, MonitorState);
}

void SaveSettings() {
  TIniFile ini(SettingsFilePath());
  WriteSettings(ini, MonitorState);
  ini.UpdateFile();
}

}  // namespace korvane
