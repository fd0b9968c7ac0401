#include "platform/rtmidi/driver.h"

#include <RtMidi.h>
#include <dlfcn.h>
#include <jack/jack.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "platform/builtin/device_io.h"

namespace korvane {
namespace {

// Our JACK and ALSA client name. Ports of clients so named are our own and
// are left out of the device lists: choosing "Korvane In" as the thru output
// would send every message round in a circle.
constexpr char kClientName[] = "Korvane";
constexpr char kConnectInName[] = "Monitor In";
constexpr char kConnectOutName[] = "Monitor Out";
constexpr unsigned kRtMidiQueueLimit = 100;  // RtMidi's own queue, idle: input comes by callback
constexpr std::uint32_t kDriverVersion = 0x0500;
constexpr std::uint16_t kModMidiPort = 1;

bool IsOwnPort(const std::string& name) {
  const std::size_t n = std::strlen(kClientName);
  return name.compare(0, n, kClientName) == 0 && name.size() > n &&
         (name[n] == ':' || name[n] == '-');
}

// RtMidi reports through this callback instead of throwing once it is set.
// Errors come on the thread of the call that failed, so each thread keeps
// its own.
thread_local bool tFailed = false;
thread_local RtMidiError::Type tFailure = RtMidiError::UNSPECIFIED;

void RecordError(RtMidiError::Type type, const std::string&, void*) {
  if (type == RtMidiError::DEBUG_WARNING) return;
  tFailed = true;
  tFailure = type;
}

MidiResult ResultFor(RtMidiError::Type type) noexcept {
  switch (type) {
    case RtMidiError::NO_DEVICES_FOUND:
    case RtMidiError::INVALID_DEVICE:
      return kMidiErrDeviceGone;
    case RtMidiError::MEMORY_ERROR:
      return kMidiErrNoMemory;
    case RtMidiError::INVALID_PARAMETER:
    case RtMidiError::INVALID_USE:
      return kMidiErrInvalidParam;
    default:
      return kMidiErrNotReady;
  }
}

// Runs one step against RtMidi and turns whatever it reports, by exception
// or through the error callback, into a result code.
template <class Step>
MidiResult Guard(Step&& step) noexcept {
  tFailed = false;
  try {
    step();
  } catch (const RtMidiError& e) {
    return ResultFor(e.getType());
  } catch (const std::bad_alloc&) {
    return kMidiErrNoMemory;
  } catch (...) {
    return kMidiErrUnspecified;
  }
  return tFailed ? ResultFor(tFailure) : kMidiOk;
}

template <std::size_t N>
void CopyName(char (&target)[N], const std::string& name) {
  std::memset(target, 0, N);
  std::strncpy(target, name.c_str(), N - 1);
}

RtMidi::Api ApiOf(RtMidiSystem system) {
  return system == RtMidiSystem::kAlsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
}

// Driver thread (ALSA's or JACK's). RtMidi hands over one whole message.
void OnRtMidiInput(double, std::vector<unsigned char>* message, void* user) {
  if (message == nullptr || message->empty()) return;
  static_cast<InputStream*>(user)->Feed(message->data(), message->size());
}

void Silent(const char*) {}

// What libjack has freed the JACK client of is never closed or destroyed;
// it is kept here for the rest of the run, in plain sight of leak checkers.
void Keep(void* object) noexcept {
  static auto* kept = new std::vector<void*>;
  if (object == nullptr) return;
  try {
    kept->push_back(object);
  } catch (...) {  // no memory: then it is simply lost
  }
}

class RtMidiDriver final : public MidiDriver {
 public:
  explicit RtMidiDriver(RtMidiSystem system) : system_(system), api_(ApiOf(system)) {}
  ~RtMidiDriver() override {
    // RtMidi's objects stop their threads first; the streams go after them.
    for (auto& [h, input] : inputs_) {
      if (input->abandoned)
        Keep(input.release());
      else
        input->port.reset();
    }
    for (auto& [h, output] : outputs_) {
      if (output->abandoned)
        Keep(output->port.release());
      else
        output->port.reset();
    }
  }

  // Input.
  std::uint32_t midiInGetNumDevs() override {
    inNames_ = ListPorts<RtMidiIn>(probeIn_);
    return static_cast<std::uint32_t>(inNames_.size() + 1);
  }

  MidiResult midiInGetDevCaps(std::uint32_t device, MIDIINCAPS* caps, std::uint32_t size) override {
    if (device > inNames_.size()) return kMidiErrBadDeviceId;
    if (caps == nullptr || size < sizeof(MIDIINCAPS)) return kMidiErrInvalidParam;
    *caps = MIDIINCAPS{};
    caps->vDriverVersion = kDriverVersion;
    CopyName(caps->szPname,
             device < inNames_.size() ? inNames_[device] : std::string(kVirtualInputName));
    return kMidiOk;
  }

  MidiResult midiInOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                        std::uintptr_t instance, std::uint32_t flags) override {
    if (handle == nullptr) return kMidiErrInvalidParam;
    if (device > inNames_.size()) return kMidiErrBadDeviceId;
    if (flags != CALLBACK_FUNCTION || callback == nullptr) return kMidiErrInvalidFlag;
    if (!SystemThere()) return kMidiErrNoDriver;
    std::unique_ptr<Input> input;
    try {
      input = std::make_unique<Input>();
    } catch (...) {
      return kMidiErrNoMemory;
    }
    const auto h = reinterpret_cast<MidiHandle>(input.get());
    input->stream.Bind(h, callback, instance);
    const bool isVirtual = device == inNames_.size();
    const std::string name = isVirtual ? std::string() : inNames_[device];
    MidiResult result = Guard([&] {
      input->port = std::make_unique<RtMidiIn>(api_, kClientName, kRtMidiQueueLimit);
      input->port->setErrorCallback(RecordError, nullptr);
      input->port->ignoreTypes(false, false,
                               false);  // system exclusive, timing and Active Sensing too
      input->port->setCallback(OnRtMidiInput, &input->stream);
    });
    if (result == kMidiOk)
      result = OpenPort(*input->port, isVirtual, name, kVirtualInputName, kConnectInName);
    if (result != kMidiOk) {
      Guard([&] { input->port.reset(); });
      return result;
    }
    try {
      inputs_.emplace(h, std::move(input));
    } catch (...) {
      Guard([&] { input->port.reset(); });
      return kMidiErrNoMemory;
    }
    callback(h, MIM_OPEN, instance, 0, 0);
    *handle = h;
    return kMidiOk;
  }

  MidiResult midiInPrepareHeader(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override {
    Input* input = Find(inputs_, handle);
    return input == nullptr ? kMidiErrInvalidHandle : input->stream.PrepareHeader(header, size);
  }
  MidiResult midiInAddBuffer(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override {
    Input* input = Find(inputs_, handle);
    return input == nullptr ? kMidiErrInvalidHandle : input->stream.AddBuffer(header, size);
  }
  MidiResult midiInStart(MidiHandle handle) override {
    Input* input = Find(inputs_, handle);
    return input == nullptr ? kMidiErrInvalidHandle : input->stream.Start();
  }
  MidiResult midiInReset(MidiHandle handle) override {
    Input* input = Find(inputs_, handle);
    return input == nullptr ? kMidiErrInvalidHandle : input->stream.Reset();
  }
  MidiResult midiInUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                   std::uint32_t size) override {
    Input* input = Find(inputs_, handle);
    return input == nullptr ? kMidiErrInvalidHandle : input->stream.UnprepareHeader(header, size);
  }
  MidiResult midiInClose(MidiHandle handle) override {
    Input* input = Find(inputs_, handle);
    if (input == nullptr) return kMidiErrInvalidHandle;
    if (MidiResult r = input->stream.Close(); r != kMidiOk) return r;
    auto it = inputs_.find(handle);
    if (input->abandoned) {
      // Its client is no more: the port and the stream it was given stay.
      Keep(it->second.release());
    } else {
      // Closing the port ends RtMidi's thread; no input comes after this.
      Guard([&] { input->port.reset(); });
    }
    inputs_.erase(it);
    return kMidiOk;
  }

  // Output.
  std::uint32_t midiOutGetNumDevs() override {
    outNames_ = ListPorts<RtMidiOut>(probeOut_);
    return static_cast<std::uint32_t>(outNames_.size() + 1);
  }

  MidiResult midiOutGetDevCaps(std::uint32_t device, MIDIOUTCAPS* caps,
                               std::uint32_t size) override {
    if (device > outNames_.size()) return kMidiErrBadDeviceId;
    if (caps == nullptr || size < sizeof(MIDIOUTCAPS)) return kMidiErrInvalidParam;
    *caps = MIDIOUTCAPS{};
    caps->vDriverVersion = kDriverVersion;
    caps->wTechnology = kModMidiPort;
    caps->wChannelMask = 0xFFFF;
    CopyName(caps->szPname,
             device < outNames_.size() ? outNames_[device] : std::string(kVirtualOutputName));
    return kMidiOk;
  }

  MidiResult midiOutOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                         std::uintptr_t instance, std::uint32_t flags) override {
    if (handle == nullptr) return kMidiErrInvalidParam;
    if (device > outNames_.size()) return kMidiErrBadDeviceId;
    if (flags != CALLBACK_FUNCTION || callback == nullptr) return kMidiErrInvalidFlag;
    if (!SystemThere()) return kMidiErrNoDriver;
    std::unique_ptr<Output> output;
    try {
      output = std::make_unique<Output>();
    } catch (...) {
      return kMidiErrNoMemory;
    }
    output->callback = callback;
    output->instance = instance;
    const bool isVirtual = device == outNames_.size();
    const std::string name = isVirtual ? std::string() : outNames_[device];
    MidiResult result = Guard([&] {
      output->port = std::make_unique<RtMidiOut>(api_, kClientName);
      output->port->setErrorCallback(RecordError, nullptr);
    });
    if (result == kMidiOk)
      result = OpenPort(*output->port, isVirtual, name, kVirtualOutputName, kConnectOutName);
    if (result != kMidiOk) {
      Guard([&] { output->port.reset(); });
      return result;
    }
    const auto h = reinterpret_cast<MidiHandle>(output.get());
    try {
      outputs_.emplace(h, std::move(output));
    } catch (...) {
      Guard([&] { output->port.reset(); });
      return kMidiErrNoMemory;
    }
    callback(h, MOM_OPEN, instance, 0, 0);
    *handle = h;
    return kMidiOk;
  }

  MidiResult midiOutClose(MidiHandle handle) override {
    Output* output = Find(outputs_, handle);
    if (output == nullptr) return kMidiErrInvalidHandle;
    completions_.Flush(handle);  // no MOM_DONE after the close
    output->callback(handle, MOM_CLOSE, output->instance, 0, 0);
    if (output->abandoned)
      Keep(output->port.release());  // its client is no more
    else
      Guard([&] { output->port.reset(); });
    outputs_.erase(handle);
    return kMidiOk;
  }

  MidiResult midiOutShortMsg(MidiHandle handle, std::uint32_t packed) override {
    Output* output = Find(outputs_, handle);
    if (output == nullptr) return kMidiErrInvalidHandle;
    const auto status = static_cast<std::uint8_t>(packed);
    // A lone data byte or a system-exclusive start or end is no short message.
    if (status < 0x80 || status == 0xF0 || status == 0xF7) return kMidiErrInvalidParam;
    const unsigned char bytes[3] = {status, static_cast<unsigned char>(packed >> 8),
                                    static_cast<unsigned char>(packed >> 16)};
    const std::size_t count = 1 + static_cast<std::size_t>(MidiDataByteCount(status));
    return Guard([&] { output->port->sendMessage(bytes, count); });
  }

  MidiResult midiOutPrepareHeader(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override {
    if (Find(outputs_, handle) == nullptr) return kMidiErrInvalidHandle;
    return completions_.PrepareHeader(header, size);
  }

  MidiResult midiOutLongMsg(MidiHandle handle, MIDIHDR* header, std::uint32_t size) override {
    Output* output = Find(outputs_, handle);
    if (output == nullptr) return kMidiErrInvalidHandle;
    if (MidiResult r = completions_.Accept(header, size); r != kMidiOk) return r;
    if (header->dwBufferLength > 0) {
      MidiResult sent = Guard([&] {
        output->port->sendMessage(reinterpret_cast<const unsigned char*>(header->lpData),
                                  header->dwBufferLength);
      });
      if (sent != kMidiOk) {
        completions_.Withdraw(header);
        return sent;
      }
    }
    if (!completions_.Report(handle, output->callback, output->instance, header))
      return kMidiErrNoMemory;
    return kMidiOk;
  }

  MidiResult midiOutUnprepareHeader(MidiHandle handle, MIDIHDR* header,
                                    std::uint32_t size) override {
    if (Find(outputs_, handle) == nullptr) return kMidiErrInvalidHandle;
    return completions_.UnprepareHeader(header, size);
  }

 private:
  // An abandoned device's JACK client was freed by libjack (see
  // SystemThere): it must never be closed or destroyed.
  struct Input {
    InputStream stream;
    std::unique_ptr<RtMidiIn> port;
    bool abandoned = false;
  };
  struct Output {
    std::unique_ptr<RtMidiOut> port;
    MidiCallback callback = nullptr;
    std::uintptr_t instance = 0;
    bool abandoned = false;
  };

  template <class T>
  static T* Find(const std::map<MidiHandle, std::unique_ptr<T>>& devices,
                 MidiHandle handle) noexcept {
    auto it = devices.find(handle);
    return it == devices.end() ? nullptr : it->second.get();
  }

  // RtMidi's JACK client would fail half-way through an open without a
  // server, so we look before every step that makes a client.
  bool SystemThere() noexcept {
    if (system_ == RtMidiSystem::kAlsa) return AlsaSequencerPresent();
    if (JackServerRunning()) return true;
    // When the server has gone away, a client open that fails (as the look
    // just did) makes libjack free every client still open on it. Ours are
    // then dangling: closing one would touch freed memory and crash.
    Keep(probeIn_.release());
    Keep(probeOut_.release());
    for (auto& [h, input] : inputs_) input->abandoned = true;
    for (auto& [h, output] : outputs_) output->abandoned = true;
    return false;
  }

  // The ports of other programs, by full name; empty when the system is gone.
  template <class Port>
  std::vector<std::string> ListPorts(std::unique_ptr<Port>& probe) {
    std::vector<std::string> names;
    if (!probe && !SystemThere()) return names;
    MidiResult result = Guard([&] {
      if (!probe) {
        probe = std::make_unique<Port>(api_, kClientName);
        probe->setErrorCallback(RecordError, nullptr);
      }
      const unsigned count = probe->getPortCount();
      for (unsigned i = 0; i < count; ++i) {
        std::string name = probe->getPortName(i);
        if (!name.empty() && !IsOwnPort(name)) names.push_back(std::move(name));
      }
    });
    if (result != kMidiOk) names.clear();
    return names;
  }

  // Opens a connection to the named port, or our virtual port. The list may
  // have changed since it was read, so the port is looked up by name again.
  template <class Port>
  MidiResult OpenPort(Port& port, bool isVirtual, const std::string& name, const char* virtualName,
                      const char* connectName) {
    unsigned count = 0;
    // Asking for the count makes RtMidi's client; a failure shows here,
    // before the open would use a client that is not there.
    if (MidiResult r = Guard([&] { count = port.getPortCount(); }); r != kMidiOk) return r;
    if (isVirtual) return Guard([&] { port.openVirtualPort(virtualName); });
    for (unsigned i = 0; i < count; ++i) {
      std::string current;
      if (Guard([&] { current = port.getPortName(i); }) != kMidiOk) break;
      if (current == name) return Guard([&] { port.openPort(i, connectName); });
    }
    return kMidiErrDeviceGone;
  }

  const RtMidiSystem system_;
  const RtMidi::Api api_;
  std::unique_ptr<RtMidiIn> probeIn_;
  std::unique_ptr<RtMidiOut> probeOut_;
  std::vector<std::string> inNames_;
  std::vector<std::string> outNames_;
  std::map<MidiHandle, std::unique_ptr<Input>> inputs_;
  std::map<MidiHandle, std::unique_ptr<Output>> outputs_;
  CompletionThread completions_;
};

bool Compiled(RtMidi::Api api) noexcept {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  for (auto a : apis) {
    if (a == api) return true;
  }
  return false;
}

}  // namespace

bool AlsaSequencerPresent() noexcept {
  return ::access("/dev/snd/seq", R_OK | W_OK) == 0;
}

bool JackServerRunning() noexcept {
  // libjack is loaded already (RtMidi links it); we reach it by name so that
  // we ask it ourselves with JackNoStartServer, quietly.
  using OpenFn = jack_client_t* (*)(const char*, jack_options_t, jack_status_t*, ...);
  using CloseFn = int (*)(jack_client_t*);
  using MessageFn = void (*)(void (*)(const char*));
  void* lib = ::dlopen("libjack.so.0", RTLD_LAZY);
  if (lib == nullptr) return false;
  auto open = reinterpret_cast<OpenFn>(::dlsym(lib, "jack_client_open"));
  auto close = reinterpret_cast<CloseFn>(::dlsym(lib, "jack_client_close"));
  auto setError = reinterpret_cast<MessageFn>(::dlsym(lib, "jack_set_error_function"));
  auto setInfo = reinterpret_cast<MessageFn>(::dlsym(lib, "jack_set_info_function"));
  bool running = false;
  if (open != nullptr && close != nullptr) {
    if (setError != nullptr) setError(Silent);
    if (setInfo != nullptr) setInfo(Silent);
    jack_status_t status{};
    jack_client_t* client = open("KorvaneProbe", JackNoStartServer, &status);
    if (client != nullptr) {
      running = true;
      close(client);
    }
  }
  ::dlclose(lib);
  return running;
}

std::unique_ptr<MidiDriver> CreateRtMidiDriver(RtMidiSystem system) {
  if (!Compiled(ApiOf(system))) return nullptr;
  const bool there = system == RtMidiSystem::kAlsa ? AlsaSequencerPresent() : JackServerRunning();
  if (!there) return nullptr;
  return std::make_unique<RtMidiDriver>(system);
}

}  // namespace korvane
