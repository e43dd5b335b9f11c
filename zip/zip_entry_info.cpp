#include "zip/zip_entry_info.h"

#include <ctime>

#include "zip/zip_system.h"

CZipEntryInfo::~CZipEntryInfo() = default;

std::string CZipEntryInfo::GetName() const {
    return std::string(reinterpret_cast<const char*>(name.Data()), name.GetSize());
}

int32_t CZipEntryInfo::GetModTime() const {
    struct tm t = {};
    t.tm_sec = 2 * (modTime & 0x1F);
    t.tm_min = (modTime >> 5) & 0x3F;
    t.tm_hour = modTime >> 11;
    t.tm_mday = modDate & 0x1F;
    t.tm_mon = ((modDate >> 5) & 0x0F) - 1;
    t.tm_year = (modDate >> 9) + 80;
    t.tm_isdst = -1;
    time_t seconds = mktime(&t);
    if (seconds == static_cast<time_t>(-1) || seconds < INT32_MIN || seconds > INT32_MAX) return -1;
    return static_cast<int32_t>(seconds);
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
        break;
    default:
        return NameEndsWithSeparator() ? kDefaultFolderAttributes : kDefaultFileAttributes;
    }
    if (externalAttributes == 0 && NameEndsWithSeparator()) return kDefaultFolderAttributes;
    switch (GetHostSystem()) {
    case hostMacintosh:
        return externalAttributes & 0x11;
    case hostUnix: {
        uint32_t attributes = 0;
        if (externalAttributes & 0x40000000) attributes |= ZipSystem::attrDirectory;
        if (!(externalAttributes & 0x00400000)) attributes |= ZipSystem::attrArchive;   // owner x
        if (!(externalAttributes & 0x00800000)) attributes |= ZipSystem::attrReadOnly;  // owner w
        if (!(externalAttributes & 0x01000000)) attributes |= ZipSystem::attrHidden;    // owner r
        return attributes;
    }
    default:
        return externalAttributes;
    }
}

bool CZipEntryInfo::IsDirectory() const { return (GetSystemAttributes() & ZipSystem::attrDirectory) != 0; }
