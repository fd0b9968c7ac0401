// The MIDI output port: selects one output device by number (-1: the mapper)
// or name, opens it, and sends short messages at once and system-exclusive
// blocks as long messages that the driver reports done later.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "midi/delphmcb.h"
#include "midi/mididefs.h"
#include "midi/miditype.h"
#include "platform/message_queue.h"
#include "platform/mididriver.h"

namespace korvane {

class EmidioutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TMidiOutput {
 public:
  using Handler = std::function<void(TMidiOutput& sender)>;

  explicit TMidiOutput(MidiDriver& driver = DefaultMidiDriver());
  virtual ~TMidiOutput();
  TMidiOutput(const TMidiOutput&) = delete;
  TMidiOutput& operator=(const TMidiOutput&) = delete;

  std::int32_t DeviceID() const noexcept { return deviceId_; }
  void SetDeviceID(std::int32_t id);
  const std::string& ProductName() const noexcept { return productName_; }
  void SetProductName(const std::string& name);
  Handler Onmidioutput;  // after every completed long message

  // While the owner applies its stored values, setting ProductName does nothing.
  void SetLoading(bool loading) noexcept { loading_ = loading; }
  bool Loading() const noexcept { return loading_; }

  WindowHandle Window() const noexcept { return window_; }
  MidiHandle Handle() const noexcept { return handle_; }
  TPortState State() const noexcept { return state_; }
  TCallbackRecord* CallbackRecord() const noexcept { return callbackRecord_; }
  std::uint16_t Error() const noexcept { return error_; }
  std::uint32_t DriverVersion() const noexcept { return driverVersion_; }
  std::uint8_t TechnologyCode() const noexcept { return technologyCode_; }
  std::uint16_t VoiceCount() const noexcept { return voiceCount_; }
  std::uint16_t NoteCount() const noexcept { return noteCount_; }
  std::uint16_t ChannelMask() const noexcept { return channelMask_; }
  std::uint32_t SupportFlags() const noexcept { return supportFlags_; }
  std::uint16_t DeviceCount() const noexcept { return deviceCount_; }
  // Long messages sent and not yet reported done.
  std::size_t LongMessagesInFlight() const noexcept { return inFlight_.size(); }

  virtual bool Open();  // never raises; true when the device was opened
  virtual bool Close();
  virtual void SendEvent(const TMyMidiEvent& event);
  virtual void SendShort(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
  virtual void SendLong(const std::uint8_t* data, std::uint16_t count);
  std::string DriverErrorText(MidiResult code);

  // The notification window's procedure (UI thread).
  void HandleNotification(const WindowMessage& message);

 private:
  void Check(MidiResult result);  // stores Error, raises the driver's text

  MidiDriver& driver_;
  WindowHandle window_ = 0;
  std::int32_t deviceId_ = 0;
  MidiHandle handle_ = 0;
  TPortState state_ = TPortState::stClosed;
  TCallbackRecord* callbackRecord_ = nullptr;
  std::uint16_t error_ = 0;
  std::uint32_t driverVersion_ = 0;
  std::string productName_;
  std::uint8_t technologyCode_ = 0;
  std::uint16_t voiceCount_ = 0;
  std::uint16_t noteCount_ = 0;
  std::uint16_t channelMask_ = 0;
  std::uint32_t supportFlags_ = 0;
  std::uint16_t deviceCount_ = 0;
  bool loading_ = false;
  // The wrappers of the long messages in flight, by header: a done notice
  // frees only a buffer found here, and what is left goes with the port.
  std::unordered_map<MIDIHDR*, std::unique_ptr<TMyMidiHdr>> inFlight_;
};

}  // namespace korvane
