#include "zip/zip_directory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "zip/zip_exception.h"
#include "zip/zip_le_cursor.h"
#include "zip/zip_system.h"

namespace {

const uint32_t kEndSignature = 0x06054B50;
const uint32_t kCentralSignature = 0x02014B50;
const uint32_t kLocalSignature = 0x04034B50;
const uint32_t kDescriptorSignature = 0x08074B50;
const uint32_t kEndRecordSize = 22;
const uint32_t kCentralHeaderSize = 46;
const uint32_t kLocalHeaderSize = 30;
const uint32_t kMaxCommentSize = 65535;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void CZipDirectory::Clear() {
    entries.clear();
    limits.clear();
    comment.Release();
    localExtraField.Release();
    openRecord = nullptr;
    endRecordPosition = bytesBeforeArchive = directorySize = directoryOffset = 0;
    thisDisk = directoryDisk = entriesOnDisk = totalEntries = 0;
    directoryRead = false;
}

uint32_t CZipDirectory::LocateEndRecord() {
    CZipAbstractFile* file = storage->GetFile();
    const int64_t length = static_cast<int64_t>(file->GetLength());
    const int64_t window = std::min<int64_t>(length, kEndRecordSize + kMaxCommentSize);
    if (window == 0) storage->Throw(CZipException::errNoEndRecord);

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[searchBufferSize]);
    int64_t covered = 0;
    int64_t reach;
    do {
        reach = std::min<int64_t>(covered + searchBufferSize, window);
        const uint32_t count = static_cast<uint32_t>(reach - covered);
        file->Seek(length - reach, SEEK_SET);
        if (file->Read(buffer.get(), count) != count) storage->Throw(CZipException::errBadArchive);
        // Nearest the end wins: a comment may itself hold the signature bytes.
        for (int64_t offset = static_cast<int64_t>(count) - 4; offset >= 0; --offset) {
            if (Le32(buffer.get() + offset) == kEndSignature)
                return static_cast<uint32_t>(length - reach + offset);
        }
        // The next window overlaps by 3 bytes so a straddling signature is seen.
        covered = reach - 3;
    } while (reach < window);
    storage->Throw(CZipException::errNoEndRecord);
}

void CZipDirectory::Read() {
    endRecordPosition = LocateEndRecord();
    storage->Seek(endRecordPosition, SEEK_SET);
    uint8_t record[kEndRecordSize];
    storage->ReadBytes(record, kEndRecordSize, true);
    CZipLeCursor in(record, sizeof record);
    std::memcpy(endSignature, record, 4);
    in.Skip(4);
    thisDisk = in.U16();
    directoryDisk = in.U16();
    entriesOnDisk = in.U16();
    totalEntries = in.U16();
    directorySize = in.U32();
    directoryOffset = in.U32();
    const uint16_t commentSize = in.U16();

    storage->SetDiskOfEndRecord(thisDisk);
    const bool single = thisDisk == 0;
    if (single && static_cast<uint32_t>(directoryOffset + directorySize) > endRecordPosition)
        storage->Throw(CZipException::errBadArchive);
    if (commentSize != 0) {
        comment.Allocate(commentSize);
        storage->ReadBytes(comment.Data(), commentSize, true);
    }
    // Data in front of the archive proper (a program stub) shifts every offset.
    bytesBeforeArchive = single ? endRecordPosition - directorySize - directoryOffset : 0;
    if ((directorySize == 0) != (totalEntries == 0)) storage->Throw(CZipException::errBadArchive);
    directoryRead = true;
    storage->ChangeVolume(directoryDisk);
    if (directorySize == 0) return;
    ReadEntries();
}

void CZipDirectory::ReadEntries() {
    storage->Seek(static_cast<int64_t>(bytesBeforeArchive) + directoryOffset, SEEK_SET);
    entries.clear();
    entries.reserve(totalEntries);
    for (uint32_t i = 0; i < totalEntries; ++i) {
        entries.push_back(std::make_unique<CZipEntryInfo>());
        CZipEntryInfo& e = *entries.back();
        uint8_t header[kCentralHeaderSize];
        storage->ReadBytes(header, kCentralHeaderSize, true);
        CZipLeCursor in(header, sizeof header);
        if (in.U32() != kCentralSignature) storage->Throw(CZipException::errBadArchive);
        std::memcpy(e.signature, header, 4);
        e.versionMadeBy = in.U16();
        e.versionNeeded = in.U16();
        e.flags = in.U16();
        e.method = in.U16();
        e.modTime = in.U16();
        e.modDate = in.U16();
        e.crc32 = in.U32();
        e.compressedSize = in.U32();
        e.uncompressedSize = in.U32();
        const uint16_t nameSize = in.U16();
        const uint16_t extraSize = in.U16();
        const uint16_t commentSize = in.U16();
        e.diskNumberStart = in.U16();
        e.internalAttributes = in.U16();
        e.externalAttributes = in.U32();
        e.localHeaderOffset = in.U32();

        const int volume = storage->GetCurrentVolume();
        for (auto part : {std::make_pair(&e.name, nameSize), std::make_pair(&e.extraField, extraSize),
                          std::make_pair(&e.comment, commentSize)}) {
            part.first->Allocate(part.second);
            if (part.second != 0) storage->ReadBytes(part.first->Data(), part.second, true);
        }
        if (storage->GetCurrentVolume() != volume) storage->Throw(CZipException::errBadArchive);

        char* name = reinterpret_cast<char*>(e.name.Data());
        std::replace(name, name + e.name.GetSize(), '/', '\\');
        if (e.GetHostSystem() == CZipEntryInfo::hostMsDos) ZipSystem::ConvertOemName(name, e.name.GetSize());
    }

    auto position = [](const std::unique_ptr<CZipEntryInfo>& e) {
        return (static_cast<uint64_t>(e->diskNumberStart) << 32) | e->localHeaderOffset;
    };
    std::sort(entries.begin(), entries.end(),
              [&](const auto& a, const auto& b) { return position(a) < position(b); });
    for (size_t i = 1; i < entries.size(); ++i)
        if (position(entries[i - 1]) == position(entries[i])) CZipException::Throw(CZipException::errBadArchive);
    CheckExtents();
}

uint64_t CZipDirectory::MinimalEnd(const CZipEntryInfo& e) {
    // The local header's name has the directory's length (OpenLocal checks
    // it); its extra field is unknown until then and counted as empty.
    uint64_t end = static_cast<uint64_t>(e.localHeaderOffset) + kLocalHeaderSize + e.name.GetSize() + e.compressedSize;
    if (e.flags & CZipEntryInfo::flagDataDescriptor) end += 12;  // its shortest form
    return end;
}

void CZipDirectory::CheckExtents() {
    // Entries that share data (a zip bomb unpacks the same bytes again and
    // again) are refused before anything is unpacked.
    limits.assign(entries.size(), UINT64_MAX);
    for (size_t i = 0; i < entries.size(); ++i) {
        const CZipEntryInfo& e = *entries[i];
        uint64_t& limit = limits[i];
        if (e.diskNumberStart == directoryDisk) limit = directoryOffset;
        else if (e.diskNumberStart > directoryDisk) limit = 0;  // data after the directory
        if (i + 1 < entries.size() && entries[i + 1]->diskNumberStart == e.diskNumberStart)
            limit = std::min<uint64_t>(limit, entries[i + 1]->localHeaderOffset);
        if (MinimalEnd(e) > limit) storage->Throw(CZipException::errBadArchive);
    }
}

void CZipDirectory::OpenLocal(size_t index) {
    const CZipEntryInfo& e = *entries[index];
    openRecord = &e;
    storage->ChangeVolume(e.diskNumberStart);
    storage->Seek(static_cast<int64_t>(bytesBeforeArchive) + e.localHeaderOffset, SEEK_SET);
    uint8_t header[kLocalHeaderSize];
    storage->ReadBytes(header, kLocalHeaderSize, true);
    CZipLeCursor in(header, sizeof header);
    const uint32_t signature = in.U32();
    in.Skip(2);  // version needed
    const uint16_t flags = in.U16();
    const uint16_t method = in.U16();
    in.Skip(4);  // time and date
    const uint32_t crc = in.U32();
    const uint32_t compressedSize = in.U32();
    const uint32_t uncompressedSize = in.U32();
    const uint16_t nameSize = in.U16();
    const uint16_t extraSize = in.U16();

    bool ok = signature == kLocalSignature && (flags & 0xF) == (e.flags & 0xF) && method == e.method &&
              (method == CZipEntryInfo::methodStored || method == CZipEntryInfo::methodDeflated) &&
              nameSize == e.name.GetSize();
    if (ok && !(flags & CZipEntryInfo::flagDataDescriptor))
        ok = crc == e.crc32 && compressedSize == e.compressedSize && uncompressedSize == e.uncompressedSize;
    if (!ok) storage->Throw(CZipException::errBadArchive);

    // With its own extra field the entry must still end before the next one.
    if (MinimalEnd(e) + extraSize > limits[index]) storage->Throw(CZipException::errBadArchive);
    storage->Seek(nameSize, SEEK_CUR);
    localExtraField.Allocate(extraSize);
    if (extraSize != 0) {
        const int volume = storage->GetCurrentVolume();
        storage->ReadBytes(localExtraField.Data(), extraSize, true);
        if (storage->GetCurrentVolume() != volume) storage->Throw(CZipException::errBadArchive);
    }
}

void CZipDirectory::CloseLocal(bool afterError) {
    localExtraField.Release();
    if (!afterError && openRecord != nullptr && (openRecord->flags & CZipEntryInfo::flagDataDescriptor)) {
        uint8_t descriptor[12];
        storage->ReadBytes(descriptor, 4, false);
        if (Le32(descriptor) != kDescriptorSignature) storage->Seek(-4, SEEK_CUR);
        storage->ReadBytes(descriptor, 12, false);
        CZipLeCursor in(descriptor, sizeof descriptor);
        if (in.U32() != openRecord->crc32 || in.U32() != openRecord->compressedSize ||
            in.U32() != openRecord->uncompressedSize)
            storage->Throw(CZipException::errBadArchive);
    }
    openRecord = nullptr;
}
