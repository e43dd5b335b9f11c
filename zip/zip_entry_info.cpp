#include "zip/zip_entry_info.h"

#include <ctime>

#include "zip/zip_system.h"

CZipEntryInfo::~CZipEntryInfo() = default;

std::string CZipEntryInfo::GetName() const {
  return std::string(reinterpret_cast<const char*>(name.Data()), name.GetSize());
}

bool CZipEntryInfo::FindExtra(const CZipBuffer& extra, uint16_t id, const uint8_t*& data, uint16_t& size) {
  const uint8_t* p = extra.Data();
  uint32_t left = extra.GetSize();
  while (left >= 4) {
    const uint16_t recordId = static_cast<uint16_t>(p[0] | (p[1] << 8));
    const uint16_t recordSize = static_cast<uint16_t>(p[2] | (p[3] << 8));
    // Padding and broken records end the field; what follows is not read.
    if (recordSize > left - 4) return false;
    if (recordId == id) {
      data = p + 4;
      size = recordSize;
      return true;
    }
    p += 4 + recordSize;
    left -= 4 + recordSize;
  }
  return false;
}

namespace {

bool DosFieldsValid(uint16_t date, uint16_t time) {
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int month = (date >> 5) & 0x0F;
  const int day = date & 0x1F;
  if (month < 1 || month > 12 || day < 1 || day > days[month - 1]) return false;
  const int year = 1980 + (date >> 9);
  if (month == 2 && day == 29 && !(year % 4 == 0 && (year % 100 != 0 || year % 400 == 0))) return false;
  return (time >> 11) <= 23 && ((time >> 5) & 0x3F) <= 59 && (time & 0x1F) <= 29;
}

}  // namespace

int64_t CZipEntryInfo::GetModTime() const {
  // The extended timestamp is UTC, so it does not move with the time zone
  // the archive was made in; only its modification time is used.
  const uint8_t* stamp;
  uint16_t stampSize;
  if (FindExtra(extraField, extraExtendedTimestamp, stamp, stampSize) && stampSize >= 5 && (stamp[0] & 1)) {
    const int32_t utc = static_cast<int32_t>(
        static_cast<uint32_t>(stamp[1]) | (static_cast<uint32_t>(stamp[2]) << 8) |
        (static_cast<uint32_t>(stamp[3]) << 16) | (static_cast<uint32_t>(stamp[4]) << 24));
    if (utc >= 0) return utc;
  }
  uint16_t date = modDate, time = modTime;
  if (!DosFieldsValid(date, time)) {
    date = kDosFallbackDate;
    time = kDosFallbackTime;
  }
  struct tm t = {};
  t.tm_sec = 2 * (time & 0x1F);
  t.tm_min = (time >> 5) & 0x3F;
  t.tm_hour = time >> 11;
  t.tm_mday = date & 0x1F;
  t.tm_mon = ((date >> 5) & 0x0F) - 1;
  t.tm_year = (date >> 9) + 80;
  t.tm_isdst = -1;
  const time_t seconds = mktime(&t);
  // A calendar time the runtime cannot convert (past its range) is
  // refused by it, not by the archive: unpacking time is all that is left.
  if (seconds == static_cast<time_t>(-1)) return -1;
  return static_cast<int64_t>(seconds);
}

bool CZipEntryInfo::NameEndsWithSeparator() const {
  if (name.IsEmpty()) return false;
  uint8_t last = name.Data()[name.GetSize() - 1];
  return last == '\\' || last == '/';
}

uint32_t CZipEntryInfo::GetSystemAttributes() const {
  switch (GetHostSystem()) {
    case hostMsDos:
    case hostUnix:
    case hostOs2Hpfs:
    case hostMacintosh:
    case hostWindowsNtfs:
    case hostWindowsNtfsAlt: break;
    default: return NameEndsWithSeparator() ? kDefaultFolderAttributes : kDefaultFileAttributes;
  }
  if (externalAttributes == 0 && NameEndsWithSeparator()) return kDefaultFolderAttributes;
  switch (GetHostSystem()) {
    case hostMacintosh: return externalAttributes & 0x11;
    case hostUnix: {
      uint32_t attributes = 0;
      if (externalAttributes & 0x40000000) attributes |= ZipSystem::attrDirectory;
      if (!(externalAttributes & 0x00400000)) attributes |= ZipSystem::attrArchive;   // owner x
      if (!(externalAttributes & 0x00800000)) attributes |= ZipSystem::attrReadOnly;  // owner w
      if (!(externalAttributes & 0x01000000)) attributes |= ZipSystem::attrHidden;    // owner r
      return attributes;
    }
    default: return externalAttributes;
  }
}

bool CZipEntryInfo::IsDirectory() const { return (GetSystemAttributes() & ZipSystem::attrDirectory) != 0; }
