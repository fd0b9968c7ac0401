#include "platform/builtin/driver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <thread>

namespace korvane {
namespace {

enum InputDevice : std::uint32_t { kDemo = 0, kLoopbackIn = 1, kInputCount = 2 };
constexpr std::uint32_t kOutputCount = 1;
constexpr std::uint32_t kDriverVersion = 0x0100;
constexpr std::uint16_t kModMidiPort = 1;  // wTechnology: a MIDI hardware port

template <std::size_t N>
void CopyName(char (&target)[N], const char* name) {
  std::memset(target, 0, N);
  std::strncpy(target, name, N - 1);
}

// The demo's traffic, tick by tick: one tick is one quarter frame, 10 ms.
class DemoPlayer {
 public:
  explicit DemoPlayer(InputStream& stream) : stream_(stream) {}
  ~DemoPlayer() { Stop(); }
  DemoPlayer(const DemoPlayer&) = delete;
  DemoPlayer& operator=(const DemoPlayer&) = delete;

  MidiResult Start() noexcept {
    if (thread_.joinable()) return kMidiOk;
    stop_ = false;
    try {
      thread_ = std::thread([this] { Run(); });
    } catch (...) {
      return kMidiErrNoMemory;
    }
    return kMidiOk;
  }

  // UI thread. Returns once the player thread has ended.
  void Stop() noexcept {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  static constexpr int kTickMs = 10;
  static constexpr int kFps = 25;

  // Player thread.
  void Run() {
    const auto t0 = std::chrono::steady_clock::now();
    for (std::int64_t tick = 0;; ++tick) {
      {
        std::unique_lock lock(mutex_);
        if (wake_.wait_until(lock, t0 + std::chrono::milliseconds(tick * kTickMs),
                             [&] { return stop_; }))
          return;
      }
      PlayTick(tick);
    }
  }

  void Send(std::initializer_list<std::uint8_t> bytes) {
    stream_.Feed(std::data(bytes), bytes.size());
  }

  void PlayTick(std::int64_t tick) {
    SendQuarterFrame(tick);
    if (tick % 30 == 0) Send({0xFE});  // Active Sensing every 300 ms
    PlayMusic(tick);
    if (tick % 400 == 100) SendIdentityReply();
    if (tick % 500 == 200) SendDump();
  }

  // Eight quarter frames carry one time, and the time moves on by two frames
  // in the meantime: 100 quarter frames a second are 25 frames a second.
  void SendQuarterFrame(std::int64_t tick) {
    const int piece = static_cast<int>(tick % 8);
    const std::int64_t frames = kStartFrames + (tick / 8) * 2;
    const int f = static_cast<int>(frames % kFps);
    const int s = static_cast<int>(frames / kFps % 60);
    const int m = static_cast<int>(frames / kFps / 60 % 60);
    const int h = static_cast<int>(frames / kFps / 3600 % 24);
    int nibble = 0;
    switch (piece) {
      case 0:
        nibble = f & 0xF;
        break;
      case 1:
        nibble = f >> 4;
        break;
      case 2:
        nibble = s & 0xF;
        break;
      case 3:
        nibble = s >> 4;
        break;
      case 4:
        nibble = m & 0xF;
        break;
      case 5:
        nibble = m >> 4;
        break;
      case 6:
        nibble = h & 0xF;
        break;
      default:
        nibble = (1 << 1) | (h >> 4);
        break;  // rate code 1: 25 fps
    }
    Send({0xF1, static_cast<std::uint8_t>(piece << 4 | nibble)});
  }

  void PlayMusic(std::int64_t tick) {
    static constexpr std::array<std::uint8_t, 8> kMelody = {60, 62, 64, 67, 69, 67, 64, 62};
    static constexpr std::array<std::array<std::uint8_t, 3>, 4> kChords = {
        {{48, 52, 55}, {45, 48, 52}, {41, 45, 48}, {43, 47, 50}}};
    const auto u8 = [](std::int64_t v) { return static_cast<std::uint8_t>(v & 0x7F); };
    // Channel 1: a melody, one note every 250 ms.
    if (tick % 25 == 0) {
      melodyNote_ = kMelody[static_cast<std::size_t>(tick / 25 % 8)];
      Send({0x90, melodyNote_, u8(80 + tick / 25 % 5 * 8)});
    }
    if (tick % 25 == 20) Send({0x80, melodyNote_, 0x40});
    // Channel 2: a chord every second, with the pitch bend wandering.
    if (tick % 100 == 0) {
      chord_ = static_cast<std::size_t>(tick / 100 % 4);
      for (auto note : kChords[chord_]) Send({0x91, note, 0x50});
    }
    if (tick % 100 == 80) {
      for (auto note : kChords[chord_]) Send({0x91, note, 0x00});  // note off as velocity 0
    }
    if (tick % 5 == 0) {
      const double phase = static_cast<double>(tick % 200) / 200.0 * 6.283185307179586;
      const auto bend = static_cast<int>(8192 + 2048 * std::sin(phase));
      Send({0xE1, u8(bend), u8(bend >> 7)});
    }
    // Channel 10: kick and snare.
    if (tick % 50 == 0) Send({0x99, static_cast<std::uint8_t>(tick % 100 == 0 ? 36 : 38), 0x64});
    if (tick % 50 == 5) Send({0x89, static_cast<std::uint8_t>(tick % 100 == 5 ? 36 : 38), 0x40});
    // Controllers and program changes.
    if (tick % 20 == 10) Send({0xB0, 0x01, u8(std::abs(tick / 20 % 32 - 16) * 8)});  // modulation
    if (tick % 500 == 5) {
      Send({0xB0, 0x07, 100});
      Send({0xB1, 0x07, 90});
    }
    if (tick % 200 == 10) Send({0xC0, u8(tick / 200 % 8)});
    if (tick % 400 == 15) Send({0xC1, u8(48 + tick / 400 % 4)});
  }

  // Universal non-real-time Identity Reply: manufacturer 7D (non-commercial),
  // family 1, member 2, version 1.0.0.0, all numbers least significant first.
  void SendIdentityReply() {
    Send(
        {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x7D, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7});
  }

  // A dump longer than one 4,096-byte buffer, so the input sees it in parts.
  void SendDump() {
    dump_.resize(kDemoDumpSize);
    dump_[0] = 0xF0;
    dump_[1] = 0x7D;
    for (std::size_t i = 2; i + 1 < dump_.size(); ++i)
      dump_[i] = static_cast<std::uint8_t>((i * 37 + dumpCount_) & 0x7F);
    dump_.back() = 0xF7;
    ++dumpCount_;
    stream_.Feed(dump_.data(), dump_.size());
  }

  static constexpr std::int64_t kStartFrames = 3600LL * kFps;  // 01:00:00:00

  InputStream& stream_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
  // Player thread only.
  std::uint8_t melodyNote_ = 60;
  std::size_t chord_ = 0;
  std::vector<std::uint8_t> dump_;
  unsigned dumpCount_ = 0;
};

}  // namespace

struct BuiltinMidiDriver::Input {
  std::uint32_t device = 0;
  InputStream stream;
  std::unique_ptr<DemoPlayer> player;  // the demo only
};

struct BuiltinMidiDriver::Output {
  MidiCallback callback = nullptr;
  std::uintptr_t instance = 0;
};

BuiltinMidiDriver::BuiltinMidiDriver() = default;

BuiltinMidiDriver::~BuiltinMidiDriver() {
  for (auto& [handle, input] : inputs_) {
    if (input->player) input->player->Stop();
  }
}

BuiltinMidiDriver::Input* BuiltinMidiDriver::FindInput(MidiHandle handle) const noexcept {
  auto it = inputs_.find(handle);
  return it == inputs_.end() ? nullptr : it->second.get();
}

BuiltinMidiDriver::Output* BuiltinMidiDriver::FindOutput(MidiHandle handle) const noexcept {
  auto it = outputs_.find(handle);
  return it == outputs_.end() ? nullptr : it->second.get();
}

std::uint32_t BuiltinMidiDriver::midiInGetNumDevs() {
  return kInputCount;
}

MidiResult BuiltinMidiDriver::midiInGetDevCaps(std::uint32_t device, MIDIINCAPS* caps,
                                               std::uint32_t size) {
  if (device >= kInputCount) return kMidiErrBadDeviceId;
  if (caps == nullptr || size < sizeof(MIDIINCAPS)) return kMidiErrInvalidParam;
  *caps = MIDIINCAPS{};
  caps->vDriverVersion = kDriverVersion;
  CopyName(caps->szPname, device == kDemo ? kDemoInputName : kLoopbackName);
  return kMidiOk;
}

MidiResult BuiltinMidiDriver::midiInOpen(MidiHandle* handle, std::uint32_t device,
                                         MidiCallback callback, std::uintptr_t instance,
                                         std::uint32_t flags) {
  if (handle == nullptr) return kMidiErrInvalidParam;
  if (device >= kInputCount) return kMidiErrBadDeviceId;
  if (flags != CALLBACK_FUNCTION || callback == nullptr) return kMidiErrInvalidFlag;
  try {
    auto input = std::make_unique<Input>();
    input->device = device;
    const auto h = reinterpret_cast<MidiHandle>(input.get());
    input->stream.Bind(h, callback, instance);
    if (device == kDemo) input->player = std::make_unique<DemoPlayer>(input->stream);
    Input* raw = input.get();
    inputs_.emplace(h, std::move(input));
    if (device == kLoopbackIn) {
      std::lock_guard lock(loopMutex_);
      loopInputs_.push_back(raw);
    }
    callback(h, MIM_OPEN, instance, 0, 0);
    *handle = h;
  } catch (...) {
    return kMidiErrNoMemory;
  }
  return kMidiOk;
}

MidiResult BuiltinMidiDriver::midiInPrepareHeader(MidiHandle handle, MIDIHDR* header,
                                                  std::uint32_t size) {
  Input* input = FindInput(handle);
  return input == nullptr ? kMidiErrInvalidHandle : input->stream.PrepareHeader(header, size);
}

MidiResult BuiltinMidiDriver::midiInAddBuffer(MidiHandle handle, MIDIHDR* header,
                                              std::uint32_t size) {
  Input* input = FindInput(handle);
  return input == nullptr ? kMidiErrInvalidHandle : input->stream.AddBuffer(header, size);
}

MidiResult BuiltinMidiDriver::midiInStart(MidiHandle handle) {
  Input* input = FindInput(handle);
  if (input == nullptr) return kMidiErrInvalidHandle;
  if (MidiResult r = input->stream.Start(); r != kMidiOk) return r;
  return input->player ? input->player->Start() : kMidiOk;
}

MidiResult BuiltinMidiDriver::midiInReset(MidiHandle handle) {
  Input* input = FindInput(handle);
  if (input == nullptr) return kMidiErrInvalidHandle;
  if (input->player) input->player->Stop();  // outside the stream's lock: the player feeds under it
  return input->stream.Reset();
}

MidiResult BuiltinMidiDriver::midiInUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                                    std::uint32_t size) {
  Input* input = FindInput(handle);
  return input == nullptr ? kMidiErrInvalidHandle : input->stream.UnprepareHeader(header, size);
}

MidiResult BuiltinMidiDriver::midiInClose(MidiHandle handle) {
  Input* input = FindInput(handle);
  if (input == nullptr) return kMidiErrInvalidHandle;
  if (input->player) input->player->Stop();
  if (MidiResult r = input->stream.Close(); r != kMidiOk) return r;
  {
    std::lock_guard lock(loopMutex_);
    std::erase(loopInputs_, input);
  }
  inputs_.erase(handle);
  return kMidiOk;
}

std::uint32_t BuiltinMidiDriver::midiOutGetNumDevs() {
  return kOutputCount;
}

MidiResult BuiltinMidiDriver::midiOutGetDevCaps(std::uint32_t device, MIDIOUTCAPS* caps,
                                                std::uint32_t size) {
  if (device >= kOutputCount) return kMidiErrBadDeviceId;
  if (caps == nullptr || size < sizeof(MIDIOUTCAPS)) return kMidiErrInvalidParam;
  *caps = MIDIOUTCAPS{};
  caps->vDriverVersion = kDriverVersion;
  caps->wTechnology = kModMidiPort;
  caps->wChannelMask = 0xFFFF;
  CopyName(caps->szPname, kLoopbackName);
  return kMidiOk;
}

MidiResult BuiltinMidiDriver::midiOutOpen(MidiHandle* handle, std::uint32_t device,
                                          MidiCallback callback, std::uintptr_t instance,
                                          std::uint32_t flags) {
  if (handle == nullptr) return kMidiErrInvalidParam;
  if (device >= kOutputCount) return kMidiErrBadDeviceId;
  if (flags != CALLBACK_FUNCTION || callback == nullptr) return kMidiErrInvalidFlag;
  try {
    auto output = std::make_unique<Output>();
    output->callback = callback;
    output->instance = instance;
    const auto h = reinterpret_cast<MidiHandle>(output.get());
    outputs_.emplace(h, std::move(output));
    callback(h, MOM_OPEN, instance, 0, 0);
    *handle = h;
  } catch (...) {
    return kMidiErrNoMemory;
  }
  return kMidiOk;
}

MidiResult BuiltinMidiDriver::midiOutClose(MidiHandle handle) {
  Output* output = FindOutput(handle);
  if (output == nullptr) return kMidiErrInvalidHandle;
  completions_.Flush(handle);  // no MOM_DONE after the close
  output->callback(handle, MOM_CLOSE, output->instance, 0, 0);
  outputs_.erase(handle);
  return kMidiOk;
}

void BuiltinMidiDriver::Loop(const std::uint8_t* bytes, std::size_t count) noexcept {
  std::lock_guard lock(loopMutex_);
  for (Input* input : loopInputs_) input->stream.Feed(bytes, count);
}

MidiResult BuiltinMidiDriver::midiOutShortMsg(MidiHandle handle, std::uint32_t packed) {
  if (FindOutput(handle) == nullptr) return kMidiErrInvalidHandle;
  const auto status = static_cast<std::uint8_t>(packed);
  // A lone data byte or a system-exclusive start or end is no short message.
  if (status < 0x80 || status == 0xF0 || status == 0xF7) return kMidiErrInvalidParam;
  const std::uint8_t bytes[3] = {status, static_cast<std::uint8_t>(packed >> 8),
                                 static_cast<std::uint8_t>(packed >> 16)};
  Loop(bytes, 1 + static_cast<std::size_t>(MidiDataByteCount(status)));
  return kMidiOk;
}

MidiResult BuiltinMidiDriver::midiOutPrepareHeader(MidiHandle handle, MIDIHDR* header,
                                                   std::uint32_t size) {
  if (FindOutput(handle) == nullptr) return kMidiErrInvalidHandle;
  return completions_.PrepareHeader(header, size);
}

MidiResult BuiltinMidiDriver::midiOutLongMsg(MidiHandle handle, MIDIHDR* header,
                                             std::uint32_t size) {
  Output* output = FindOutput(handle);
  if (output == nullptr) return kMidiErrInvalidHandle;
  if (MidiResult r = completions_.Accept(header, size); r != kMidiOk) return r;
  Loop(reinterpret_cast<const std::uint8_t*>(header->lpData), header->dwBufferLength);
  if (!completions_.Report(handle, output->callback, output->instance, header))
    return kMidiErrNoMemory;
  return kMidiOk;
}

MidiResult BuiltinMidiDriver::midiOutUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                                     std::uint32_t size) {
  if (FindOutput(handle) == nullptr) return kMidiErrInvalidHandle;
  return completions_.UnprepareHeader(header, size);
}

}  // namespace korvane
