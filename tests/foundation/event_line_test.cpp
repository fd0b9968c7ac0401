#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/monprocs.h"

namespace korvane {
namespace {

struct ShortCase {
  std::uint8_t status, data1, data2;
  std::uint32_t time;
  const char* line;
};

// Columns: time stamp 1-8, status 12-13, data bytes at 19 and 25, name after.
const ShortCase kShortCases[] = {
    {0x80, 0x3C, 0x00, 0x00000000, "00000000   80     3C    00    Note Off"},
    {0x90, 0x3C, 0x64, 0x0001E240, "0001E240   90     3C    64    Note On"},
    {0x90, 0x3C, 0x00, 0x00000001, "00000001   90     3C    00    Note On"},  // velocity 0
    {0xA5, 0x40, 0x7F, 0xFFFFFFFF, "FFFFFFFF   A5     40    7F    Key Aftertouch"},
    {0xBF, 0x07, 0x64, 0x80000001, "80000001   BF     07    64    Control Change"},
    {0xC0, 0x05, 0x99, 0x0000ABCD, "0000ABCD   C0     05    Program Change"},
    {0xD3, 0x7F, 0x00, 0x00010000, "00010000   D3     7F    Channel Aftertouch"},
    {0xE0, 0x00, 0x40, 0x0000FFFF, "0000FFFF   E0     00    40    Pitch Bend"},
    {0xF1, 0x25, 0x11, 0, "00000000   F1     25    MTC Quarter Frame"},
    {0xF2, 0x10, 0x20, 0, "00000000   F2     10    20    Song Position Pointer"},
    {0xF3, 0x03, 0x11, 0, "00000000   F3     03    Song Select"},
    {0xF4, 0x01, 0x02, 0, "00000000   F4     Undefined"},
    {0xF5, 0, 0, 0, "00000000   F5     Undefined"},
    {0xF6, 0, 0, 0, "00000000   F6     Tune Request"},
    {0xF7, 0, 0, 0, "00000000   F7     System Exclusive End"},
    {0xF8, 0, 0, 0, "00000000   F8     Timing Clock"},
    {0xF9, 0, 0, 0, "00000000   F9     Undefined"},
    {0xFA, 0, 0, 0, "00000000   FA     Start"},
    {0xFB, 0, 0, 0, "00000000   FB     Continue"},
    {0xFC, 0, 0, 0, "00000000   FC     Stop"},
    {0xFD, 0, 0, 0, "00000000   FD     Undefined"},
    {0xFE, 0, 0, 0x12345678, "12345678   FE     Active Sensing"},
    {0xFF, 0, 0, 0, "00000000   FF     System Reset"},
    {0x45, 0x12, 0x34, 0x1234, "Unrecognized MIDI Event"},
    {0x00, 0, 0, 0, "Unrecognized MIDI Event"},
    {0x7F, 0, 0, 0, "Unrecognized MIDI Event"},
};

TEST(EventLineText, ShortMessages) {
  for (const ShortCase& c : kShortCases) {
    SCOPED_TRACE(c.line);
    TMyMidiEvent event;
    event.StatusByte = c.status;
    event.DataByte1 = c.data1;
    event.DataByte2 = c.data2;
    event.TimeStamp = c.time;
    EXPECT_EQ(EventLineText(event), c.line);
  }
}

std::string HexOf(const std::vector<std::uint8_t>& bytes, std::size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
    text += ' ';
  }
  return text;
}

TEST(EventLineText, SystemExclusiveBlocks) {
  struct Case {
    std::size_t size;
    std::size_t shown;
  };
  for (Case c : {Case{0, 0}, Case{6, 6}, Case{200, 200}, Case{300, 200}}) {
    SCOPED_TRACE(c.size);
    std::vector<std::uint8_t> bytes(c.size);
    for (std::size_t i = 0; i < c.size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 0xF0);
    TMyMidiEvent event;
    event.StatusByte = 0xF0;
    event.TimeStamp = 0xFFFF;  // never printed for system exclusive
    event.SysexSize = static_cast<std::uint16_t>(c.size);
    if (c.size > 0) {
      event.SysexData = new std::uint8_t[c.size];
      std::copy(bytes.begin(), bytes.end(), event.SysexData);
    }
    std::string expected = "Sysex (" + std::to_string(c.size) + "): " + HexOf(bytes, c.shown);
    EXPECT_EQ(EventLineText(event), expected);
  }

  const std::uint8_t identity[] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  EXPECT_EQ(SysexHexText(identity, 6), "F0 7E 7F 06 01 F7 ");
  EXPECT_EQ(SysexHexText(identity, 0), "");
}

}  // namespace
}  // namespace korvane
