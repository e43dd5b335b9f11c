#include "update/disk_space.h"

#include <cwchar>
#include <limits>

namespace qz {

namespace {

constexpr std::uint64_t kMegabyte = 1048576;
constexpr std::uint64_t kGigabyte = 1024 * kMegabyte;
constexpr std::uint64_t kMinimumMargin = 50 * kMegabyte;

}  // namespace

std::uint64_t SpaceWithMargin(std::uint64_t bytes) {
  const std::uint64_t fraction = bytes / 20 + (bytes % 20 != 0);
  const std::uint64_t margin = fraction > kMinimumMargin ? fraction : kMinimumMargin;
  const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
  return bytes > most - margin ? most : bytes + margin;
}

std::wstring SpaceText(std::uint64_t bytes) {
  wchar_t text[64];
  if (bytes <= 1023 * kMegabyte) {
    const std::uint64_t megabytes = bytes / kMegabyte + (bytes % kMegabyte != 0);
    std::swprintf(text, 64, L"%llu MB", static_cast<unsigned long long>(megabytes));
  } else {
    // Tenths of a gigabyte, the last one rounded up.
    const std::uint64_t rest = bytes % kGigabyte;
    const std::uint64_t tenths = bytes / kGigabyte * 10 + (rest * 10 + kGigabyte - 1) / kGigabyte;
    std::swprintf(text, 64, L"%llu.%llu GB", static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10));
  }
  return text;
}

}  // namespace qz
