// Chooses the MIDI back-ends at run time and numbers their devices as one
// list: the real MIDI system's devices first, the built-in ones after them.
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/builtin/driver.h"
#include "platform/mididriver.h"
#include "platform/rtmidi/driver.h"

namespace korvane {
namespace {

constexpr char kMapperName[] = "MIDI Mapper";
constexpr std::uint16_t kModMapper = 5;  // wTechnology of the mapper

// Several back-ends behind one driver. Device numbers run through the parts
// in order; each part's count is read again whenever the caller asks for
// the number of devices, and numbers are resolved against that count, so a
// caller that counts and then queries sees one consistent list.
class CompositeMidiDriver final : public MidiDriver {
 public:
  explicit CompositeMidiDriver(std::vector<std::unique_ptr<MidiDriver>> parts)
      : parts_(std::move(parts)), inCounts_(parts_.size(), 0), outCounts_(parts_.size(), 0) {}

  std::uint32_t midiInGetNumDevs() override {
    std::uint32_t total = 0;
    for (std::size_t i = 0; i < parts_.size(); ++i)
      total += inCounts_[i] = parts_[i]->midiInGetNumDevs();
    inCounted_ = true;
    return total;
  }

  MidiResult midiInGetDevCaps(std::uint32_t device, MIDIINCAPS* caps, std::uint32_t size) override {
    auto [part, local] = LocateInput(device);
    return part == nullptr ? kMidiErrBadDeviceId : part->midiInGetDevCaps(local, caps, size);
  }

  MidiResult midiInOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                        std::uintptr_t instance, std::uint32_t flags) override {
    auto [part, local] = LocateInput(device);
    if (part == nullptr) return kMidiErrBadDeviceId;
    MidiHandle opened = 0;
    MidiResult result = part->midiInOpen(&opened, local, callback, instance, flags);
    if (result != kMidiOk) return result;
    return Remember(inOwners_, part, opened, handle, [&] { part->midiInClose(opened); });
  }

  MidiResult midiInPrepareHeader(MidiHandle h, MIDIHDR* header, std::uint32_t size) override {
    MidiDriver* part = Owner(inOwners_, h);
    return part == nullptr ? kMidiErrInvalidHandle : part->midiInPrepareHeader(h, header, size);
  }
  MidiResult midiInAddBuffer(MidiHandle h, MIDIHDR* header, std::uint32_t size) override {
    MidiDriver* part = Owner(inOwners_, h);
    return part == nullptr ? kMidiErrInvalidHandle : part->midiInAddBuffer(h, header, size);
  }
  MidiResult midiInStart(MidiHandle h) override {
    MidiDriver* part = Owner(inOwners_, h);
    return part == nullptr ? kMidiErrInvalidHandle : part->midiInStart(h);
  }
  MidiResult midiInReset(MidiHandle h) override {
    MidiDriver* part = Owner(inOwners_, h);
    return part == nullptr ? kMidiErrInvalidHandle : part->midiInReset(h);
  }
  MidiResult midiInUnprepareHeader(MidiHandle h, MIDIHDR* header, std::uint32_t size) override {
    MidiDriver* part = Owner(inOwners_, h);
    return part == nullptr ? kMidiErrInvalidHandle : part->midiInUnprepareHeader(h, header, size);
  }
  MidiResult midiInClose(MidiHandle h) override {
    MidiDriver* part = Owner(inOwners_, h);
    if (part == nullptr) return kMidiErrInvalidHandle;
    MidiResult result = part->midiInClose(h);
    if (result == kMidiOk) inOwners_.erase(h);
    return result;
  }

  std::uint32_t midiOutGetNumDevs() override {
    std::uint32_t total = 0;
    for (std::size_t i = 0; i < parts_.size(); ++i)
      total += outCounts_[i] = parts_[i]->midiOutGetNumDevs();
    outCounted_ = true;
    return total;
  }

  // The mapper stands for the first output device, whichever that is now.
  MidiResult midiOutGetDevCaps(std::uint32_t device, MIDIOUTCAPS* caps,
                               std::uint32_t size) override {
    if (device == MIDI_MAPPER) {
      auto [part, local] = LocateOutput(0);
      if (part == nullptr) return kMidiErrBadDeviceId;
      MidiResult result = part->midiOutGetDevCaps(local, caps, size);
      if (result == kMidiOk) {
        std::memset(caps->szPname, 0, sizeof caps->szPname);
        std::memcpy(caps->szPname, kMapperName, sizeof kMapperName);
        caps->wTechnology = kModMapper;
      }
      return result;
    }
    auto [part, local] = LocateOutput(device);
    return part == nullptr ? kMidiErrBadDeviceId : part->midiOutGetDevCaps(local, caps, size);
  }

  MidiResult midiOutOpen(MidiHandle* handle, std::uint32_t device, MidiCallback callback,
                         std::uintptr_t instance, std::uint32_t flags) override {
    auto [part, local] = LocateOutput(device == MIDI_MAPPER ? 0 : device);
    if (part == nullptr) return kMidiErrBadDeviceId;
    MidiHandle opened = 0;
    MidiResult result = part->midiOutOpen(&opened, local, callback, instance, flags);
    if (result != kMidiOk) return result;
    return Remember(outOwners_, part, opened, handle, [&] { part->midiOutClose(opened); });
  }

  MidiResult midiOutClose(MidiHandle h) override {
    MidiDriver* part = Owner(outOwners_, h);
    if (part == nullptr) return kMidiErrInvalidHandle;
    MidiResult result = part->midiOutClose(h);
    if (result == kMidiOk) outOwners_.erase(h);
    return result;
  }
  MidiResult midiOutShortMsg(MidiHandle h, std::uint32_t packed) override {
    MidiDriver* part = Owner(outOwners_, h);
    return part == nullptr ? kMidiErrInvalidHandle : part->midiOutShortMsg(h, packed);
  }
  MidiResult midiOutPrepareHeader(MidiHandle h, MIDIHDR* header, std::uint32_t size) override {
    MidiDriver* part = Owner(outOwners_, h);
    return part == nullptr ? kMidiErrInvalidHandle : part->midiOutPrepareHeader(h, header, size);
  }
  MidiResult midiOutLongMsg(MidiHandle h, MIDIHDR* header, std::uint32_t size) override {
    MidiDriver* part = Owner(outOwners_, h);
    return part == nullptr ? kMidiErrInvalidHandle : part->midiOutLongMsg(h, header, size);
  }
  MidiResult midiOutUnprepareHeader(MidiHandle h, MIDIHDR* header, std::uint32_t size) override {
    MidiDriver* part = Owner(outOwners_, h);
    return part == nullptr ? kMidiErrInvalidHandle : part->midiOutUnprepareHeader(h, header, size);
  }

 private:
  using Owners = std::unordered_map<MidiHandle, MidiDriver*>;
  struct Place {
    MidiDriver* part;
    std::uint32_t local;
  };

  Place Locate(std::uint32_t device, const std::vector<std::uint32_t>& counts) const {
    for (std::size_t i = 0; i < parts_.size(); ++i) {
      if (device < counts[i]) return {parts_[i].get(), device};
      device -= counts[i];
    }
    return {nullptr, 0};
  }
  Place LocateInput(std::uint32_t device) {
    if (!inCounted_) midiInGetNumDevs();
    return Locate(device, inCounts_);
  }
  Place LocateOutput(std::uint32_t device) {
    if (!outCounted_) midiOutGetNumDevs();
    return Locate(device, outCounts_);
  }

  static MidiDriver* Owner(const Owners& owners, MidiHandle h) noexcept {
    auto it = owners.find(h);
    return it == owners.end() ? nullptr : it->second;
  }

  template <class Undo>
  static MidiResult Remember(Owners& owners, MidiDriver* part, MidiHandle opened,
                             MidiHandle* handle, Undo undo) {
    try {
      owners.emplace(opened, part);
    } catch (...) {
      undo();
      return kMidiErrNoMemory;
    }
    *handle = opened;
    return kMidiOk;
  }

  std::vector<std::unique_ptr<MidiDriver>> parts_;
  std::vector<std::uint32_t> inCounts_;
  std::vector<std::uint32_t> outCounts_;
  bool inCounted_ = false;
  bool outCounted_ = false;
  Owners inOwners_;
  Owners outOwners_;
};

// The real MIDI system: KORVANE_MIDI_API forces one ("none" for none);
// otherwise the ALSA sequencer where it exists, else a running JACK server.
std::unique_ptr<MidiDriver> CreateRealDriver() {
  const char* forced = std::getenv("KORVANE_MIDI_API");
  const std::string_view choice = forced == nullptr ? std::string_view() : std::string_view(forced);
  if (choice == "none") return nullptr;
  if (choice == "alsa") return CreateRtMidiDriver(RtMidiSystem::kAlsa);
  if (choice == "jack") return CreateRtMidiDriver(RtMidiSystem::kJack);
  if (auto alsa = CreateRtMidiDriver(RtMidiSystem::kAlsa)) return alsa;
  return CreateRtMidiDriver(RtMidiSystem::kJack);
}

}  // namespace

std::unique_ptr<MidiDriver> CreateMidiDriver() {
  std::vector<std::unique_ptr<MidiDriver>> parts;
  if (auto real = CreateRealDriver()) parts.push_back(std::move(real));
  parts.push_back(std::make_unique<BuiltinMidiDriver>());
  return std::make_unique<CompositeMidiDriver>(std::move(parts));
}

}  // namespace korvane
