#include "update/disk_space.h"

#include <limits>

namespace qz {

namespace {

constexpr std::uint64_t kMegabyte = 1048576;
constexpr std::uint64_t kMinimumMargin = 50 * kMegabyte;

}  // namespace

std::uint64_t SpaceWithMargin(std::uint64_t bytes) {
  const std::uint64_t fraction = bytes / 20 + (bytes % 20 != 0);
  const std::uint64_t margin = fraction > kMinimumMargin ? fraction : kMinimumMargin;
  const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
  return bytes > most - margin ? most : bytes + margin;
}

}  // namespace qz
