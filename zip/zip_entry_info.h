// One entry of the central directory, as stored there.
#pragma once

#include <cstdint>
#include <string>

#include "zip/zip_buffer.h"

class CZipEntryInfo {
public:
    enum : uint16_t {
        flagEncrypted = 0x0001,
        flagDataDescriptor = 0x0008,
    };
    enum : uint16_t {
        methodStored = 0,
        methodDeflated = 8,
    };
    // Host systems (high byte of "version made by") with an attribute conversion.
    enum : uint8_t {
        hostMsDos = 0,
        hostUnix = 3,
        hostOs2Hpfs = 6,
        hostMacintosh = 7,
        hostWindowsNtfs = 10,
    };
    // Used when an entry carries no attributes; the high half is a Unix mode.
    static const uint32_t kDefaultFileAttributes = 0x81A40020;    // 0100644, archive
    static const uint32_t kDefaultFolderAttributes = 0x41FF0010;  // 0040777, folder

    CZipEntryInfo() = default;
    CZipEntryInfo(const CZipEntryInfo&) = default;
    CZipEntryInfo& operator=(const CZipEntryInfo&) = default;
    virtual ~CZipEntryInfo();

    std::string GetName() const;
    // The DOS date and time taken as local time, in seconds since 1970; -1
    // when they cannot be represented.
    int32_t GetModTime() const;
    uint32_t GetSystemAttributes() const;
    bool IsDirectory() const;
    uint8_t GetHostSystem() const { return static_cast<uint8_t>(versionMadeBy >> 8); }

    uint8_t signature[4] = {0x50, 0x4B, 0x01, 0x02};
    uint16_t versionMadeBy = 0;
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = methodDeflated;
    uint16_t modTime = 0;
    uint16_t modDate = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t diskNumberStart = 0;
    uint16_t internalAttributes = 0;
    uint32_t externalAttributes = 0;
    uint32_t localHeaderOffset = 0;
    CZipBuffer extraField;
    CZipBuffer name;
    CZipBuffer comment;

private:
    bool NameEndsWithSeparator() const;
};
