// Pinned memory: zero-filled blocks that stay at one address until released
// and may be touched from the MIDI driver's thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane {

// Release token of a pinned block; 0 is the empty token. Here the token is
// simply the block's address.
using PinnedToken = std::uintptr_t;

// Returns a zero-filled block of `size` bytes and its release token, or null
// (token 0) when no block can be had. A request for 0 bytes gives null: a block
// of no bytes cannot be fixed at an address.
void* PinnedAlloc(std::uint16_t size, PinnedToken& token) noexcept;

// The same for a block larger than 16 bits can describe. The event ring's
// slots hold a header address, which is 8 bytes here, so its largest slot
// array no longer fits 65,535 bytes.
void* PinnedAllocLarge(std::size_t size, PinnedToken& token) noexcept;

// Releases a block; the empty token does nothing.
void PinnedFree(PinnedToken token) noexcept;

}  // namespace korvane
