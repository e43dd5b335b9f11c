// The launch record that travels page -> control -> launcher -> game through
// named shared memory, as the struct the programs copy. One definition,
// compiled into both programs; its layout is the table of
// format/launch_record.h, and every member is pinned to it below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/field_text.h"
#include "format/launch_record.h"

namespace qz {

struct LaunchBlock {
  char RunMode[LaunchFieldWidth(LaunchField::RunMode)];
  char ProgName[LaunchFieldWidth(LaunchField::ProgName)];
  char AuthCookie[LaunchFieldWidth(LaunchField::AuthCookie)];
  char DataCookie[LaunchFieldWidth(LaunchField::DataCookie)];
  char AvatarCookie[LaunchFieldWidth(LaunchField::AvatarCookie)];
  char ServIP[LaunchFieldWidth(LaunchField::ServIP)];
  char ServPort[LaunchFieldWidth(LaunchField::ServPort)];
  char FullDownURL[LaunchFieldWidth(LaunchField::FullDownURL)];
  char AutoDownURL[LaunchFieldWidth(LaunchField::AutoDownURL)];
  char CommonURL[LaunchFieldWidth(LaunchField::CommonURL)];
  char Spare[LaunchFieldWidth(LaunchField::Spare)];
};

static_assert(sizeof(LaunchBlock) == kLaunchBlockSize, "launch block must be 1492 bytes");
static_assert(alignof(LaunchBlock) == 1, "launch block has no padding");
#define QZ_PINNED(f)                                                           \
  static_assert(offsetof(LaunchBlock, f) == LaunchFieldOffset(LaunchField::f), \
                #f " lies where the table puts it")
QZ_PINNED(RunMode);
QZ_PINNED(ProgName);
QZ_PINNED(AuthCookie);
QZ_PINNED(DataCookie);
QZ_PINNED(AvatarCookie);
QZ_PINNED(ServIP);
QZ_PINNED(ServPort);
QZ_PINNED(FullDownURL);
QZ_PINNED(AutoDownURL);
QZ_PINNED(CommonURL);
QZ_PINNED(Spare);
#undef QZ_PINNED

}  // namespace qz
