#include "platform/builtin/device_io.h"

#include <algorithm>

namespace korvane {

MidiResult CheckHeader(const MIDIHDR* header, std::uint32_t size) noexcept {
  if (header == nullptr || size < kMidiHdrSize) return kMidiErrInvalidParam;
  return kMidiOk;
}

namespace {
MidiResult Prepare(MIDIHDR* header, std::uint32_t size) noexcept {
  if (MidiResult r = CheckHeader(header, size); r != kMidiOk) return r;
  if (header->lpData == nullptr) return kMidiErrInvalidParam;
  header->dwFlags |= MHDR_PREPARED;
  return kMidiOk;
}

MidiResult Unprepare(MIDIHDR* header, std::uint32_t size) noexcept {
  if (MidiResult r = CheckHeader(header, size); r != kMidiOk) return r;
  if ((header->dwFlags & MHDR_INQUEUE) != 0) return kMidiErrStillPlaying;
  header->dwFlags &= ~MHDR_PREPARED;
  return kMidiOk;
}

MidiResult Enqueue(MIDIHDR* header, std::uint32_t size) noexcept {
  if (MidiResult r = CheckHeader(header, size); r != kMidiOk) return r;
  if ((header->dwFlags & MHDR_PREPARED) == 0) return kMidiErrUnprepared;
  if ((header->dwFlags & MHDR_INQUEUE) != 0) return kMidiErrStillPlaying;
  header->dwFlags = (header->dwFlags & ~MHDR_DONE) | MHDR_INQUEUE;
  header->lpNext = nullptr;
  return kMidiOk;
}

void MarkDone(MIDIHDR* header) noexcept {
  header->lpNext = nullptr;
  header->dwFlags = (header->dwFlags & ~MHDR_INQUEUE) | MHDR_DONE;
}
}  // namespace

// ---------------------------------------------------------------------------
// InputStream

void InputStream::Bind(MidiHandle handle, MidiCallback callback, std::uintptr_t instance) noexcept {
  std::lock_guard lock(mutex_);
  handle_ = handle;
  callback_ = callback;
  instance_ = instance;
}

MidiResult InputStream::PrepareHeader(MIDIHDR* header, std::uint32_t size) noexcept {
  std::lock_guard lock(mutex_);
  return Prepare(header, size);
}

MidiResult InputStream::UnprepareHeader(MIDIHDR* header, std::uint32_t size) noexcept {
  std::lock_guard lock(mutex_);
  return Unprepare(header, size);
}

MidiResult InputStream::AddBuffer(MIDIHDR* header, std::uint32_t size) noexcept {
  std::lock_guard lock(mutex_);
  if (closed_) return kMidiErrInvalidHandle;
  if (MidiResult r = Enqueue(header, size); r != kMidiOk) return r;
  if (header->dwBufferLength == 0) {
    header->dwFlags &= ~MHDR_INQUEUE;
    return kMidiErrInvalidParam;
  }
  header->dwBytesRecorded = 0;
  if (last_ == nullptr) {
    first_ = header;
  } else {
    last_->lpNext = header;
  }
  last_ = header;
  return kMidiOk;
}

MidiResult InputStream::Start() noexcept {
  std::lock_guard lock(mutex_);
  if (closed_) return kMidiErrInvalidHandle;
  if (started_) return kMidiOk;
  started_ = true;
  start_ = std::chrono::steady_clock::now();
  inSysex_ = false;
  status_ = running_ = 0;
  have_ = need_ = 0;
  return kMidiOk;
}

MidiResult InputStream::Reset() noexcept {
  std::lock_guard lock(mutex_);
  if (closed_) return kMidiErrInvalidHandle;
  std::uint32_t stamp = 0;
  if (started_) {
    stamp = static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - start_)
                                           .count());
  }
  started_ = false;
  inSysex_ = false;
  status_ = running_ = 0;
  while (first_ != nullptr) ReturnFirstBuffer(stamp);
  return kMidiOk;
}

MidiResult InputStream::Close() noexcept {
  std::lock_guard lock(mutex_);
  if (closed_) return kMidiErrInvalidHandle;
  if (first_ != nullptr) return kMidiErrStillPlaying;
  if (callback_ != nullptr) callback_(handle_, MIM_CLOSE, instance_, 0, 0);
  started_ = false;
  closed_ = true;
  return kMidiOk;
}

bool InputStream::Started() const noexcept {
  std::lock_guard lock(mutex_);
  return started_;
}

void InputStream::Feed(const std::uint8_t* bytes, std::size_t count) noexcept {
  std::lock_guard lock(mutex_);
  if (!started_ || closed_ || callback_ == nullptr) return;
  // One stamp for everything that arrived together; the lock orders the
  // stamps of successive feeds, so they never decrease.
  const auto stamp =
      static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start_)
                                     .count());
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    if (b >= 0xF8) {  // real time: may appear anywhere, even inside a message
      EmitShort(b, stamp);
      continue;
    }
    if (inSysex_) {
      if (b < 0x80 || b == 0xF7) {
        StoreSysex(b, stamp);
        if (b == 0xF7) EndSysex(stamp);
        continue;
      }
      EndSysex(stamp);  // another status byte cuts the message short
    }
    if (b == 0xF0) {
      inSysex_ = true;
      status_ = running_ = 0;
      StoreSysex(b, stamp);
      continue;
    }
    if (b >= 0x80) {
      status_ = 0;
      if (b == 0xF7) continue;  // an end without a start
      running_ = b < 0xF0 ? b : 0;
      need_ = MidiDataByteCount(b);
      have_ = 0;
      if (need_ == 0) {
        EmitShort(b, stamp);
      } else {
        status_ = b;
      }
      continue;
    }
    if (status_ == 0) {  // data byte: continues running status, or is stray
      if (running_ == 0) continue;
      status_ = running_;
      need_ = MidiDataByteCount(running_);
      have_ = 0;
    }
    data_[have_++] = b;
    if (have_ == need_) {
      EmitShort(status_ | std::uint32_t{data_[0]} << 8 |
                    (need_ == 2 ? std::uint32_t{data_[1]} << 16 : 0u),
                stamp);
      status_ = 0;
    }
  }
}

void InputStream::EmitShort(std::uint32_t packed, std::uint32_t stamp) noexcept {
  callback_(handle_, MIM_DATA, instance_, packed, stamp);
}

void InputStream::StoreSysex(std::uint8_t byte, std::uint32_t stamp) noexcept {
  MIDIHDR* header = first_;
  if (header == nullptr) return;  // no buffer queued: the byte is lost, as on hardware
  header->lpData[header->dwBytesRecorded++] = static_cast<char>(byte);
  if (header->dwBytesRecorded == header->dwBufferLength) ReturnFirstBuffer(stamp);
}

void InputStream::EndSysex(std::uint32_t stamp) noexcept {
  inSysex_ = false;
  if (first_ != nullptr && first_->dwBytesRecorded > 0) ReturnFirstBuffer(stamp);
}

void InputStream::ReturnFirstBuffer(std::uint32_t stamp) noexcept {
  MIDIHDR* header = first_;
  first_ = header->lpNext;
  if (first_ == nullptr) last_ = nullptr;
  MarkDone(header);
  callback_(handle_, MIM_LONGDATA, instance_, reinterpret_cast<std::uintptr_t>(header), stamp);
}

// ---------------------------------------------------------------------------
// CompletionThread

CompletionThread::~CompletionThread() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

MidiResult CompletionThread::PrepareHeader(MIDIHDR* header, std::uint32_t size) noexcept {
  std::lock_guard lock(mutex_);
  return Prepare(header, size);
}

MidiResult CompletionThread::UnprepareHeader(MIDIHDR* header, std::uint32_t size) noexcept {
  std::lock_guard lock(mutex_);
  return Unprepare(header, size);
}

MidiResult CompletionThread::Accept(MIDIHDR* header, std::uint32_t size) noexcept {
  std::lock_guard lock(mutex_);
  if (MidiResult r = Enqueue(header, size); r != kMidiOk) return r;
  if (header->lpData == nullptr && header->dwBufferLength > 0) {
    header->dwFlags &= ~MHDR_INQUEUE;
    return kMidiErrInvalidParam;
  }
  return kMidiOk;
}

void CompletionThread::Withdraw(MIDIHDR* header) noexcept {
  std::lock_guard lock(mutex_);
  header->dwFlags &= ~MHDR_INQUEUE;
}

bool CompletionThread::Report(MidiHandle handle, MidiCallback callback, std::uintptr_t instance,
                              MIDIHDR* header) noexcept {
  try {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    pending_.push_back(Done{handle, callback, instance, header});
  } catch (...) {  // no memory or no thread
    Withdraw(header);
    return false;
  }
  wake_.notify_one();
  return true;
}

void CompletionThread::Flush(MidiHandle handle) noexcept {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] {
    return reporting_ != handle && std::none_of(pending_.begin(), pending_.end(),
                                                [&](const Done& d) { return d.handle == handle; });
  });
}

void CompletionThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping, nothing left to report
    Done done = pending_.front();
    pending_.pop_front();
    MarkDone(done.header);
    reporting_ = done.handle;
    lock.unlock();
    if (done.callback != nullptr) {
      done.callback(done.handle, MOM_DONE, done.instance,
                    reinterpret_cast<std::uintptr_t>(done.header), 0);
    }
    lock.lock();
    reporting_ = 0;
    idle_.notify_all();
  }
}

}  // namespace korvane
