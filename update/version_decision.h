// Whether a program is current, needs patches, or needs a full installation.
#pragma once

#include <cstdint>

namespace qz {

// 0 nothing to do, 1 full installation, 2 upgrade by patches (the Action values).
int DecideVersionAction(std::uint16_t installed, std::uint16_t minVer, std::uint16_t latest);

}  // namespace qz
