// The sizes every side agrees on. The launcher's fixed fields take their
// widths from here, and the release tools refuse any value that would not fit
// them, so nothing is ever cut on its way to a player's PC.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/launch_record.h"

namespace qz {

// Field widths, terminating zero included, both the launch record's: a
// program name (a manifest's is compared with the page's), and every address
// or path the launcher keeps (as wide as the record's addresses: a Windows
// path of the A functions is at most MAX_PATH bytes with its zero).
constexpr std::size_t kProgNameField = LaunchFieldWidth(LaunchField::ProgName);
constexpr std::size_t kPathField = LaunchFieldWidth(LaunchField::FullDownURL);
static_assert(kPathField == LaunchFieldWidth(LaunchField::AutoDownURL) &&
                  kPathField == LaunchFieldWidth(LaunchField::CommonURL),
              "the record's addresses share one width");

// The longest values, terminating zero excluded.
constexpr std::size_t kMaxProgName = kProgNameField - 1;
constexpr std::size_t kMaxUrl = kPathField - 1;

// A larger answer is not a manifest.
constexpr std::size_t kMaxManifestBytes = 65535;

// The largest file a manifest may state (Size): 2^53 bytes, the largest count
// any JSON reader or double holds exactly, and far beyond any game.
constexpr std::uint64_t kMaxFileBytes = 1ull << 53;

// The installation record's Version is read through a buffer of four digits
// and its zero, so a release numbered 10000 or more would count as "not
// installed" for ever: no release may be numbered above kMaxVersion.
constexpr std::size_t kVersionField = 5;
constexpr std::uint16_t kMaxVersion = 9999;
static_assert(kMaxVersion < 10000 && kVersionField == 5, "four digits and the zero");

}  // namespace qz
