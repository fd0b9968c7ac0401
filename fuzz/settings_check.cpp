#include "fuzz/settings_check.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "monitor/inifile.h"
#include "monitor/monitorstate.h"

namespace korvane {

namespace {

// Deliberately written apart from the reader: a plain view of lines and of
// which of them a save may touch.
struct TPlainLine {
  std::string_view content;
  std::string_view ending;  // "\r\n", "\n", or "" for a last line without one
};

std::vector<TPlainLine> PlainLines(std::string_view text) {
  std::vector<TPlainLine> lines;
  while (!text.empty()) {
    std::size_t nl = text.find('\n');
    if (nl == std::string_view::npos) {
      lines.push_back({text, {}});
      break;
    }
    std::size_t cut = nl;
    if (cut > 0 && text[cut - 1] == '\r') --cut;
    lines.push_back({text.substr(0, cut), text.substr(cut, nl + 1 - cut)});
    text.remove_prefix(nl + 1);
  }
  return lines;
}

std::string Lower(std::string_view s) {
  std::string out;
  for (char c : s) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
  return out;
}

std::string_view Stripped(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// A "MidiSet" header or a line of one of our keys, wherever it stands.
bool MaySaveTouch(std::string_view content) {
  static const std::array<std::string, 7> kKeys = {"midi_in1", "midi_in2", "midi_out", "left",
                                                   "top",      "tcstate",  "frames"};
  const std::string_view s = Stripped(content);
  if (!s.empty() && s.front() == '[') {
    const std::size_t close = s.find(']');
    return close != std::string_view::npos && Lower(Stripped(s.substr(1, close - 1))) == "midiset";
  }
  const std::size_t eq = s.find('=');
  if (eq == std::string_view::npos) return false;
  const std::string key = Lower(Stripped(s.substr(0, eq)));
  for (const std::string& k : kKeys) {
    if (key == k) return true;
  }
  return false;
}

std::string Printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::string CheckSettingsSave(std::string_view fileText) {
  // The state holds the 500 kB dump buffer: one of each, made once.
  static const auto loaded = std::make_unique<TMonitorState>();
  static const auto reread = std::make_unique<TMonitorState>();

  TIniText ini{std::string(fileText)};
  ReadSettings(ini, *loaded);
  // Other values than the file held, so every key of ours is written anew.
  auto flip = [](std::int32_t v, std::uint32_t mask) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) ^ mask);
  };
  loaded->InPortIndex = flip(loaded->InPortIndex, 0x1u);
  loaded->InPort2Index = flip(loaded->InPort2Index, 0x80000000u);
  loaded->OutPortIndex = flip(loaded->OutPortIndex, 0x5a5au);
  loaded->WinLeft = flip(loaded->WinLeft, 0xffffffffu);
  loaded->WinTop = flip(loaded->WinTop, 0x7fffffffu);
  loaded->ShowFrames = loaded->ShowFrames ? 0 : 1;
  loaded->TcView = loaded->TcView ? 0 : 1;
  WriteSettings(ini, *loaded);
  const std::string saved = ini.Text();

  ReadSettings(TIniText(saved), *reread);
  if (reread->InPortIndex != loaded->InPortIndex || reread->InPort2Index != loaded->InPort2Index ||
      reread->OutPortIndex != loaded->OutPortIndex || reread->WinLeft != loaded->WinLeft ||
      reread->WinTop != loaded->WinTop || reread->ShowFrames != loaded->ShowFrames ||
      reread->TcView != loaded->TcView) {
    return "the saved values do not read back: " + Printable(saved);
  }

  const std::vector<TPlainLine> before = PlainLines(fileText);
  const std::vector<TPlainLine> after = PlainLines(saved);
  std::size_t j = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (MaySaveTouch(before[i].content)) continue;
    while (j < after.size() && MaySaveTouch(after[j].content)) ++j;
    if (j == after.size()) return "line " + std::to_string(i + 1) + " is gone";
    // A last line without a line end may get one, which can make its final
    // CR part of a CR LF: its bytes must stay, in front of the new end.
    bool kept = after[j].content == before[i].content && after[j].ending == before[i].ending;
    if (!kept && i + 1 == before.size() && before[i].ending.empty()) {
      const std::string bytes = std::string(after[j].content) + std::string(after[j].ending);
      kept = bytes.size() > before[i].content.size() && bytes.starts_with(before[i].content);
    }
    if (!kept) {
      return "line " + std::to_string(i + 1) + " \"" + Printable(before[i].content) +
             "\" became \"" + Printable(after[j].content) + "\"";
    }
    ++j;
  }
  for (; j < after.size(); ++j) {
    if (!MaySaveTouch(after[j].content)) {
      return "a line was added: \"" + Printable(after[j].content) + "\"";
    }
  }

  TIniText again{saved};
  WriteSettings(again, *loaded);
  if (again.Text() != saved) return "a second save of the same values changed the file";
  return {};
}

}  // namespace korvane
