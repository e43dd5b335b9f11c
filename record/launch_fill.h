// Filling the launch record from its field texts: the page's properties
// (the control) or the values of a signed launch ticket (the launcher).
#pragma once

#include <array>
#include <string>

#include "record/launch_block.h"

namespace qz {

// The field texts in record order, already in the ANSI code page.
using LaunchTexts = std::array<std::string, kLaunchFieldCount>;

// Each text is cut at its field's width (a double-byte character may be
// split, and a full field has no terminator, as the launcher and the game
// expect); the rest of the record is zero.
LaunchBlock FillLaunchBlock(const LaunchTexts& texts);

}  // namespace qz
