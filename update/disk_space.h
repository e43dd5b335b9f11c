// How much free space unpacking or downloading asks for, and the size as the
// player reads it; the volume itself is asked by the download worker.
#pragma once

#include <cstdint>
#include <string>

namespace qz {

// The bytes to be written and a margin for the file system's own needs:
// 5 %, at least 50 MB. Saturates instead of wrapping.
std::uint64_t SpaceWithMargin(std::uint64_t bytes);

// "120 MB" below a gigabyte, then "1.3 GB", then "2.5 TB"; rounded up, so
// the text never asks for less than is needed.
std::wstring SpaceText(std::uint64_t bytes);

}  // namespace qz
