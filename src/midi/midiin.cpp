#include "midi/midiin.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace korvane {

namespace {
constexpr std::uint32_t kInCapsSize = sizeof(MIDIINCAPS);
constexpr std::size_t kErrorTextSize = 128;
}  // namespace

TMidiInput::TMidiInput(MidiDriver& driver) : driver_(driver) {
  state_ = TPortState::stCreating;
  sysexOnly_ = false;
  deviceCount_ = static_cast<std::uint16_t>(driver_.midiInGetNumDevs());
  sysexBuffers_.reset();
  // Without any input device this raises "Invalid device ID", and the port
  // is not made.
  SetDeviceID(0);
  capacity_ = 1024;
  sysexBufferSize_ = 4096;
  sysexBufferCount_ = 16;
  window_ = AllocateHWnd([this](const WindowMessage& message) { HandleNotification(message); });
  state_ = TPortState::stClosed;
}

TMidiInput::~TMidiInput() {
  if (handle_ != 0) {
    try {
      Close();
    } catch (...) {
    }
    if (handle_ != 0) ReleaseDevice();  // Close failed half-way
  }
  CallbackRecordFree(callbackRecord_);
  callbackRecord_ = nullptr;
  RingFree(ring_);
  ring_ = nullptr;
  DeallocateHWnd(window_);
}

// ---- Properties -------------------------------------------------------------

void TMidiInput::SetDeviceID(std::uint16_t id) {
  if (state_ == TPortState::stOpen)
    throw EMidiInputError("Change to DeviceID while device was open");
  if (id >= driver_.midiInGetNumDevs()) throw EMidiInputError("Invalid device ID");
  deviceId_ = id;
  MIDIINCAPS caps{};
  Check(driver_.midiInGetDevCaps(id, &caps, kInCapsSize));
  caps.szPname[sizeof caps.szPname - 1] = '\0';
  productName_ = caps.szPname;
  driverVersion_ = caps.vDriverVersion;
  manufacturerId_ = caps.wMid;
  productId_ = caps.wPid;
}

void TMidiInput::SetProductName(const std::string& name) {
  if (state_ == TPortState::stOpen)
    throw EMidiInputError("Change to ProductName while device was open");
  if (loading_) return;
  std::uint32_t count = driver_.midiInGetNumDevs();
  // The search runs up to count - 1, which has no value for no devices.
  if (count == 0) throw ERangeError();
  std::uint32_t id = 0;
  for (; id < count; ++id) {
    MIDIINCAPS caps{};
    Check(driver_.midiInGetDevCaps(id, &caps, kInCapsSize));
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    if (name == caps.szPname) {
      productName_ = name;
      break;
    }
  }
  if (productName_ != name) throw EMidiInputError("MIDI Input Device " + name + " not installed ");
  // No match but the same name as before (a device that has gone): id is the
  // device count here, and the selection says "Invalid device ID".
  if (id > UINT16_MAX) throw EMidiInputError("Invalid device ID");
  SetDeviceID(static_cast<std::uint16_t>(id));
}

void TMidiInput::SetSysexBufferSize(std::uint16_t size) {
  if (state_ == TPortState::stOpen)
    throw EMidiInputError("Change to SysexBufferSize while device was open");
  sysexBufferSize_ = size;
}

void TMidiInput::SetSysexBufferCount(std::uint16_t count) {
  if (state_ == TPortState::stOpen)
    throw EMidiInputError("Change to SysexBuffercount while device was open");
  sysexBufferCount_ = count;
}

void TMidiInput::SetSysexOnly(bool only) noexcept {
  sysexOnly_ = only;
  // The callback reads the flag once per message; relaxed is enough, it
  // guards no other data.
  if (callbackRecord_ != nullptr)
    callbackRecord_->SysexOnly.store(only ? 1 : 0, std::memory_order_relaxed);
}

// ---- Operations -------------------------------------------------------------

void TMidiInput::Open() {
  // A second Open would replace the ring and, on failure, free the record
  // that the open device still calls back with.
  if (state_ == TPortState::stOpen) return;
  bool deviceOpened = false;
  try {
    if (handle_ != 0) {
      // An earlier Close failed half-way: finish it, and start with an empty
      // ring rather than one holding slots of that session.
      RenewWindow();
      ReleaseDevice();
      RingFree(ring_);
      ring_ = nullptr;
    }
    if (window_ == 0) RenewWindow();
    if (window_ == 0) throw std::bad_alloc();
    if (ring_ == nullptr) ring_ = RingCreate(capacity_);
    if (callbackRecord_ == nullptr) {
      callbackRecord_ = CallbackRecordCreate();
      if (callbackRecord_ == nullptr) throw std::bad_alloc();
    }
    callbackRecord_->Ring = ring_;
    callbackRecord_->Window = window_;
    callbackRecord_->SysexOnly.store(sysexOnly_ ? 1 : 0, std::memory_order_relaxed);
    MidiHandle handle = 0;
    Check(driver_.midiInOpen(&handle, deviceId_, MidiDriverCallback,
                             reinterpret_cast<std::uintptr_t>(callbackRecord_), CALLBACK_FUNCTION));
    handle_ = handle;
    deviceOpened = true;
    MakeSysexBuffers();
    QueueSysexBuffers();
    state_ = TPortState::stOpen;
  } catch (...) {
    if (deviceOpened) {
      // Nothing may stay queued at the driver once the buffers, the ring and
      // the record are gone; what it posted meanwhile goes to a dead window.
      RenewWindow();
      ReleaseDevice();
    }
    RingFree(ring_);
    ring_ = nullptr;
    CallbackRecordFree(callbackRecord_);
    callbackRecord_ = nullptr;
  }
}

void TMidiInput::Start() {
  if (state_ != TPortState::stOpen) return;
  Check(driver_.midiInStart(handle_));
}

void TMidiInput::Close() {
  if (state_ != TPortState::stOpen) return;
  // Closed first, so that the notices the reset causes find the port closed.
  // The new window goes further: whatever this session posted, now or later,
  // goes to a window that no longer exists, so no notice of it can reach a
  // later session (whose buffers may lie at the same addresses).
  state_ = TPortState::stClosed;
  RenewWindow();
  Check(driver_.midiInReset(handle_));
  FreeSysexBuffers();
  Check(driver_.midiInClose(handle_));
  handle_ = 0;
  RingFree(ring_);
  ring_ = nullptr;
}

std::uint16_t TMidiInput::EventCount() const noexcept {
  if (state_ != TPortState::stOpen || ring_ == nullptr) return 0;
  return ring_->Waiting.load(std::memory_order_acquire);
}

std::unique_ptr<TMyMidiEvent> TMidiInput::TakeEvent() {
  TRingSlot slot;
  if (state_ != TPortState::stOpen || ring_ == nullptr || !RingPeek(ring_, slot)) return nullptr;
  auto event = std::make_unique<TMyMidiEvent>();
  event->TimeStamp = slot.TimeStamp;
  if (slot.LongHeader == nullptr) {
    event->StatusByte = static_cast<std::uint8_t>(slot.ShortMessage & 0xFF);
    event->DataByte1 = static_cast<std::uint8_t>((slot.ShortMessage >> 8) & 0xFF);
    event->DataByte2 = static_cast<std::uint8_t>((slot.ShortMessage >> 16) & 0xFF);
  } else {
    MIDIHDR* header = slot.LongHeader;
    event->StatusByte = 0xF0;
    event->SysexSize = static_cast<std::uint16_t>(header->dwBytesRecorded);
    if (event->SysexSize > 0) {
      event->SysexData = new std::uint8_t[event->SysexSize];
      std::memcpy(event->SysexData, header->lpData, event->SysexSize);
    }
    // The bytes are ours now: the buffer goes straight back to the driver.
    MidiResult result = driver_.midiInPrepareHeader(handle_, header, kHeaderSize);
    error_ = static_cast<std::uint16_t>(result);
    if (result == kMidiOk) result = driver_.midiInAddBuffer(handle_, header, kHeaderSize);
    Check(result);  // on failure the slot stays, and the next call tries it again
  }
  RingDrop(ring_);
  return event;
}

std::string TMidiInput::DriverErrorText(MidiResult code) {
  char text[kErrorTextSize] = {};
  if (driver_.midiInGetErrorText(code, text, kErrorTextSize) != kMidiOk)
    return "Specified error number is out of range";
  text[kErrorTextSize - 1] = '\0';
  return text;
}

void TMidiInput::HandleNotification(const WindowMessage& message) {
  switch (message.message) {
    case pnEventStored:
      if (OnMidiInput && state_ == TPortState::stOpen && EventCount() > 0) OnMidiInput(*this);
      return;
    case pnOverflow: {
      // A dropped system-exclusive buffer comes with the notice; lend it to
      // the driver again, or the input would run out of buffers for good.
      // A buffer the driver will not take back stays out until Close, as it
      // would without the give-back, and Error tells why: raising here would
      // report every such notice to the user, one after another.
      auto* header = reinterpret_cast<MIDIHDR*>(message.lParam);
      if (header != nullptr && IsCurrentBuffer(header)) {
        MidiResult result = driver_.midiInPrepareHeader(handle_, header, kHeaderSize);
        if (result == kMidiOk) result = driver_.midiInAddBuffer(handle_, header, kHeaderSize);
        error_ = static_cast<std::uint16_t>(result);
      }
      if (OnOverflow && state_ == TPortState::stOpen) OnOverflow(*this);
      return;
    }
    default:
      return;
  }
}

// ---- Inner workings ---------------------------------------------------------

void TMidiInput::Check(MidiResult result) {
  error_ = static_cast<std::uint16_t>(result);
  if (result != kMidiOk) throw EMidiInputError(DriverErrorText(result));
}

void TMidiInput::MakeSysexBuffers() {
  if (sysexBufferCount_ == 0 || sysexBufferSize_ == 0 || handle_ == 0) return;
  sysexBuffers_ = std::make_unique<std::vector<std::unique_ptr<TMyMidiHdr>>>();
  for (std::uint16_t i = 0; i < sysexBufferCount_; ++i) {
    auto buffer = std::make_unique<TMyMidiHdr>(sysexBufferSize_);
    buffer->Header->dwUser = reinterpret_cast<std::uintptr_t>(buffer.get());
    Check(driver_.midiInPrepareHeader(handle_, buffer->Header, kHeaderSize));
    sysexBuffers_->push_back(std::move(buffer));
  }
}

void TMidiInput::QueueSysexBuffers() {
  if (!sysexBuffers_) return;
  for (auto& buffer : *sysexBuffers_)
    Check(driver_.midiInAddBuffer(handle_, buffer->Header, kHeaderSize));
}

void TMidiInput::FreeSysexBuffers() {
  if (!sysexBuffers_) return;
  // Each buffer leaves the list only once the driver has let go of it, so a
  // failure leaves the list holding exactly the buffers still lent out.
  while (!sysexBuffers_->empty()) {
    Check(driver_.midiInUnprepareHeader(handle_, sysexBuffers_->front()->Header, kHeaderSize));
    sysexBuffers_->erase(sysexBuffers_->begin());
  }
  sysexBuffers_.reset();
}

bool TMidiInput::IsCurrentBuffer(const MIDIHDR* header) const noexcept {
  if (state_ != TPortState::stOpen || handle_ == 0 || !sysexBuffers_) return false;
  return std::any_of(sysexBuffers_->begin(), sysexBuffers_->end(),
                     [header](const auto& buffer) { return buffer->Header == header; });
}

bool TMidiInput::AbandonDevice() noexcept {
  // Results are ignored: Error keeps the code of the failure that led here.
  driver_.midiInReset(handle_);
  bool unprepared = true;
  if (sysexBuffers_) {
    for (auto& buffer : *sysexBuffers_)
      if (driver_.midiInUnprepareHeader(handle_, buffer->Header, kHeaderSize) != kMidiOk)
        unprepared = false;
  }
  if (!unprepared || driver_.midiInClose(handle_) != kMidiOk) return false;
  sysexBuffers_.reset();
  handle_ = 0;
  return true;
}

void TMidiInput::ReleaseDevice() noexcept {
  if (AbandonDevice()) return;
  // The driver won't let go: what it may still touch is better lost than
  // freed under it.
  if (sysexBuffers_)
    for (auto& buffer : *sysexBuffers_) static_cast<void>(buffer.release());
  sysexBuffers_.reset();
  ring_ = nullptr;
  callbackRecord_ = nullptr;
  handle_ = 0;
}

void TMidiInput::RenewWindow() noexcept {
  DeallocateHWnd(window_);
  window_ = 0;
  try {
    window_ = AllocateHWnd([this](const WindowMessage& message) { HandleNotification(message); });
  } catch (...) {  // no window: the next Open tries again, or fails
  }
}

}  // namespace korvane
