// The launch record that travels page -> control -> launcher -> game through
// named shared memory. One definition, compiled into both programs: its layout
// is a contract with the game, so every offset is pinned below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/field_text.h"

namespace qz {

struct LaunchBlock {
  char RunMode[16];
  char ProgName[20];
  char AuthCookie[256];
  char DataCookie[128];
  char AvatarCookie[128];
  char ServIP[30];
  char ServPort[6];
  char FullDownURL[260];
  char AutoDownURL[260];
  char CommonURL[260];
  char Spare[128];
};

constexpr std::size_t kLaunchBlockSize = 1492;

static_assert(sizeof(LaunchBlock) == kLaunchBlockSize, "launch block must be 1492 bytes");
static_assert(alignof(LaunchBlock) == 1, "launch block has no padding");
static_assert(offsetof(LaunchBlock, RunMode) == 0);
static_assert(offsetof(LaunchBlock, ProgName) == 16);
static_assert(offsetof(LaunchBlock, AuthCookie) == 36);
static_assert(offsetof(LaunchBlock, DataCookie) == 292);
static_assert(offsetof(LaunchBlock, AvatarCookie) == 420);
static_assert(offsetof(LaunchBlock, ServIP) == 548);
static_assert(offsetof(LaunchBlock, ServPort) == 578);
static_assert(offsetof(LaunchBlock, FullDownURL) == 584);
static_assert(offsetof(LaunchBlock, AutoDownURL) == 844);
static_assert(offsetof(LaunchBlock, CommonURL) == 1104);
static_assert(offsetof(LaunchBlock, Spare) == 1364);

// The eleven fields in block order, for code that walks them (the control
// fills them from its property slots in this order).
struct LaunchBlockField {
  const char* name;
  std::size_t offset;
  std::size_t width;
};
extern const LaunchBlockField kLaunchBlockFields[11];

}  // namespace qz
