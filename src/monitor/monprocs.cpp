#include "monitor/monprocs.h"

#include <algorithm>
#include <cstring>

#include "platform/mididriver.h"

namespace korvane {

const char* const ChannelMessageNames[7] = {
    "Note Off",           "Note On",    "Key Aftertouch", "Control Change", "Program Change",
    "Channel Aftertouch", "Pitch Bend",
};

const char* const SystemMessageNames[16] = {
    "",  // 0xF0 has a line of its own
    "MTC Quarter Frame",
    "Song Position Pointer",
    "Song Select",
    "Undefined",
    "Undefined",
    "Tune Request",
    "System Exclusive End",
    "Timing Clock",
    "Undefined",
    "Start",
    "Continue",
    "Stop",
    "Undefined",
    "Active Sensing",
    "System Reset",
};

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Appends a byte as two upper-case hex digits.
inline char* PutHex2(char* out, std::uint8_t value) {
  out[0] = kHexDigits[value >> 4];
  out[1] = kHexDigits[value & 0x0F];
  return out + 2;
}

inline char* PutBlanks(char* out, int count) {
  std::memset(out, ' ', static_cast<std::size_t>(count));
  return out + count;
}

}  // namespace

std::string EventLineText(const TMyMidiEvent& event) {
  const std::uint8_t status = event.StatusByte;
  if (status < 0x80) return "Unrecognized MIDI Event";
  if (status == 0xF0) {
    std::string line = "Sysex (" + std::to_string(event.SysexSize) + "): ";
    return line + SysexHexText(event.SysexData, event.SysexSize);
  }

  const char* name =
      status < 0xF0 ? ChannelMessageNames[(status >> 4) - 8] : SystemMessageNames[status & 0x0F];
  // "%4.4x%4.4x   %2.2x     %2.2x    %2.2x    %s" and its shorter forms.
  char buffer[64];
  char* out = buffer;
  const std::uint32_t time = event.TimeStamp;
  for (int shift = 28; shift >= 0; shift -= 4) *out++ = kHexDigits[(time >> shift) & 0x0F];
  out = PutBlanks(out, 3);
  out = PutHex2(out, status);
  out = PutBlanks(out, 5);
  // A line shows exactly the data bytes that the status carries on the wire.
  const int dataBytes = MidiDataByteCount(status);
  if (dataBytes >= 1) {
    out = PutHex2(out, event.DataByte1);
    out = PutBlanks(out, 4);
  }
  if (dataBytes == 2) {
    out = PutHex2(out, event.DataByte2);
    out = PutBlanks(out, 4);
  }
  const std::size_t nameLength = std::strlen(name);
  std::memcpy(out, name, nameLength);
  out += nameLength;
  return std::string(buffer, out);
}

std::string SysexHexText(const std::uint8_t* data, std::uint16_t count) {
  const std::size_t n = std::min<std::size_t>(count, SysexTextLimit);
  std::string text(3 * n, ' ');
  char* out = text.data();
  for (std::size_t i = 0; i < n; ++i) out = PutHex2(out, data[i]) + 1;
  return text;
}

}  // namespace korvane
