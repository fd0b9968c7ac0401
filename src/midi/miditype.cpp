#include "midi/miditype.h"

#include <new>

namespace korvane {

TMyMidiEvent::~TMyMidiEvent() {
  delete[] SysexData;
}

TMyMidiHdr::TMyMidiHdr(std::uint16_t size) {
  if (size == 0) return;
  Header = static_cast<MIDIHDR*>(PinnedAlloc(kMidiHdrSize, HeaderBlock));
  Buffer = static_cast<std::uint8_t*>(PinnedAlloc(size, BufferBlock));
  if (Header == nullptr || Buffer == nullptr) {
    PinnedFree(HeaderBlock);
    PinnedFree(BufferBlock);
    throw std::bad_alloc();
  }
  Header->lpData = reinterpret_cast<char*>(Buffer);
  Header->dwBufferLength = size;
}

TMyMidiHdr::~TMyMidiHdr() {
  PinnedFree(HeaderBlock);
  PinnedFree(BufferBlock);
}

}  // namespace korvane
