#include "platform/scripted/scripted_driver.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/message_queue.h"

namespace korvane {

namespace {

constexpr std::array<std::string_view, 19> kFunctions = {
    "midiInGetNumDevs",      "midiInGetDevCaps", "midiInGetErrorText",    "midiInOpen",
    "midiInPrepareHeader",   "midiInAddBuffer",  "midiInStart",           "midiInReset",
    "midiInUnprepareHeader", "midiInClose",      "midiOutGetNumDevs",     "midiOutGetDevCaps",
    "midiOutGetErrorText",   "midiOutOpen",      "midiOutClose",          "midiOutShortMsg",
    "midiOutPrepareHeader",  "midiOutLongMsg",   "midiOutUnprepareHeader"};

bool IsQuery(std::string_view function) {
  return function.find("GetNumDevs") != std::string_view::npos ||
         function.find("GetDevCaps") != std::string_view::npos ||
         function.find("GetErrorText") != std::string_view::npos;
}

void CopyName(const std::string& name, char (&target)[32]) {
  std::size_t n = std::min<std::size_t>(name.size(), sizeof target - 1);
  std::memcpy(target, name.data(), n);
  target[n] = '\0';
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

}  // namespace

ScriptedDriver::ScriptedDriver() : thread_([this] { Run(); }) {
  mapper_.name = "Scripted MIDI Mapper";
}

ScriptedDriver::ScriptedDriver(const std::vector<std::string>& inputs,
                               const std::vector<std::string>& outputs)
    : ScriptedDriver() {
  for (const auto& name : inputs) AddInput(ScriptedDevice{.name = name});
  for (const auto& name : outputs) AddOutput(ScriptedDevice{.name = name});
}

ScriptedDriver::~ScriptedDriver() {
  {
    Lock lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

// ---- Scripting --------------------------------------------------------------

void ScriptedDriver::AddInput(ScriptedDevice device) {
  Lock lock(mutex_);
  inputs_.push_back(std::move(device));
}

void ScriptedDriver::AddOutput(ScriptedDevice device) {
  Lock lock(mutex_);
  outputs_.push_back(std::move(device));
}

void ScriptedDriver::RemoveInput(std::uint32_t index) {
  Lock lock(mutex_);
  if (index < inputs_.size()) inputs_.erase(inputs_.begin() + index);
}

void ScriptedDriver::RemoveOutput(std::uint32_t index) {
  Lock lock(mutex_);
  if (index < outputs_.size()) outputs_.erase(outputs_.begin() + index);
}

void ScriptedDriver::SetMapper(ScriptedDevice mapper) {
  Lock lock(mutex_);
  mapper_ = std::move(mapper);
}

void ScriptedDriver::SetMapperPresent(bool present) {
  Lock lock(mutex_);
  mapperPresent_ = present;
}

void ScriptedDriver::Fail(std::string_view function, MidiResult code, int times, int skip) {
  if (std::find(kFunctions.begin(), kFunctions.end(), function) == kFunctions.end())
    throw std::invalid_argument("ScriptedDriver::Fail: no driver function " +
                                std::string(function));
  Lock lock(mutex_);
  failures_[std::string(function)].push_back(Failure{code, times, skip});
}

void ScriptedDriver::ClearFailures() {
  Lock lock(mutex_);
  failures_.clear();
}

std::vector<ScriptedCall> ScriptedDriver::Calls() const {
  Lock lock(mutex_);
  return calls_;
}

std::vector<std::string> ScriptedDriver::CallTexts() const {
  Lock lock(mutex_);
  std::vector<std::string> texts;
  for (const auto& call : calls_) texts.push_back(call.text);
  return texts;
}

std::vector<std::string> ScriptedDriver::DeviceCallTexts() const {
  Lock lock(mutex_);
  std::vector<std::string> texts;
  for (const auto& call : calls_)
    if (!IsQuery(call.function)) texts.push_back(call.text);
  return texts;
}

void ScriptedDriver::ClearCalls() {
  Lock lock(mutex_);
  calls_.clear();
}

void ScriptedDriver::FeedShort(std::uint32_t packed, std::uint32_t timeStamp,
                               std::uint32_t device) {
  FeedRaw(MIM_DATA, packed, timeStamp, device);
}

void ScriptedDriver::FeedRaw(std::uint32_t message, std::uintptr_t param1, std::uintptr_t param2,
                             std::uint32_t device) {
  Lock lock(mutex_);
  Post(lock, [this, message, param1, param2, device] {
    Lock held(mutex_, std::adopt_lock);
    OpenPort* port = FindByDevice(held, device, true);
    held.release();
    if (port == nullptr || !port->started) {
      ++droppedShort_;
      return;
    }
    port->callback(port->handle, message, port->instance, param1, param2);
  });
}

void ScriptedDriver::FeedSysex(std::vector<std::uint8_t> bytes, std::uint32_t timeStamp,
                               std::uint32_t device, bool endOfMessage) {
  Lock lock(mutex_);
  Post(lock, [this, bytes = std::move(bytes), timeStamp, device, endOfMessage] {
    Lock held(mutex_, std::adopt_lock);
    OpenPort* port = FindByDevice(held, device, true);
    held.release();
    if (port == nullptr || !port->started) {
      droppedSysexBytes_ += bytes.size();
      return;
    }
    for (std::uint8_t byte : bytes) {
      if (port->queue.empty()) {
        ++droppedSysexBytes_;
        continue;
      }
      MIDIHDR* header = port->queue.front();
      header->lpData[header->dwBytesRecorded++] = static_cast<char>(byte);
      if (header->dwBytesRecorded >= header->dwBufferLength) ReturnBuffer(*port, timeStamp);
    }
    if (endOfMessage && !port->queue.empty() && port->queue.front()->dwBytesRecorded > 0)
      ReturnBuffer(*port, timeStamp);
  });
}

void ScriptedDriver::Sync() {
  Lock lock(mutex_);
  WaitFor(lock, posted_);
}

void ScriptedDriver::SyncAndProcess() {
  Sync();
  MessageQueue::Instance().ProcessMessages();
}

bool ScriptedDriver::Idle() const {
  Lock lock(mutex_);
  return completed_ == posted_;
}

std::size_t ScriptedDriver::QueuedBuffers(std::uint32_t inputDevice) const {
  Lock lock(mutex_);
  for (const auto& [handle, port] : ports_)
    if (port.input && port.device == inputDevice) return port.queue.size();
  return 0;
}

bool ScriptedDriver::InputOpen(std::uint32_t device) const {
  Lock lock(mutex_);
  for (const auto& [handle, port] : ports_)
    if (port.input && port.device == device) return true;
  return false;
}

bool ScriptedDriver::InputStarted(std::uint32_t device) const {
  Lock lock(mutex_);
  for (const auto& [handle, port] : ports_)
    if (port.input && port.device == device) return port.started;
  return false;
}

bool ScriptedDriver::OutputOpen(std::uint32_t device) const {
  Lock lock(mutex_);
  for (const auto& [handle, port] : ports_)
    if (!port.input && port.device == device) return true;
  return false;
}

std::size_t ScriptedDriver::DroppedShort() const {
  Lock lock(mutex_);
  return droppedShort_;
}

std::size_t ScriptedDriver::DroppedSysexBytes() const {
  Lock lock(mutex_);
  return droppedSysexBytes_;
}

std::vector<ScriptedSent> ScriptedDriver::Sent() const {
  Lock lock(mutex_);
  return sent_;
}

std::vector<std::uint32_t> ScriptedDriver::SentShort() const {
  Lock lock(mutex_);
  std::vector<std::uint32_t> result;
  for (const auto& sent : sent_)
    if (!sent.isLong) result.push_back(sent.packed);
  return result;
}

std::vector<std::vector<std::uint8_t>> ScriptedDriver::SentLong() const {
  Lock lock(mutex_);
  std::vector<std::vector<std::uint8_t>> result;
  for (const auto& sent : sent_)
    if (sent.isLong) result.push_back(sent.bytes);
  return result;
}

void ScriptedDriver::ClearSent() {
  Lock lock(mutex_);
  sent_.clear();
}

// ---- Inner workings ---------------------------------------------------------

MidiResult ScriptedDriver::Begin(const Lock&, const char* function, std::string args,
                                 MidiHandle handle, MIDIHDR* header) {
  calls_.push_back(
      ScriptedCall{function, std::string(function) + "(" + args + ")", handle, header, kMidiOk});
  auto found = failures_.find(std::string_view(function));
  if (found == failures_.end() || found->second.empty()) return kMidiOk;
  Failure& failure = found->second.front();
  if (failure.skip > 0) {
    --failure.skip;
    return kMidiOk;
  }
  MidiResult code = failure.code;
  if (failure.times != kAlways && --failure.times <= 0) found->second.pop_front();
  calls_.back().result = code;
  return code;
}

MidiResult ScriptedDriver::End(const Lock&, MidiResult result) {
  calls_.back().result = result;
  return result;
}

ScriptedDriver::OpenPort* ScriptedDriver::Find(const Lock&, MidiHandle handle, bool input) {
  auto found = ports_.find(handle);
  if (found == ports_.end() || found->second.input != input) return nullptr;
  return &found->second;
}

ScriptedDriver::OpenPort* ScriptedDriver::FindByDevice(const Lock&, std::uint32_t device,
                                                       bool input) {
  for (auto& [handle, port] : ports_)
    if (port.input == input && port.device == device) return &port;
  return nullptr;
}

std::uint64_t ScriptedDriver::Post(const Lock&, std::function<void()> task) {
  tasks_.push_back(std::move(task));
  wake_.notify_one();
  return ++posted_;
}

void ScriptedDriver::WaitFor(Lock& lock, std::uint64_t ticket) {
  // The driver thread never waits for itself.
  if (std::this_thread::get_id() == thread_.get_id()) return;
  done_.wait(lock, [&] { return completed_ >= ticket; });
}

void ScriptedDriver::ReturnBuffer(OpenPort& port, std::uint32_t timeStamp) {
  MIDIHDR* header = port.queue.front();
  port.queue.pop_front();
  header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
  port.callback(port.handle, MIM_LONGDATA, port.instance, reinterpret_cast<std::uintptr_t>(header),
                timeStamp);
}

void ScriptedDriver::Run() {
  Lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
    if (tasks_.empty()) return;  // stopping, and nothing left to do
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    // Tasks run with the lock held: callbacks only store and post, so
    // holding it never makes the UI thread wait for long.
    task();
    ++completed_;
    done_.notify_all();
  }
}

MidiResult ScriptedDriver::Open(Lock& lock, bool input, MidiHandle* handle, std::uint32_t device,
                                MidiCallback callback, std::uintptr_t instance,
                                std::uint32_t flags) {
  const char* function = input ? "midiInOpen" : "midiOutOpen";
  std::string args =
      input ? std::to_string(device) : std::to_string(static_cast<std::int32_t>(device));
  if (MidiResult failure = Begin(lock, function, args, 0, nullptr)) return failure;
  bool mapper = !input && device == MIDI_MAPPER;
  if (mapper) {
    if (!mapperPresent_) return End(lock, kMidiErrBadDeviceId);
  } else if (device >= (input ? inputs_.size() : outputs_.size())) {
    return End(lock, kMidiErrBadDeviceId);
  }
  if (handle == nullptr || callback == nullptr) return End(lock, kMidiErrInvalidParam);
  if (flags != CALLBACK_FUNCTION) return End(lock, kMidiErrInvalidFlag);
  if (!mapper && FindByDevice(lock, device, input) != nullptr) return End(lock, kMidiErrAllocated);
  MidiHandle opened = nextHandle_++;
  OpenPort& port = ports_[opened];
  port.input = input;
  port.handle = opened;
  port.device = device;
  port.callback = callback;
  port.instance = instance;
  *handle = opened;
  calls_.back().handle = opened;
  Post(lock, [this, input, opened] {
    Lock held(mutex_, std::adopt_lock);
    OpenPort* open = Find(held, opened, input);
    held.release();
    if (open != nullptr) open->callback(opened, input ? MIM_OPEN : MOM_OPEN, open->instance, 0, 0);
  });
  return End(lock, kMidiOk);
}

// ---- Input ------------------------------------------------------------------

std::uint32_t ScriptedDriver::midiInGetNumDevs() {
  Lock lock(mutex_);
  Begin(lock, "midiInGetNumDevs", "", 0, nullptr);
  return static_cast<std::uint32_t>(inputs_.size());
}

MidiResult ScriptedDriver::midiInGetDevCaps(std::uint32_t device, MIDIINCAPS* caps,
                                            std::uint32_t size) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiInGetDevCaps", std::to_string(device), 0, nullptr))
    return failure;
  if (device >= inputs_.size()) return End(lock, kMidiErrBadDeviceId);
  if (caps == nullptr || size != sizeof(MIDIINCAPS)) return End(lock, kMidiErrInvalidParam);
  const ScriptedDevice& source = inputs_[device];
  *caps = MIDIINCAPS{};
  caps->wMid = source.manufacturerId;
  caps->wPid = source.productId;
  caps->vDriverVersion = source.driverVersion;
  CopyName(source.name, caps->szPname);
  return End(lock, kMidiOk);
}

MidiResult ScriptedDriver::midiInGetErrorText(MidiResult code, char* text, std::uint32_t size) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiInGetErrorText", std::to_string(code), 0, nullptr))
    return failure;
  return End(lock, MidiDriver::midiInGetErrorText(code, text, size));
}

MidiResult ScriptedDriver::midiInOpen(MidiHandle* handle, std::uint32_t device,
                                      MidiCallback callback, std::uintptr_t instance,
                                      std::uint32_t flags) {
  Lock lock(mutex_);
  return Open(lock, true, handle, device, callback, instance, flags);
}

MidiResult ScriptedDriver::midiInPrepareHeader(MidiHandle handle, MIDIHDR* header,
                                               std::uint32_t size) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiInPrepareHeader", "", handle, header)) return failure;
  if (Find(lock, handle, true) == nullptr) return End(lock, kMidiErrInvalidHandle);
  if (header == nullptr || size != kMidiHdrSize || header->lpData == nullptr)
    return End(lock, kMidiErrInvalidParam);
  header->dwFlags |= MHDR_PREPARED;
  return End(lock, kMidiOk);
}

MidiResult ScriptedDriver::midiInAddBuffer(MidiHandle handle, MIDIHDR* header, std::uint32_t size) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiInAddBuffer", "", handle, header)) return failure;
  OpenPort* port = Find(lock, handle, true);
  if (port == nullptr) return End(lock, kMidiErrInvalidHandle);
  if (header == nullptr || size != kMidiHdrSize) return End(lock, kMidiErrInvalidParam);
  if ((header->dwFlags & MHDR_PREPARED) == 0) return End(lock, kMidiErrUnprepared);
  if ((header->dwFlags & MHDR_INQUEUE) != 0) return End(lock, kMidiErrStillPlaying);
  header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  header->dwBytesRecorded = 0;
  port->queue.push_back(header);
  return End(lock, kMidiOk);
}

MidiResult ScriptedDriver::midiInStart(MidiHandle handle) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiInStart", "", handle, nullptr)) return failure;
  OpenPort* port = Find(lock, handle, true);
  if (port == nullptr) return End(lock, kMidiErrInvalidHandle);
  port->started = true;
  return End(lock, kMidiOk);
}

MidiResult ScriptedDriver::midiInReset(MidiHandle handle) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiInReset", "", handle, nullptr)) return failure;
  if (Find(lock, handle, true) == nullptr) return End(lock, kMidiErrInvalidHandle);
  std::size_t call = calls_.size() - 1;
  // Like a real driver, the buffers come back through the callback on the
  // driver's thread, and all of them before the reset returns.
  std::uint64_t ticket = Post(lock, [this, handle] {
    Lock held(mutex_, std::adopt_lock);
    OpenPort* port = Find(held, handle, true);
    held.release();
    if (port == nullptr) return;
    port->started = false;
    while (!port->queue.empty()) ReturnBuffer(*port, 0);
  });
  WaitFor(lock, ticket);
  calls_[call].result = kMidiOk;
  return kMidiOk;
}

MidiResult ScriptedDriver::midiInUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                                 std::uint32_t size) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiInUnprepareHeader", "", handle, header)) return failure;
  if (Find(lock, handle, true) == nullptr) return End(lock, kMidiErrInvalidHandle);
  if (header == nullptr || size != kMidiHdrSize) return End(lock, kMidiErrInvalidParam);
  if ((header->dwFlags & MHDR_INQUEUE) != 0) return End(lock, kMidiErrStillPlaying);
  header->dwFlags &= ~MHDR_PREPARED;
  return End(lock, kMidiOk);
}

MidiResult ScriptedDriver::midiInClose(MidiHandle handle) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiInClose", "", handle, nullptr)) return failure;
  OpenPort* port = Find(lock, handle, true);
  if (port == nullptr) return End(lock, kMidiErrInvalidHandle);
  if (!port->queue.empty()) return End(lock, kMidiErrStillPlaying);
  std::size_t call = calls_.size() - 1;
  // Whatever was handed to the driver thread before runs first; nothing
  // calls back for this handle once the close returns.
  std::uint64_t ticket = Post(lock, [this, handle] {
    Lock held(mutex_, std::adopt_lock);
    OpenPort* open = Find(held, handle, true);
    held.release();
    if (open == nullptr) return;
    open->callback(handle, MIM_CLOSE, open->instance, 0, 0);
    ports_.erase(handle);
  });
  WaitFor(lock, ticket);
  calls_[call].result = kMidiOk;
  return kMidiOk;
}

// ---- Output -----------------------------------------------------------------

std::uint32_t ScriptedDriver::midiOutGetNumDevs() {
  Lock lock(mutex_);
  Begin(lock, "midiOutGetNumDevs", "", 0, nullptr);
  return static_cast<std::uint32_t>(outputs_.size());
}

MidiResult ScriptedDriver::midiOutGetDevCaps(std::uint32_t device, MIDIOUTCAPS* caps,
                                             std::uint32_t size) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiOutGetDevCaps",
                                 std::to_string(static_cast<std::int32_t>(device)), 0, nullptr))
    return failure;
  const ScriptedDevice* source = nullptr;
  if (device == MIDI_MAPPER) {
    if (mapperPresent_) source = &mapper_;
  } else if (device < outputs_.size()) {
    source = &outputs_[device];
  }
  if (source == nullptr) return End(lock, kMidiErrBadDeviceId);
  if (caps == nullptr || size != sizeof(MIDIOUTCAPS)) return End(lock, kMidiErrInvalidParam);
  *caps = MIDIOUTCAPS{};
  caps->wMid = source->manufacturerId;
  caps->wPid = source->productId;
  caps->vDriverVersion = source->driverVersion;
  CopyName(source->name, caps->szPname);
  caps->wTechnology = source->technology;
  caps->wVoices = source->voices;
  caps->wNotes = source->notes;
  caps->wChannelMask = source->channelMask;
  caps->dwSupport = source->support;
  return End(lock, kMidiOk);
}

MidiResult ScriptedDriver::midiOutGetErrorText(MidiResult code, char* text, std::uint32_t size) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiOutGetErrorText", std::to_string(code), 0, nullptr))
    return failure;
  return End(lock, MidiDriver::midiOutGetErrorText(code, text, size));
}

MidiResult ScriptedDriver::midiOutOpen(MidiHandle* handle, std::uint32_t device,
                                       MidiCallback callback, std::uintptr_t instance,
                                       std::uint32_t flags) {
  Lock lock(mutex_);
  return Open(lock, false, handle, device, callback, instance, flags);
}

MidiResult ScriptedDriver::midiOutClose(MidiHandle handle) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiOutClose", "", handle, nullptr)) return failure;
  if (Find(lock, handle, false) == nullptr) return End(lock, kMidiErrInvalidHandle);
  std::size_t call = calls_.size() - 1;
  // Long messages handed over before the close are reported done first.
  std::uint64_t ticket = Post(lock, [this, handle] {
    Lock held(mutex_, std::adopt_lock);
    OpenPort* open = Find(held, handle, false);
    held.release();
    if (open == nullptr) return;
    open->callback(handle, MOM_CLOSE, open->instance, 0, 0);
    ports_.erase(handle);
  });
  WaitFor(lock, ticket);
  calls_[call].result = kMidiOk;
  return kMidiOk;
}

MidiResult ScriptedDriver::midiOutShortMsg(MidiHandle handle, std::uint32_t packed) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiOutShortMsg", Hex(packed), handle, nullptr))
    return failure;
  OpenPort* port = Find(lock, handle, false);
  if (port == nullptr) return End(lock, kMidiErrInvalidHandle);
  sent_.push_back(ScriptedSent{port->device, false, packed, {}});
  return End(lock, kMidiOk);
}

MidiResult ScriptedDriver::midiOutPrepareHeader(MidiHandle handle, MIDIHDR* header,
                                                std::uint32_t size) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiOutPrepareHeader", "", handle, header)) return failure;
  if (Find(lock, handle, false) == nullptr) return End(lock, kMidiErrInvalidHandle);
  if (header == nullptr || size != kMidiHdrSize || header->lpData == nullptr)
    return End(lock, kMidiErrInvalidParam);
  header->dwFlags |= MHDR_PREPARED;
  return End(lock, kMidiOk);
}

MidiResult ScriptedDriver::midiOutLongMsg(MidiHandle handle, MIDIHDR* header, std::uint32_t size) {
  Lock lock(mutex_);
  std::string args = header != nullptr ? std::to_string(header->dwBufferLength) : "";
  if (MidiResult failure = Begin(lock, "midiOutLongMsg", args, handle, header)) return failure;
  OpenPort* port = Find(lock, handle, false);
  if (port == nullptr) return End(lock, kMidiErrInvalidHandle);
  if (header == nullptr || size != kMidiHdrSize) return End(lock, kMidiErrInvalidParam);
  if ((header->dwFlags & MHDR_PREPARED) == 0) return End(lock, kMidiErrUnprepared);
  if ((header->dwFlags & MHDR_INQUEUE) != 0) return End(lock, kMidiErrStillPlaying);
  const auto* data = reinterpret_cast<const std::uint8_t*>(header->lpData);
  sent_.push_back(ScriptedSent{port->device, true, 0,
                               std::vector<std::uint8_t>(data, data + header->dwBufferLength)});
  header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  Post(lock, [this, handle, header] {
    Lock held(mutex_, std::adopt_lock);
    OpenPort* open = Find(held, handle, false);
    held.release();
    header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
    if (open != nullptr)
      open->callback(handle, MOM_DONE, open->instance, reinterpret_cast<std::uintptr_t>(header), 0);
  });
  return End(lock, kMidiOk);
}

MidiResult ScriptedDriver::midiOutUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                                  std::uint32_t size) {
  Lock lock(mutex_);
  if (MidiResult failure = Begin(lock, "midiOutUnprepareHeader", "", handle, header))
    return failure;
  if (Find(lock, handle, false) == nullptr) return End(lock, kMidiErrInvalidHandle);
  if (header == nullptr || size != kMidiHdrSize) return End(lock, kMidiErrInvalidParam);
  if ((header->dwFlags & MHDR_INQUEUE) != 0) return End(lock, kMidiErrStillPlaying);
  header->dwFlags &= ~MHDR_PREPARED;
  return End(lock, kMidiOk);
}

}  // namespace korvane
