// The MIDI input port: selects one input device by number or name, opens and
// starts it, keeps system-exclusive buffers queued at the driver, and turns
// what the callback stored in the ring into events for its owner.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "midi/circbuf.h"
#include "midi/delphmcb.h"
#include "midi/mididefs.h"
#include "midi/miditype.h"
#include "platform/message_queue.h"
#include "platform/mididriver.h"

namespace korvane {

class EMidiInputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TMidiInput {
 public:
  using Handler = std::function<void(TMidiInput& sender)>;

  // Raises "Invalid device ID" when the driver has no input device.
  explicit TMidiInput(MidiDriver& driver = DefaultMidiDriver());
  ~TMidiInput();
  TMidiInput(const TMidiInput&) = delete;
  TMidiInput& operator=(const TMidiInput&) = delete;

  // Properties.
  std::uint16_t DeviceID() const noexcept { return deviceId_; }
  void SetDeviceID(std::uint16_t id);
  const std::string& ProductName() const noexcept { return productName_; }
  void SetProductName(const std::string& name);
  std::uint16_t Capacity() const noexcept { return capacity_; }
  void SetCapacity(std::uint16_t slots) noexcept { capacity_ = slots; }
  std::uint16_t SysexBufferSize() const noexcept { return sysexBufferSize_; }
  void SetSysexBufferSize(std::uint16_t size);
  std::uint16_t SysexBufferCount() const noexcept { return sysexBufferCount_; }
  void SetSysexBufferCount(std::uint16_t count);
  bool SysexOnly() const noexcept { return sysexOnly_; }
  void SetSysexOnly(bool only) noexcept;
  Handler OnMidiInput;
  Handler OnOverflow;

  // While the owner applies its stored values, setting ProductName does nothing.
  void SetLoading(bool loading) noexcept { loading_ = loading; }
  bool Loading() const noexcept { return loading_; }

  // Read-only values.
  WindowHandle Window() const noexcept { return window_; }
  MidiHandle Handle() const noexcept { return handle_; }
  TPortState State() const noexcept { return state_; }
  std::uint16_t Error() const noexcept { return error_; }
  std::uint32_t DriverVersion() const noexcept { return driverVersion_; }
  std::uint16_t ManufacturerID() const noexcept { return manufacturerId_; }
  std::uint16_t ProductID() const noexcept { return productId_; }
  std::uint16_t DeviceCount() const noexcept { return deviceCount_; }
  TEventRing* Ring() const noexcept { return ring_; }
  TCallbackRecord* CallbackRecord() const noexcept { return callbackRecord_; }
  const std::vector<std::unique_ptr<TMyMidiHdr>>* SysexBuffers() const noexcept {
    return sysexBuffers_.get();
  }

  // Operations.
  void Open();  // absorbs its failures: State tells whether it opened
  void Start();
  void Close();
  std::uint16_t EventCount() const noexcept;
  // The oldest waiting event, owned by the caller; null when none waits.
  std::unique_ptr<TMyMidiEvent> TakeEvent();
  std::string DriverErrorText(MidiResult code);

  // The notification window's procedure (UI thread).
  void HandleNotification(const WindowMessage& message);

 private:
  void Check(MidiResult result);  // stores Error, raises the driver's text
  void MakeSysexBuffers();
  void QueueSysexBuffers();
  void FreeSysexBuffers();
  bool IsCurrentBuffer(const MIDIHDR* header) const noexcept;
  // Failure paths: reset, unprepare and close, ignoring the results; false
  // when the driver still holds something of ours.
  bool AbandonDevice() noexcept;
  // AbandonDevice, and if that fails, gives the device up without freeing
  // what the driver may still touch.
  void ReleaseDevice() noexcept;
  // A new notification window, so notices of an ended session are dropped.
  void RenewWindow() noexcept;

  MidiDriver& driver_;
  WindowHandle window_ = 0;
  std::uint16_t deviceId_ = 0;
  MidiHandle handle_ = 0;
  TPortState state_ = TPortState::stCreating;
  std::uint16_t error_ = 0;
  bool sysexOnly_ = false;
  std::uint32_t driverVersion_ = 0;
  std::string productName_;
  std::uint16_t manufacturerId_ = 0;
  std::uint16_t productId_ = 0;
  std::uint16_t capacity_ = 0;
  TEventRing* ring_ = nullptr;
  std::uint16_t deviceCount_ = 0;
  std::uint16_t sysexBufferSize_ = 0;
  std::uint16_t sysexBufferCount_ = 0;
  std::unique_ptr<std::vector<std::unique_ptr<TMyMidiHdr>>> sysexBuffers_;
  TCallbackRecord* callbackRecord_ = nullptr;
  bool loading_ = false;
};

}  // namespace korvane
