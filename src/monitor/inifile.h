// The settings file "Korvane.ini": our own reader and writer of the
// initialisation-file layout, and the seven "MidiSet" keys that carry the
// port positions, the window position and the timecode view options from one
// run to the next. UI thread only.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "monitor/monitorstate.h"

namespace korvane {

inline constexpr std::string_view kSettingsFileName = "Korvane.ini";
inline constexpr std::string_view kSettingsSection = "MidiSet";

// A write that the file system refused; what() is "Unable to write to " and
// the file's full path.
class EIniFileException : public std::runtime_error {
 public:
  explicit EIniFileException(const std::string& fileName);
};

// Integer value text as the settings file holds it: decimal with an optional
// sign, or "$" (or "0x", "0X") and hexadecimal digits filling at most 32 bits.
// Leading blanks are allowed; anything else, an empty text or a number that
// does not fit gives false and leaves value alone.
bool TryStrToInt(std::string_view text, std::int32_t& value);

// The text of an initialisation file in memory. Sections and keys are found
// without regard to letter case; the first of equal names counts. Writing
// touches only the line of the key written (or adds it, and its section), so
// every other byte of the text stays as it was.
class TIniText {
 public:
  TIniText() = default;
  explicit TIniText(std::string text) : text_(std::move(text)) {}

  const std::string& Text() const { return text_; }

  // The value after "=" without the blanks around it; empty for a missing
  // section or key.
  std::string ReadString(std::string_view section, std::string_view key) const;
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t def) const;
  // Any integer but 0 is true; text that is no integer gives def.
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;

  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

 protected:
  void SetText(std::string text) { text_ = std::move(text); }

 private:
  void WriteValue(std::string_view section, std::string_view key, std::string_view value);

  std::string text_;
};

// An initialisation file on disk: read whole when made (a missing file reads
// as empty), changed in memory, and written back in one piece by UpdateFile.
class TIniFile : public TIniText {
 public:
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const { return fileName_; }

  // Writes a temporary file in the same folder and renames it over the old
  // one, so a crash or a full disk never leaves a cut-off file behind. A file
  // marked read-only, a folder that cannot take the file, or a file that
  // exists but could not be read (its content would be lost) refuse the
  // write with EIniFileException; the old file then stays as it was.
  void UpdateFile();

 private:
  std::string fileName_;
  bool readable_ = true;
};

// MonitorState.StartFolder followed by "Korvane.ini".
std::string SettingsFilePath();

// The seven keys of section "MidiSet" into and out of a state.
void ReadSettings(const TIniText& ini, TMonitorState& state);
void WriteSettings(TIniText& ini, const TMonitorState& state);

// Reads the settings file into MonitorState; every one of the seven fields
// is set, from the file or to its default (0, false).
void LoadSettings();
// Writes the seven fields of MonitorState to the settings file; throws
// EIniFileException when the write is refused.
void SaveSettings();

}  // namespace korvane
