#include "midi/midiout.h"

#include <cstring>
#include <new>

namespace korvane {

namespace {
constexpr std::uint32_t kOutCapsSize = sizeof(MIDIOUTCAPS);
constexpr std::size_t kErrorTextSize = 128;
}  // namespace

TMidiOutput::TMidiOutput(MidiDriver& driver) : driver_(driver) {
  state_ = TPortState::stClosed;
  deviceCount_ = static_cast<std::uint16_t>(driver_.midiOutGetNumDevs());
  window_ = AllocateHWnd([this](const WindowMessage& message) { HandleNotification(message); });
}

TMidiOutput::~TMidiOutput() {
  if (state_ == TPortState::stOpen) {
    try {
      Close();
    } catch (...) {
    }
  }
  if (state_ == TPortState::stOpen) {
    // The device refused to close and may still report long messages: the
    // record and the buffers in flight are better lost than freed under it.
    for (auto& [header, buffer] : inFlight_) static_cast<void>(buffer.release());
  } else {
    CallbackRecordFree(callbackRecord_);
  }
  callbackRecord_ = nullptr;
  DeallocateHWnd(window_);
}

// ---- Selection --------------------------------------------------------------

void TMidiOutput::SetDeviceID(std::int32_t id) {
  if (state_ == TPortState::stOpen)
    throw EmidioutputError("Change to DeviceID while device was open");
  // Signed on purpose: -1, the mapper, passes even when there is no device.
  auto count = static_cast<std::int32_t>(driver_.midiOutGetNumDevs());
  if (!(id < count) && id != -1) throw EmidioutputError("Invalid device ID");
  deviceId_ = id;
  MIDIOUTCAPS caps{};
  Check(driver_.midiOutGetDevCaps(static_cast<std::uint32_t>(id), &caps, kOutCapsSize));
  caps.szPname[sizeof caps.szPname - 1] = '\0';
  productName_ = caps.szPname;
  driverVersion_ = caps.vDriverVersion;
  technologyCode_ = static_cast<std::uint8_t>(caps.wTechnology & 0xFF);
  voiceCount_ = caps.wVoices;
  noteCount_ = caps.wNotes;
  channelMask_ = caps.wChannelMask;
  supportFlags_ = caps.dwSupport;
}

void TMidiOutput::SetProductName(const std::string& name) {
  if (state_ == TPortState::stOpen)
    throw EmidioutputError("Change to ProductName while device was open");
  if (loading_) return;
  auto count = static_cast<std::int32_t>(driver_.midiOutGetNumDevs());
  // The mapper first, so it wins over a device of the same name.
  std::int32_t id = -1;
  for (; id < count; ++id) {
    MIDIOUTCAPS caps{};
    Check(driver_.midiOutGetDevCaps(static_cast<std::uint32_t>(id), &caps, kOutCapsSize));
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    if (name == caps.szPname) {
      productName_ = name;
      break;
    }
  }
  if (productName_ != name) throw EmidioutputError("MIDI output Device " + name + " not installed");
  // No match but the same name as before (a device that has gone): id is the
  // device count here, and the selection says "Invalid device ID".
  SetDeviceID(id);
}

// ---- Operations -------------------------------------------------------------

bool TMidiOutput::Open() {
  // A second Open would, on failure, free the record the open device uses.
  if (state_ == TPortState::stOpen) return true;
  try {
    if (callbackRecord_ == nullptr) {
      callbackRecord_ = CallbackRecordCreate();
      if (callbackRecord_ == nullptr) throw std::bad_alloc();
    }
    callbackRecord_->Window = window_;
    MidiHandle handle = 0;
    Check(driver_.midiOutOpen(&handle, static_cast<std::uint32_t>(deviceId_), MidiDriverCallback,
                              reinterpret_cast<std::uintptr_t>(callbackRecord_),
                              CALLBACK_FUNCTION));
    handle_ = handle;
    state_ = TPortState::stOpen;
    return true;
  } catch (...) {
    CallbackRecordFree(callbackRecord_);
    callbackRecord_ = nullptr;
    return false;
  }
}

bool TMidiOutput::Close() {
  bool closed = false;
  if (state_ == TPortState::stOpen) {
    Check(driver_.midiOutClose(handle_));  // on failure the port stays open
    closed = true;
  }
  handle_ = 0;
  state_ = TPortState::stClosed;
  return closed;
}

void TMidiOutput::SendEvent(const TMyMidiEvent& event) {
  if (state_ != TPortState::stOpen) throw EmidioutputError("MIDI Output device not open");
  // SysexData alone decides: a system-exclusive event without bytes goes out
  // as the short message F0 00 00.
  if (event.SysexData == nullptr)
    SendShort(event.StatusByte, event.DataByte1, event.DataByte2);
  else
    SendLong(event.SysexData, event.SysexSize);
}

void TMidiOutput::SendShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  std::uint32_t packed = status | (std::uint32_t{data1} << 8) | (std::uint32_t{data2} << 16);
  Check(driver_.midiOutShortMsg(handle_, packed));
}

void TMidiOutput::SendLong(const std::uint8_t* data, std::uint16_t count) {
  // A buffer of no bytes has no header to send.
  if (count == 0) return;
  auto buffer = std::make_unique<TMyMidiHdr>(count);
  std::memcpy(buffer->Buffer, data, count);
  MIDIHDR* header = buffer->Header;
  header->dwUser = reinterpret_cast<std::uintptr_t>(buffer.get());
  Check(driver_.midiOutPrepareHeader(handle_, header, kHeaderSize));
  auto [entry, added] = inFlight_.emplace(header, std::move(buffer));
  MidiResult result = driver_.midiOutLongMsg(handle_, header, kHeaderSize);
  if (result != kMidiOk) {
    // Not sent, so nobody will report it done: release it here.
    driver_.midiOutUnprepareHeader(handle_, header, kHeaderSize);
    inFlight_.erase(entry);
  }
  Check(result);
}

std::string TMidiOutput::DriverErrorText(MidiResult code) {
  char text[kErrorTextSize] = {};
  if (driver_.midiOutGetErrorText(code, text, kErrorTextSize) != kMidiOk)
    return "Specified error number is out of range";
  text[kErrorTextSize - 1] = '\0';
  return text;
}

void TMidiOutput::HandleNotification(const WindowMessage& message) {
  if (message.message != pnOutputDone) return;
  // Only a buffer of ours is freed: the notice may come after Close, but
  // never twice for one buffer.
  auto found = inFlight_.find(reinterpret_cast<MIDIHDR*>(message.lParam));
  if (found == inFlight_.end()) return;
  driver_.midiOutUnprepareHeader(handle_, found->first, kHeaderSize);  // result ignored
  inFlight_.erase(found);
  if (Onmidioutput) Onmidioutput(*this);
}

void TMidiOutput::Check(MidiResult result) {
  error_ = static_cast<std::uint16_t>(result);
  if (result != kMidiOk) throw EmidioutputError(DriverErrorText(result));
}

}  // namespace korvane
