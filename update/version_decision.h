// Whether a program is current, needs patches, or needs a full installation.
#pragma once

#include <cstdint>

namespace qz {

// The decided step; the values are the product's own.
enum class Action { None = 0, FullInstall = 1, Upgrade = 2 };

Action DecideVersionAction(std::uint16_t installed, std::uint16_t minVer, std::uint16_t latest);

}  // namespace qz
