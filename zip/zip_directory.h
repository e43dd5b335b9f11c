// The central directory: finds the end record (and the zip64 end record
// behind its locator), reads the entry records into an index sorted by data
// position, and reads every entry's local header and data descriptor through
// against its record, so a damaged or unsupported archive is refused before
// anything is unpacked.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "zip/zip_buffer.h"
#include "zip/zip_entry_info.h"
#include "zip/zip_volume_storage.h"

class CZipDirectory {
 public:
  // The directory is read through one buffer of at most this size.
  static const uint32_t kMaxDirectoryBuffer = 64u << 20;

  explicit CZipDirectory(CZipVolumeStorage* storage) : storage(storage) {}
  CZipDirectory(const CZipDirectory&) = delete;
  CZipDirectory& operator=(const CZipDirectory&) = delete;

  void Read();
  void Clear();

  size_t GetCount() const { return entries.size(); }
  const CZipEntryInfo& GetAt(size_t index) const { return *entries[index]; }

  // Positions the archive on the entry's data; its local header was
  // checked against the directory when the archive was read.
  void OpenLocal(size_t index);
  // Checks the data descriptor unless closing after an error.
  void CloseLocal(bool afterError);
  const CZipEntryInfo* GetOpenRecord() const { return openRecord; }

 private:
  // What the local header told about an entry.
  struct Local {
    uint64_t dataStart = 0;  // in the archive's own offsets
    bool zip64 = false;      // sizes in its data descriptor are 8 bytes each
  };

  uint64_t LocateEndRecord();
  void ReadZip64EndRecord(uint64_t locatorDisk, uint64_t locatorOffset);
  void ReadEntries();
  void ReadRecord(const uint8_t* record, CZipEntryInfo& e);
  void ConvertName(CZipEntryInfo& e);
  // Where each entry's data must end: the next entry on its volume, or the
  // directory. Checked with the smallest extent an entry can have.
  void CheckExtents();
  static uint64_t MinimalEnd(const CZipEntryInfo& e);
  class LocalReader;
  void CheckLocalHeaders();
  void CheckLocal(size_t index, LocalReader& reader);
  // Positions on an archive offset of a volume, following on into the next
  // volumes of a split archive where that volume ends first.
  void SeekAcross(int disk, uint64_t offset);
  static bool DescriptorMatches(const uint8_t* bytes, size_t size, const CZipEntryInfo& e, bool zip64);

  uint8_t endSignature[4] = {0x50, 0x4B, 0x05, 0x06};
  CZipBuffer comment;
  const CZipEntryInfo* openRecord = nullptr;
  size_t openIndex = 0;
  CZipVolumeStorage* storage;
  static const uint32_t searchBufferSize = 32768;
  std::vector<std::unique_ptr<CZipEntryInfo>> entries;
  std::vector<uint64_t> limits;  // per entry, in the archive's own offsets
  std::vector<Local> locals;     // per entry
  uint64_t endRecordPosition = 0;
  uint64_t bytesBeforeArchive = 0;
  uint16_t thisDisk = 0;
  uint16_t directoryDisk = 0;
  uint64_t entriesOnDisk = 0;
  uint64_t totalEntries = 0;
  uint64_t directorySize = 0;
  uint64_t directoryOffset = 0;
  bool directoryRead = false;
};
