#include "zip/zip_directory.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "zip/zip_exception.h"
#include "zip/zip_le_cursor.h"
#include "zip/zip_system.h"

namespace {

const uint32_t kEndSignature = 0x06054B50;
const uint32_t kZip64EndSignature = 0x06064B50;
const uint32_t kZip64LocatorSignature = 0x07064B50;
const uint32_t kCentralSignature = 0x02014B50;
const uint32_t kLocalSignature = 0x04034B50;
const uint32_t kDescriptorSignature = 0x08074B50;
const uint32_t kEndRecordSize = 22;
const uint32_t kZip64EndRecordSize = 56;  // without extensible data
const uint32_t kZip64LocatorSize = 20;
const uint32_t kCentralHeaderSize = 46;
const uint32_t kLocalHeaderSize = 30;
const uint32_t kMaxCommentSize = 65535;
// Read with the local header and its name in the same call: the extra
// fields of nearly every writer fit (zip64, times, Unix owners).
const uint32_t kLocalExtraGuess = 512;
const uint16_t kNo16 = 0xFFFF;
const uint32_t kNo32 = 0xFFFFFFFF;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// a + b, or UINT64_MAX when that does not fit: a sum past every limit.
uint64_t Add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

}  // namespace

void CZipDirectory::Clear() {
  entries.clear();
  limits.clear();
  locals.clear();
  comment.Release();
  openRecord = nullptr;
  endRecordPosition = bytesBeforeArchive = directorySize = directoryOffset = 0;
  thisDisk = directoryDisk = 0;
  entriesOnDisk = totalEntries = 0;
  directoryRead = false;
}

uint64_t CZipDirectory::LocateEndRecord() {
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
      if (Le32(buffer.get() + offset) == kEndSignature) return static_cast<uint64_t>(length - reach + offset);
    }
    // The next window overlaps by 3 bytes so a straddling signature is seen.
    covered = reach - 3;
  } while (reach < window);
  storage->Throw(CZipException::errNoEndRecord);
}

void CZipDirectory::Read() {
  endRecordPosition = LocateEndRecord();
  storage->Seek(static_cast<int64_t>(endRecordPosition), SEEK_SET);
  uint8_t record[kEndRecordSize];
  storage->ReadBytes(record, kEndRecordSize, true);
  CZipLeCursor in(record, sizeof record);
  std::memcpy(endSignature, record, 4);
  in.Skip(4);
  const uint16_t disk16 = in.U16();
  const uint16_t directoryDisk16 = in.U16();
  const uint16_t entriesOnDisk16 = in.U16();
  const uint16_t total16 = in.U16();
  const uint32_t size32 = in.U32();
  const uint32_t offset32 = in.U32();
  const uint16_t commentSize = in.U16();
  thisDisk = disk16;
  directoryDisk = directoryDisk16;
  entriesOnDisk = entriesOnDisk16;
  totalEntries = total16;
  directorySize = size32;
  directoryOffset = offset32;

  // A zip64 archive keeps its locator right in front of the end record.
  bool zip64 = false;
  uint64_t locatorDisk = 0, locatorOffset = 0, diskCount = 0;
  if (endRecordPosition >= kZip64LocatorSize) {
    uint8_t locator[kZip64LocatorSize];
    storage->Seek(static_cast<int64_t>(endRecordPosition - kZip64LocatorSize), SEEK_SET);
    storage->ReadBytes(locator, kZip64LocatorSize, true);
    CZipLeCursor at(locator, sizeof locator);
    if (at.U32() == kZip64LocatorSignature) {
      zip64 = true;
      locatorDisk = at.U32();
      locatorOffset = at.U64();
      diskCount = at.U32();
      // This disk is the last one; its 16-bit number may only say "see zip64".
      if (disk16 == kNo16) {
        if (diskCount == 0 || diskCount > kNo16) storage->Throw(CZipException::errBadArchive);
        thisDisk = static_cast<uint16_t>(diskCount - 1);
      }
    }
  }

  storage->SetDiskOfEndRecord(thisDisk);
  storage->Seek(static_cast<int64_t>(endRecordPosition + kEndRecordSize), SEEK_SET);
  if (commentSize != 0) {
    comment.Allocate(commentSize);
    storage->ReadBytes(comment.Data(), commentSize, true);
  }
  const bool single = thisDisk == 0;
  if (zip64) {
    ReadZip64EndRecord(locatorDisk, locatorOffset);
  } else {
    if (single && (directorySize > endRecordPosition || directoryOffset > endRecordPosition - directorySize))
      storage->Throw(CZipException::errBadArchive);
    // Data in front of the archive proper (a program stub) shifts every offset.
    bytesBeforeArchive = single ? endRecordPosition - directorySize - directoryOffset : 0;
  }
  if ((directorySize == 0) != (totalEntries == 0)) storage->Throw(CZipException::errBadArchive);
  // Every record takes 46 bytes at least: a count the directory cannot hold is a lie.
  if (totalEntries > directorySize / kCentralHeaderSize || totalEntries > static_cast<uint64_t>(INT_MAX))
    storage->Throw(CZipException::errBadArchive);
  directoryRead = true;
  storage->ChangeVolume(directoryDisk);
  if (directorySize == 0) return;
  ReadEntries();
}

void CZipDirectory::ReadZip64EndRecord(uint64_t locatorDisk, uint64_t locatorOffset) {
  const bool single = thisDisk == 0;
  const uint64_t locatorPosition = endRecordPosition - kZip64LocatorSize;
  uint8_t record[kZip64EndRecordSize];
  uint64_t position = locatorOffset;
  bool found = false;
  if (single) {
    if (locatorDisk != 0) storage->Throw(CZipException::errBadArchive);
    // Where the locator says, or, with data in front of the archive, right
    // before the locator (the record's usual place).
    for (uint64_t candidate :
         {locatorOffset, locatorPosition - std::min<uint64_t>(locatorPosition, kZip64EndRecordSize)}) {
      if (candidate < locatorOffset || Add(candidate, kZip64EndRecordSize) > locatorPosition) continue;
      storage->Seek(static_cast<int64_t>(candidate), SEEK_SET);
      storage->ReadBytes(record, kZip64EndRecordSize, true);
      if (Le32(record) == kZip64EndSignature) {
        position = candidate;
        found = true;
        break;
      }
    }
  } else {
    if (locatorDisk >= kNo16) storage->Throw(CZipException::errBadArchive);
    storage->ChangeVolume(static_cast<int>(locatorDisk));
    storage->Seek(static_cast<int64_t>(std::min<uint64_t>(locatorOffset, INT64_MAX)), SEEK_SET);
    storage->ReadBytes(record, kZip64EndRecordSize, true);
    found = Le32(record) == kZip64EndSignature;
  }
  if (!found) storage->Throw(CZipException::errBadArchive);

  CZipLeCursor in(record, sizeof record);
  in.Skip(4);
  const uint64_t recordSize = in.U64();
  in.Skip(4);  // versions
  const uint32_t disk = in.U32();
  const uint32_t directoryDisk32 = in.U32();
  const uint64_t onDisk = in.U64();
  const uint64_t total = in.U64();
  const uint64_t size = in.U64();
  const uint64_t offset = in.U64();
  if (recordSize < kZip64EndRecordSize - 12) storage->Throw(CZipException::errBadArchive);
  if (single && Add(Add(position, 12), recordSize) > locatorPosition)
    storage->Throw(CZipException::errBadArchive);
  // The end record's own fields either say "see zip64" or agree with it.
  const bool agrees = disk == thisDisk && directoryDisk32 < kNo16 &&
                      (directoryDisk == kNo16 || directoryDisk == directoryDisk32) &&
                      (entriesOnDisk == kNo16 || entriesOnDisk == onDisk) &&
                      (totalEntries == kNo16 || totalEntries == total) &&
                      (directorySize == kNo32 || directorySize == size) &&
                      (directoryOffset == kNo32 || directoryOffset == offset);
  if (!agrees) storage->Throw(CZipException::errBadArchive);
  directoryDisk = static_cast<uint16_t>(directoryDisk32);
  entriesOnDisk = onDisk;
  totalEntries = total;
  directorySize = size;
  directoryOffset = offset;
  if (single) {
    // The directory ends before the zip64 end record.
    if (directorySize > locatorOffset || directoryOffset > locatorOffset - directorySize)
      storage->Throw(CZipException::errBadArchive);
    bytesBeforeArchive = position - locatorOffset;
  } else {
    bytesBeforeArchive = 0;
  }
}

void CZipDirectory::ReadEntries() {
  storage->Seek(static_cast<int64_t>(bytesBeforeArchive + directoryOffset), SEEK_SET);
  entries.clear();
  entries.reserve(static_cast<size_t>(std::min<uint64_t>(totalEntries, 1u << 16)));

  // The directory through one bounded buffer, parsed from memory. A split
  // directory goes on in the next volume, but no record crosses into it.
  const size_t capacity = static_cast<size_t>(std::min<uint64_t>(directorySize, kMaxDirectoryBuffer));
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[capacity]);
  size_t begin = 0, end = 0;
  uint64_t unread = directorySize;
  auto have = [&](size_t count) {
    while (end - begin < count) {
      if (unread == 0 || count > capacity) return false;
      if (begin != 0) {
        std::memmove(buffer.get(), buffer.get() + begin, end - begin);
        end -= begin;
        begin = 0;
      }
      const uint32_t room = static_cast<uint32_t>(std::min<uint64_t>(capacity - end, unread));
      const uint32_t got = storage->GetFile()->Read(buffer.get() + end, room);
      if (got == 0) {
        if (!storage->IsSplit() || end != begin) return false;
        storage->ChangeVolume(storage->GetCurrentVolume() + 1);
        continue;
      }
      end += got;
      unread -= got;
    }
    return true;
  };

  for (uint64_t i = 0; i < totalEntries; ++i) {
    if (!have(kCentralHeaderSize)) storage->Throw(CZipException::errBadArchive);
    const uint8_t* p = buffer.get() + begin;
    if (Le32(p) != kCentralSignature) storage->Throw(CZipException::errBadArchive);
    const size_t length =
        kCentralHeaderSize + (p[28] | (p[29] << 8)) + (p[30] | (p[31] << 8)) + (p[32] | (p[33] << 8));
    if (!have(length)) storage->Throw(CZipException::errBadArchive);
    entries.push_back(std::make_unique<CZipEntryInfo>());
    ReadRecord(buffer.get() + begin, *entries.back());
    begin += length;
  }
  buffer.reset();

  auto before = [](const std::unique_ptr<CZipEntryInfo>& a, const std::unique_ptr<CZipEntryInfo>& b) {
    return a->diskNumberStart != b->diskNumberStart ? a->diskNumberStart < b->diskNumberStart
                                                    : a->localHeaderOffset < b->localHeaderOffset;
  };
  std::sort(entries.begin(), entries.end(), before);
  for (size_t i = 1; i < entries.size(); ++i)
    if (!before(entries[i - 1], entries[i])) CZipException::Throw(CZipException::errBadArchive);
  CheckExtents();
  CheckLocalHeaders();
}

void CZipDirectory::ReadRecord(const uint8_t* record, CZipEntryInfo& e) {
  CZipLeCursor in(record, kCentralHeaderSize);
  std::memcpy(e.signature, record, 4);
  in.Skip(4);
  e.versionMadeBy = in.U16();
  e.versionNeeded = in.U16();
  e.flags = in.U16();
  e.method = in.U16();
  e.modTime = in.U16();
  e.modDate = in.U16();
  e.crc32 = in.U32();
  const uint32_t compressed32 = in.U32();
  const uint32_t uncompressed32 = in.U32();
  const uint16_t nameSize = in.U16();
  const uint16_t extraSize = in.U16();
  const uint16_t commentSize = in.U16();
  const uint16_t disk16 = in.U16();
  e.internalAttributes = in.U16();
  e.externalAttributes = in.U32();
  const uint32_t offset32 = in.U32();

  e.storedNameSize = nameSize;
  const uint8_t* p = record + kCentralHeaderSize;
  for (auto part : {std::make_pair(&e.name, nameSize), std::make_pair(&e.extraField, extraSize),
                    std::make_pair(&e.comment, commentSize)}) {
    part.first->Allocate(part.second);
    if (part.second != 0) std::memcpy(part.first->Data(), p, part.second);
    p += part.second;
  }

  // Fields that say "see zip64" are in its extra field, in this order and
  // only those; without that field the value stands as written.
  e.uncompressedSize = uncompressed32;
  e.compressedSize = compressed32;
  e.localHeaderOffset = offset32;
  e.diskNumberStart = disk16;
  const uint8_t* zip64;
  uint16_t zip64Size;
  if ((uncompressed32 == kNo32 || compressed32 == kNo32 || offset32 == kNo32 || disk16 == kNo16) &&
      CZipEntryInfo::FindExtra(e.extraField, CZipEntryInfo::extraZip64, zip64, zip64Size)) {
    CZipLeCursor z(zip64, zip64Size);
    if (uncompressed32 == kNo32) e.uncompressedSize = z.U64();
    if (compressed32 == kNo32) e.compressedSize = z.U64();
    if (offset32 == kNo32) e.localHeaderOffset = z.U64();
    if (disk16 == kNo16) {
      const uint32_t disk = z.U32();
      if (disk >= kNo16) storage->Throw(CZipException::errBadArchive);
      e.diskNumberStart = static_cast<uint16_t>(disk);
    }
    if (!z.Ok()) storage->Throw(CZipException::errBadArchive);
  }
  if (e.diskNumberStart != 0 && storage->IsSingleFileOnly()) storage->Throw(CZipException::errSplitRefused);
  ConvertName(e);
}

void CZipDirectory::ConvertName(CZipEntryInfo& e) {
  char* name = reinterpret_cast<char*>(e.name.Data());
  if (e.flags & CZipEntryInfo::flagUtf8Name) {
    std::string ansi;
    switch (ZipSystem::ConvertUtf8Name(name, e.name.GetSize(), ansi)) {
      case ZipSystem::NameConversion::Converted: break;
      case ZipSystem::NameConversion::Invalid: storage->Throw(CZipException::errBadArchive);
      case ZipSystem::NameConversion::NotInCodePage: {
        CZipException refused(CZipException::errNameNotInCodePage, storage->GetFilePath());
        refused.entryName = e.GetName();
        throw refused;
      }
    }
    e.name.Allocate(static_cast<uint32_t>(ansi.size()));
    if (!ansi.empty()) std::memcpy(e.name.Data(), ansi.data(), ansi.size());
    name = reinterpret_cast<char*>(e.name.Data());
  }
  // "/" is never the second byte of a double-byte character: any byte counts.
  std::replace(name, name + e.name.GetSize(), '/', '\\');
  if (!(e.flags & CZipEntryInfo::flagUtf8Name) && e.GetHostSystem() == CZipEntryInfo::hostMsDos)
    ZipSystem::ConvertOemName(name, e.name.GetSize());
}

uint64_t CZipDirectory::MinimalEnd(const CZipEntryInfo& e) {
  // The local header's name has the directory's length (CheckLocal checks
  // it); its extra field is unknown until then and counted as empty.
  uint64_t end = Add(Add(e.localHeaderOffset, kLocalHeaderSize + e.storedNameSize), e.compressedSize);
  if (e.flags & CZipEntryInfo::flagDataDescriptor) end = Add(end, 12);  // its shortest form
  return end;
}

void CZipDirectory::CheckExtents() {
  // Entries that share data (a zip bomb unpacks the same bytes again and
  // again) are refused before anything is unpacked.
  limits.assign(entries.size(), UINT64_MAX);
  for (size_t i = 0; i < entries.size(); ++i) {
    const CZipEntryInfo& e = *entries[i];
    uint64_t& limit = limits[i];
    if (e.diskNumberStart == directoryDisk)
      limit = directoryOffset;
    else if (e.diskNumberStart > directoryDisk)
      limit = 0;  // data after the directory
    if (i + 1 < entries.size() && entries[i + 1]->diskNumberStart == e.diskNumberStart)
      limit = std::min<uint64_t>(limit, entries[i + 1]->localHeaderOffset);
    if (MinimalEnd(e) > limit) storage->Throw(CZipException::errBadArchive);
  }
}

// Bytes of the archive at a position of the current volume. In a single
// file it reads ahead past small entries, whose local headers lie close
// together: one read then serves many of them.
class CZipDirectory::LocalReader {
 public:
  static constexpr uint32_t kReadAhead = 64u << 10;

  explicit LocalReader(CZipVolumeStorage* storage)
      : storage(storage), bytes(kLocalHeaderSize + 2 * 65535u + kReadAhead) {}

  // Up to `count` bytes (fewer only where the volume ends); `ahead` lets
  // the read go on past them.
  const uint8_t* Read(uint64_t position, uint32_t count, bool ahead, uint32_t& got) {
    if (!storage->IsSplit() && position >= start && position - start <= size &&
        count <= size - (position - start)) {
      got = count;
      return bytes.data() + (position - start);
    }
    storage->Seek(static_cast<int64_t>(std::min<uint64_t>(position, INT64_MAX)), SEEK_SET);
    start = position;
    size = storage->GetFile()->Read(bytes.data(), ahead ? std::max(count, kReadAhead) : count);
    got = std::min(count, size);
    return bytes.data();
  }

 private:
  CZipVolumeStorage* storage;
  std::vector<uint8_t> bytes;
  uint64_t start = 0;
  uint32_t size = 0;
};

void CZipDirectory::CheckLocalHeaders() {
  locals.assign(entries.size(), Local());
  LocalReader reader(storage);
  for (size_t i = 0; i < entries.size(); ++i) CheckLocal(i, reader);
}

void CZipDirectory::CheckLocal(size_t index, LocalReader& reader) {
  const CZipEntryInfo& e = *entries[index];
  const uint64_t limit = limits[index];
  const uint32_t nameSize = e.storedNameSize;
  // One read for the header, its name and (nearly always) its extra field,
  // never past the next entry unless reading ahead.
  uint64_t want = kLocalHeaderSize + static_cast<uint64_t>(nameSize) + kLocalExtraGuess;
  if (limit != UINT64_MAX) want = std::min(want, limit - e.localHeaderOffset);
  const bool small = limit != UINT64_MAX && limit - e.localHeaderOffset < LocalReader::kReadAhead;
  storage->ChangeVolume(e.diskNumberStart);
  const uint64_t position = bytesBeforeArchive + e.localHeaderOffset;
  uint32_t got;
  const uint8_t* header = reader.Read(position, static_cast<uint32_t>(want), small, got);
  if (got < kLocalHeaderSize) storage->Throw(CZipException::errBadArchive);
  CZipLeCursor in(header, kLocalHeaderSize);
  const uint32_t signature = in.U32();
  in.Skip(2);  // version needed
  const uint16_t flags = in.U16();
  const uint16_t method = in.U16();
  in.Skip(4);  // time and date
  const uint32_t crc = in.U32();
  const uint32_t compressed32 = in.U32();
  const uint32_t uncompressed32 = in.U32();
  const uint16_t localNameSize = in.U16();
  const uint16_t extraSize = in.U16();

  if (signature != kLocalSignature || (flags & 0xF) != (e.flags & 0xF) || method != e.method ||
      localNameSize != nameSize)
    storage->Throw(CZipException::errBadArchive);
  // With its own extra field the entry must still end before the next one.
  if (Add(MinimalEnd(e), extraSize) > limit) storage->Throw(CZipException::errBadArchive);
  const uint32_t headerSize = kLocalHeaderSize + nameSize + extraSize;
  if (got < headerSize) {
    header = reader.Read(position, headerSize, false, got);
    if (got < headerSize) storage->Throw(CZipException::errBadArchive);
  }
  if (e.flags & CZipEntryInfo::flagEncrypted)
    CZipException::Throw(CZipException::errBadPassword, storage->GetFilePath());
  if (method != CZipEntryInfo::methodStored && method != CZipEntryInfo::methodDeflated)
    storage->Throw(CZipException::errBadArchive);

  // A zip64 extra field here carries both sizes (some writers give only
  // the one whose field says "see zip64").
  CZipBuffer extra;
  extra.Allocate(extraSize);
  if (extraSize != 0) std::memcpy(extra.Data(), header + kLocalHeaderSize + nameSize, extraSize);
  uint64_t uncompressed = uncompressed32, compressed = compressed32;
  const uint8_t* zip64;
  uint16_t zip64Size;
  Local& local = locals[index];
  local.zip64 = CZipEntryInfo::FindExtra(extra, CZipEntryInfo::extraZip64, zip64, zip64Size);
  if (local.zip64) {
    CZipLeCursor z(zip64, zip64Size);
    if (zip64Size >= 16) {
      uncompressed = z.U64();
      compressed = z.U64();
    } else if (zip64Size == 8 && (uncompressed32 == kNo32 || compressed32 == kNo32)) {
      (uncompressed32 == kNo32 ? uncompressed : compressed) = z.U64();
    } else if (zip64Size != 0) {
      storage->Throw(CZipException::errBadArchive);
    }
  }
  if (!(flags & CZipEntryInfo::flagDataDescriptor) &&
      (crc != e.crc32 || compressed != e.compressedSize || uncompressed != e.uncompressedSize))
    storage->Throw(CZipException::errBadArchive);
  local.dataStart = e.localHeaderOffset + headerSize;
  if (!(flags & CZipEntryInfo::flagDataDescriptor)) return;

  // The descriptor after the data must agree with the directory too.
  const uint64_t at = Add(local.dataStart, e.compressedSize);
  uint32_t size = local.zip64 ? 24 : 16;
  const uint8_t* descriptor;
  uint8_t across[24];
  if (!storage->IsSplit()) {
    if (at > limit) storage->Throw(CZipException::errBadArchive);
    size = static_cast<uint32_t>(std::min<uint64_t>(size, limit - at));
    descriptor = reader.Read(bytesBeforeArchive + at, size, small, size);
  } else {
    // The directory follows on this volume or a later one: the longest
    // form can be read, across the end of a volume too.
    SeekAcross(e.diskNumberStart, at);
    size = storage->ReadBytes(across, size, false);
    descriptor = across;
  }
  if (!DescriptorMatches(descriptor, size, e, local.zip64)) storage->Throw(CZipException::errBadArchive);
}

void CZipDirectory::SeekAcross(int disk, uint64_t offset) {
  storage->ChangeVolume(disk);
  uint64_t length = storage->GetFile()->GetLength();
  while (offset > length) {
    offset -= length;
    storage->ChangeVolume(++disk);
    length = storage->GetFile()->GetLength();
  }
  storage->Seek(static_cast<int64_t>(offset), SEEK_SET);
}

bool CZipDirectory::DescriptorMatches(const uint8_t* bytes, size_t size, const CZipEntryInfo& e, bool zip64) {
  // With or without its optional signature; a CRC that happens to equal
  // the signature is read both ways.
  const size_t fields = zip64 ? 20 : 12;
  auto matches = [&](const uint8_t* p) {
    CZipLeCursor in(p, fields);
    const uint32_t crc = in.U32();
    const uint64_t compressed = zip64 ? in.U64() : in.U32();
    const uint64_t uncompressed = zip64 ? in.U64() : in.U32();
    return crc == e.crc32 && compressed == e.compressedSize && uncompressed == e.uncompressedSize;
  };
  return (size >= 4 + fields && Le32(bytes) == kDescriptorSignature && matches(bytes + 4)) ||
         (size >= fields && matches(bytes));
}

void CZipDirectory::OpenLocal(size_t index) {
  const CZipEntryInfo& e = *entries[index];
  openRecord = &e;
  openIndex = index;
  storage->ChangeVolume(e.diskNumberStart);
  storage->Seek(static_cast<int64_t>(bytesBeforeArchive + locals[index].dataStart), SEEK_SET);
}

void CZipDirectory::CloseLocal(bool afterError) {
  if (!afterError && openRecord != nullptr && (openRecord->flags & CZipEntryInfo::flagDataDescriptor)) {
    const bool zip64 = locals[openIndex].zip64;
    // The directory (or the next entry) follows, so the longest form can be read.
    uint8_t descriptor[24];
    const uint32_t size = zip64 ? 24 : 16;
    storage->ReadBytes(descriptor, size, false);
    if (!DescriptorMatches(descriptor, size, *openRecord, zip64))
      storage->Throw(CZipException::errBadArchive);
  }
  openRecord = nullptr;
}
