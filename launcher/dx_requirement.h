// Whether the game may start on this system's DirectX: the page asks for a
// minimum major version in the launch record's Spare field ("DxMin=9").
#pragma once

#include <cstdint>
#include <string_view>

#include "format/launch_record.h"

namespace qz {

// Any version up to this one is on every system the game supports; asking
// for it needs no look at the system.
constexpr int kDirectXAlwaysPresent = 6;

// The minimum major version asked for, 0 when none. Spare counts only when it
// starts with "DxMin" in any case; it is then split in place at "=", "&" and
// blanks (the game receives it so), and the number after the last token that
// begins with "DxMin" (exact case) is the requirement, kept to 16 signed bits.
std::int16_t SplitDirectXRequirement(char (&spare)[LaunchFieldWidth(LaunchField::Spare)]);

// The major version in the system's DirectX Version text: its second
// dot-separated part ("4.09.00.0904" is 9). False when there is no second part.
bool DirectXMajorVersion(std::string_view versionText, int& major);

}  // namespace qz
