// How much free space unpacking or downloading asks for; the volume itself
// is asked by the download plan, and ui/ words the size for the player.
#pragma once

#include <cstdint>

namespace qz {

// The bytes to be written and a margin for the file system's own needs:
// 5 %, at least 50 MB. Saturates instead of wrapping.
std::uint64_t SpaceWithMargin(std::uint64_t bytes);

}  // namespace qz
