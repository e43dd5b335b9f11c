// The launch record's layout, defined once: the fields a page (through the
// control) or a signed ticket hands to the launcher, and the launcher to the
// game. Every side takes names, places and widths from this table: the block
// the game reads (record/launch_block.h), the control's properties, the
// ticket's keys and the limits of the texts that end up in a field. The
// layout is a contract with games already shipped: it never changes.
#pragma once

#include <cstddef>

namespace qz {

// The fields in record order; a field's value indexes kLaunchBlockFields.
enum class LaunchField : std::size_t {
  RunMode,
  ProgName,
  AuthCookie,
  DataCookie,
  AvatarCookie,
  ServIP,
  ServPort,
  FullDownURL,
  AutoDownURL,
  CommonURL,
  Spare,
};

// A field's text is ANSI, zero-padded; a text that fills its width has no
// terminating zero.
struct LaunchBlockField {
  LaunchField field;
  const char* name;  // as the page's property and the ticket's key spell it
  std::size_t offset;
  std::size_t width;
};

// The addresses are as wide as a path of the A functions (MAX_PATH bytes,
// its zero included).
inline constexpr LaunchBlockField kLaunchBlockFields[] = {
    {LaunchField::RunMode, "RunMode", 0, 16},
    {LaunchField::ProgName, "ProgName", 16, 20},
    {LaunchField::AuthCookie, "AuthCookie", 36, 256},
    {LaunchField::DataCookie, "DataCookie", 292, 128},
    {LaunchField::AvatarCookie, "AvatarCookie", 420, 128},
    {LaunchField::ServIP, "ServIP", 548, 30},
    {LaunchField::ServPort, "ServPort", 578, 6},
    {LaunchField::FullDownURL, "FullDownURL", 584, 260},
    {LaunchField::AutoDownURL, "AutoDownURL", 844, 260},
    {LaunchField::CommonURL, "CommonURL", 1104, 260},
    {LaunchField::Spare, "Spare", 1364, 128},
};
constexpr std::size_t kLaunchFieldCount = sizeof kLaunchBlockFields / sizeof kLaunchBlockFields[0];
constexpr std::size_t kLaunchBlockSize = 1492;

constexpr const LaunchBlockField& LaunchFieldOf(LaunchField field) {
  return kLaunchBlockFields[static_cast<std::size_t>(field)];
}
constexpr std::size_t LaunchFieldWidth(LaunchField field) { return LaunchFieldOf(field).width; }
constexpr std::size_t LaunchFieldOffset(LaunchField field) { return LaunchFieldOf(field).offset; }

// The table is the layout: every field in its enum's place, each beginning
// where the one before ends, the last ending at the record's size.
constexpr bool LaunchFieldsTileTheRecord() {
  std::size_t next = 0;
  for (std::size_t i = 0; i < kLaunchFieldCount; ++i) {
    const LaunchBlockField& f = kLaunchBlockFields[i];
    if (static_cast<std::size_t>(f.field) != i || f.offset != next || f.width == 0) return false;
    next = f.offset + f.width;
  }
  return next == kLaunchBlockSize;
}
static_assert(LaunchFieldsTileTheRecord(), "the launch record's fields must tile its 1492 bytes in order");
static_assert(static_cast<std::size_t>(LaunchField::Spare) + 1 == kLaunchFieldCount, "one row per field");

}  // namespace qz
