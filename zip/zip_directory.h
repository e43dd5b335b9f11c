// The central directory: finds the end record, reads the entry records into
// an index sorted by data position, and checks an entry's local header.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "zip/zip_buffer.h"
#include "zip/zip_entry_info.h"
#include "zip/zip_volume_storage.h"

class CZipDirectory {
public:
    explicit CZipDirectory(CZipVolumeStorage* storage) : storage(storage) {}
    CZipDirectory(const CZipDirectory&) = delete;
    CZipDirectory& operator=(const CZipDirectory&) = delete;

    void Read();
    void Clear();

    size_t GetCount() const { return entries.size(); }
    const CZipEntryInfo& GetAt(size_t index) const { return *entries[index]; }

    // Positions the archive on the entry's data after checking its local
    // header against the directory.
    void OpenLocal(size_t index);
    // Checks the data descriptor unless closing after an error.
    void CloseLocal(bool afterError);
    const CZipEntryInfo* GetOpenRecord() const { return openRecord; }

private:
    uint32_t LocateEndRecord();
    void ReadEntries();
    // Where each entry's data must end: the next entry on its volume, or the
    // directory. Checked with the smallest extent an entry can have.
    void CheckExtents();
    static uint64_t MinimalEnd(const CZipEntryInfo& e);

    uint8_t endSignature[4] = {0x50, 0x4B, 0x05, 0x06};
    CZipBuffer comment;
    CZipBuffer localExtraField;
    const CZipEntryInfo* openRecord = nullptr;
    CZipVolumeStorage* storage;
    static const uint32_t searchBufferSize = 32768;
    std::vector<std::unique_ptr<CZipEntryInfo>> entries;
    std::vector<uint64_t> limits;  // per entry, in the archive's own offsets
    uint32_t endRecordPosition = 0;
    uint32_t bytesBeforeArchive = 0;
    uint16_t thisDisk = 0;
    uint16_t directoryDisk = 0;
    uint16_t entriesOnDisk = 0;
    uint16_t totalEntries = 0;
    uint32_t directorySize = 0;
    uint32_t directoryOffset = 0;
    bool directoryRead = false;
};
