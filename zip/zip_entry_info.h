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
    flagUtf8Name = 0x0800,  // name and comment are UTF-8
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
    hostWindowsNtfsAlt = 11,  // what Windows' own compressed folders write
  };
  // Extra field records (id, 16-bit size, data) this reader understands.
  enum : uint16_t {
    extraZip64 = 0x0001,
    extraExtendedTimestamp = 0x5455,
  };
  // Used when an entry carries no attributes; the high half is a Unix mode.
  static const uint32_t kDefaultFileAttributes = 0x81A40020;    // 0100644, archive
  static const uint32_t kDefaultFolderAttributes = 0x41FF0010;  // 0040777, folder
  // 1980-01-01 00:00:00, the earliest time a DOS date holds.
  static const uint16_t kDosFallbackDate = 0x0021;
  static const uint16_t kDosFallbackTime = 0;

  CZipEntryInfo() = default;
  CZipEntryInfo(const CZipEntryInfo&) = default;
  CZipEntryInfo& operator=(const CZipEntryInfo&) = default;
  virtual ~CZipEntryInfo();

  std::string GetName() const;
  // Seconds since 1970: the extended timestamp (UTC) when the entry has
  // one, else the DOS date and time taken as local time. A DOS date or
  // time outside the calendar gives 1980-01-01 00:00:00 local time instead,
  // never the time of unpacking.
  int64_t GetModTime() const;
  // The data of the first extra field record `id` in `extra`; false when
  // there is none. A record that runs past the field ends the search.
  static bool FindExtra(const CZipBuffer& extra, uint16_t id, const uint8_t*& data, uint16_t& size);
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
  // The sizes and the offset are the entry's own, taken from the zip64
  // extra field where the 32-bit fields hold 0xFFFFFFFF.
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  uint64_t localHeaderOffset = 0;
  CZipBuffer extraField;
  CZipBuffer name;
  CZipBuffer comment;
  // The name's length in the archive's headers, before a UTF-8 name was
  // converted to the system's code page.
  uint16_t storedNameSize = 0;

 private:
  bool NameEndsWithSeparator() const;
};
