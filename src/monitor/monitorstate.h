// The main window's global state: port flags, view flags, port list
// positions, window position, quarter-frame store and the dump buffer.
// UI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace korvane {

// Indexes 0 to 500000: room for 500,001 bytes.
inline constexpr std::int32_t kDumpBufferLast = 500000;
inline constexpr std::int32_t kDumpBufferSize = kDumpBufferLast + 1;

struct TMonitorState {
  std::string StartFolder;    // working folder at start-up, with a trailing separator
  std::string SysexFileName;  // last .syx name chosen in a file dialog
  std::uint8_t InClosed = 0;  // 1 while the input port counts as closed
  std::uint8_t OutClosed = 0;
  std::uint8_t SmallView = 0;
  std::uint8_t ShowFrames = 0;
  std::uint8_t TcView = 0;
  std::uint8_t Receiving = 0;
  std::uint8_t ShowActiveSensing = 0;
  std::uint8_t ThruEnabled = 0;
  std::int32_t InPortIndex = 0;
  std::int32_t InPort2Index = 0;  // carried from the settings file back to it
  std::int32_t OutPortIndex = 0;
  std::int32_t DumpCount = 0;
  std::int32_t WinLeft = 0;
  std::int32_t WinTop = 0;
  std::uint8_t QfPiece = 0;
  std::uint8_t QfNibble = 0;
  std::array<std::uint8_t, 8> QfParts{};
  std::array<std::uint8_t, kDumpBufferSize> DumpBuffer{};
};

extern TMonitorState MonitorState;

}  // namespace korvane
