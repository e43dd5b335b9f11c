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
    return text;
  }
  // Tenths of a gigabyte or, beyond 1023 of them, of a terabyte; the last
  // tenth rounded up.
  const bool tera = bytes > 1023 * kGigabyte;
  const std::uint64_t unit = tera ? 1024 * kGigabyte : kGigabyte;
  const std::uint64_t rest = bytes % unit;
  // rest * 10 cannot wrap: rest is below 2^40.
  const std::uint64_t tenths = bytes / unit * 10 + (rest * 10 + unit - 1) / unit;
  std::swprintf(text, 64, L"%llu.%llu %ls", static_cast<unsigned long long>(tenths / 10),
                static_cast<unsigned long long>(tenths % 10), tera ? L"TB" : L"GB");
  return text;
}

}  // namespace qz
