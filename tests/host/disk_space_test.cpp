#include <gtest/gtest.h>

#include "ui/worker_words.h"
#include "update/disk_space.h"

namespace qz {
namespace {

constexpr std::uint64_t kMB = 1048576;
constexpr std::uint64_t kGB = 1024 * kMB;

TEST(DiskSpace, MarginIsFivePercentAndAtLeastFiftyMegabytes) {
  const struct {
    std::uint64_t bytes, needed;
  } cases[] = {
      {0, 50 * kMB},
      {1, 1 + 50 * kMB},
      {1000 * kMB, 1050 * kMB},          // 5 % is exactly 50 MB
      {4000 * kMB, 4200 * kMB},          // above it, 5 %
      {21, 21 + 50 * kMB},
      {4000 * kMB + 1, 4200 * kMB + 2},  // a part of a byte counts whole
      {~0ull - 10, ~0ull},               // never wraps to a small figure
  };
  for (const auto& c : cases) EXPECT_EQ(SpaceWithMargin(c.bytes), c.needed) << c.bytes;
}

TEST(DiskSpace, TextRoundsUpInMegabytesGigabytesOrTerabytes) {
  const struct {
    std::uint64_t bytes;
    const wchar_t* text;
  } cases[] = {
      {50 * kMB, L"50 MB"},
      {50 * kMB + 1, L"51 MB"},
      {1023 * kMB, L"1023 MB"},
      {1023 * kMB + 1, L"1.0 GB"},
      {kGB + kGB / 10, L"1.1 GB"},
      {kGB + kGB / 10 + 1, L"1.2 GB"},
      {3 * kGB, L"3.0 GB"},
      {1023 * kGB, L"1023.0 GB"},
      {1023 * kGB + 1, L"1.0 TB"},
      {300 * 1024 * kGB + 1, L"300.1 TB"},
      {~0ull, L"16777216.0 TB"},
  };
  for (const auto& c : cases) EXPECT_EQ(SpaceText(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace qz
