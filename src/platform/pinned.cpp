#include "platform/pinned.h"

#include <cstdlib>

namespace korvane {

void* PinnedAlloc(std::uint16_t size, PinnedToken& token) noexcept {
  return PinnedAllocLarge(size, token);
}

void* PinnedAllocLarge(std::size_t size, PinnedToken& token) noexcept {
  token = 0;
  if (size == 0) return nullptr;
  void* block = std::calloc(1, size);
  token = reinterpret_cast<PinnedToken>(block);
  return block;
}

void PinnedFree(PinnedToken token) noexcept {
  if (token != 0) std::free(reinterpret_cast<void*>(token));
}

}  // namespace korvane
