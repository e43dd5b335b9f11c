#include "zip/zip_archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "zip/zip_disk_file.h"
#include "zip/zip_exception.h"
#include "zip/zip_path_parts.h"
#include "zip/zip_system.h"
#include "zip/zip_write_ring.h"

CZipArchive::CZipArchive() : directory(&storage) { std::memset(&stream, 0, sizeof stream); }

CZipArchive::~CZipArchive() { ReleaseBlocks(); }

voidpf CZipArchive::Allocate(voidpf blocks, uInt items, uInt size) {
  auto* list = static_cast<std::vector<void*>*>(blocks);
  if (size != 0 && items > SIZE_MAX / size) return Z_NULL;
  void* block = std::malloc(static_cast<size_t>(items) * size);
  if (block == nullptr) return Z_NULL;
  try {
    list->push_back(block);
  } catch (...) {
    std::free(block);
    return Z_NULL;
  }
  return block;
}

void CZipArchive::Release(voidpf blocks, voidpf block) {
  auto* list = static_cast<std::vector<void*>*>(blocks);
  auto it = std::find(list->begin(), list->end(), block);
  if (it == list->end()) return;  // never ours: freeing it could free twice
  list->erase(it);
  std::free(block);
}

void CZipArchive::ReleaseBlocks() {
  for (void* block : blocks) std::free(block);
  blocks.clear();
  // The stream may still point into the freed state; forget it.
  std::memset(&stream, 0, sizeof stream);
}

void CZipArchive::ThrowArchive(int cause, bool zlibResult) const {
  if (zlibResult) cause = CZipException::ZlibCause(cause);
  CZipException::Throw(cause, storage.IsOpen() ? storage.GetFilePath() : std::string());
}

void CZipArchive::Open(const std::string& path, int, int) {
  if (storage.IsOpen()) return;
  storage.Open(path);
  entryState = 0;
  directory.Clear();
  password.Release();
  knownFolders.clear();
  directory.Read();
}

int CZipArchive::GetEntryCount() const {
  return storage.IsOpen() ? static_cast<int>(directory.GetCount()) : 0;
}

bool CZipArchive::GetEntryInfo(CZipEntryInfo& record, uint32_t index) const {
  if (index >= static_cast<uint32_t>(GetEntryCount())) return false;
  record = directory.GetAt(index);
  return true;
}

void CZipArchive::Close(int afterError, bool setTimeStamp) {
  if (!storage.IsOpen()) {
    CZipAbstractFile* file = storage.GetFile();
    if (!afterError || file == nullptr || file->IsClosed()) return;
  }
  if (entryState == -1) CloseEntry(nullptr, afterError);
  int64_t newest = 0;
  if (setTimeStamp)
    for (size_t i = 0; i < directory.GetCount(); ++i)
      newest = std::max(newest, directory.GetAt(i).GetModTime());
  directory.Clear();
  knownFolders.clear();
  const std::string path = storage.GetFilePath();
  storage.Close();
  if (setTimeStamp && !path.empty()) ZipSystem::SetModifiedTime(path, newest);
}

void CZipArchive::SetProgressObserver(int operation, CZipProgressObserver* observer) {
  if (observer == nullptr)
    observers.erase(operation);
  else
    observers[operation] = observer;
}

bool CZipArchive::OpenEntry(uint32_t index) {
  if (index >= static_cast<uint32_t>(GetEntryCount()) || entryState != 0) return false;
  // Method, encryption and the local header were checked when the archive opened.
  const CZipEntryInfo& e = directory.GetAt(index);
  inputBuffer.Allocate(
      static_cast<uint32_t>(std::min<uint64_t>(inputBufferSize, std::max<uint64_t>(e.compressedSize, 1))));
  directory.OpenLocal(index);
  std::memset(&stream, 0, sizeof stream);
  if (e.method == CZipEntryInfo::methodDeflated) {
    stream.zalloc = &CZipArchive::Allocate;
    stream.zfree = &CZipArchive::Release;
    stream.opaque = &blocks;
    int result = inflateInit2(&stream, -MAX_WBITS);  // raw deflate, no zlib header
    if (result != Z_OK && result != Z_NEED_DICT) {
      ReleaseBlocks();
      ThrowArchive(result, true);
    }
  }
  compressedLeft = e.compressedSize;
  uncompressedLeft = e.uncompressedSize;
  crc = 0;
  stream.total_out = 0;
  stream.avail_in = 0;
  entryState = -1;
  return true;
}

uint32_t CZipArchive::ReadEntry(void* buffer, uint32_t count) {
  if (entryState != -1 || buffer == nullptr || count == 0) return 0;
  const bool deflated = directory.GetOpenRecord()->method == CZipEntryInfo::methodDeflated;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t space = static_cast<uint32_t>(std::min<uint64_t>(count, uncompressedLeft));
  // A zero-length entry that still holds compressed bytes is fed to the
  // decompressor anyway: an empty deflate stream has two bytes.
  const bool forced = space == 0 && compressedLeft != 0;
  uint32_t delivered = 0;
  while (space > 0 || (forced && compressedLeft > 0)) {
    bool tookInput = false;
    if (stream.avail_in == 0 && compressedLeft > 0) {
      const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(inputBuffer.GetSize(), compressedLeft));
      storage.ReadBytes(inputBuffer.Data(), k, false);
      compressedLeft -= k;
      stream.next_in = inputBuffer.Data();
      stream.avail_in = k;
      tookInput = true;
    }
    uint32_t produced;
    if (deflated) {
      const uInt inBefore = stream.avail_in;
      stream.next_out = out + delivered;
      stream.avail_out = space;
      const int result = inflate(&stream, Z_SYNC_FLUSH);
      produced = space - stream.avail_out;
      tookInput = tookInput || stream.avail_in != inBefore;
      if (!crcByWriter) crc = crc32(crc, out + delivered, produced);
      uncompressedLeft -= produced;
      delivered += produced;
      space -= produced;
      if (result == Z_STREAM_END) return delivered;
      if (result != Z_OK && result != Z_NEED_DICT) ThrowArchive(result, true);
    } else {
      produced = std::min<uint32_t>(space, stream.avail_in);
      std::memcpy(out + delivered, stream.next_in, produced);
      if (!crcByWriter) crc = crc32(crc, out + delivered, produced);
      stream.next_in += produced;
      stream.avail_in -= produced;
      uncompressedLeft -= produced;
      delivered += produced;
      space -= produced;
    }
    // Stored data shorter than recorded would otherwise spin here forever.
    if (!tookInput && produced == 0) break;
  }
  return delivered;
}

void CZipArchive::SkipRemainingData() {
  // Output can be complete before the last compressed bytes (an end-of-block
  // code, empty blocks) were needed; the data descriptor lies after them.
  while (compressedLeft > 0) {
    const uint32_t k = static_cast<uint32_t>(std::min<uint64_t>(inputBuffer.GetSize(), compressedLeft));
    storage.ReadBytes(inputBuffer.Data(), k, false);
    compressedLeft -= k;
  }
}

int CZipArchive::CloseEntry(const char* path, int afterError) {
  if (entryState != -1) return 0;
  const CZipEntryInfo& e = *directory.GetOpenRecord();
  int result = 1;
  if (!afterError) {
    if (uncompressedLeft == 0) {
      if (crc != e.crc32) ThrowArchive(CZipException::errBadCrc);
    } else {
      result = -1;
    }
    if (e.method == CZipEntryInfo::methodDeflated) inflateEnd(&stream);
    if (path != nullptr) {
      if (!ZipSystem::SetModifiedTime(path, e.GetModTime()) ||
          !ZipSystem::WriteAttributes(path, e.GetSystemAttributes()))
        result = -2;
    }
    if (e.flags & CZipEntryInfo::flagDataDescriptor) SkipRemainingData();
  }
  directory.CloseLocal(afterError != 0);
  entryState = 0;
  inputBuffer.Release();
  ReleaseBlocks();
  return result;
}

void CZipArchive::PredictTarget(const char* entryName, const char* folder, bool keepFolders,
                                const char* newName, std::string& base, std::string& relative) const {
  base = folder ? folder : "";
  relative.clear();
  std::string source = newName ? newName : (entryName ? entryName : "");
  if (source.empty()) return;
  if (!base.empty()) base = ZipPathTrimTrailing(base, true) + "\\";
  CZipPathParts parts(ZipPathTrimTrailing(source, true));
  relative = keepFolders ? parts.GetPathWithoutDrive() : parts.GetFileName();
}

std::string CZipArchive::PredictTargetPath(const char* entryName, const char* folder, bool keepFolders,
                                           const char* newName) const {
  std::string base, relative;
  PredictTarget(entryName, folder, keepFolders, newName, base, relative);
  return base + relative;
}

std::string CZipArchive::CheckedTargetPath(const char* entryName, const char* folder, bool keepFolders,
                                           const char* newName) const {
  const std::string source = newName ? newName : (entryName ? entryName : "");
  const std::string target = ZipCheckedTarget(source, folder ? folder : "", keepFolders);
  if (target.empty()) ThrowArchive(CZipException::errBadArchive);
  return target;
}

int CZipArchive::CancelCause(uint32_t n, uint32_t pieceSize) {
  // Cancelled after the last byte, the entry still closes whole.
  uint8_t probe;
  return (n == pieceSize && ReadEntry(&probe, 1) != 0) ? CZipException::errCancelled
                                                       : CZipException::errCancelledClean;
}

int CZipArchive::CopyInLine(CZipDiskFile& output, uint32_t bufferSize, CZipProgressObserver* observer) {
  CZipBuffer buffer(bufferSize);
  uint32_t n;
  do {
    n = ReadEntry(buffer.Data(), bufferSize);
    if (n == 0) break;
    output.Write(buffer.Data(), n);
    if (observer && !observer->OnProgress(n)) return CancelCause(n, bufferSize);
  } while (n == bufferSize);
  return 0;
}

int CZipArchive::CopyBeside(CZipDiskFile& output, CZipProgressObserver* observer) {
  // The writer checks the data too, so this thread only inflates; the sum
  // is read here again only after the ring drained.
  struct CrcByWriter {
    explicit CrcByWriter(bool& flag) : flag(flag) { flag = true; }
    ~CrcByWriter() { flag = false; }
    bool& flag;
  } byWriter(crcByWriter);
  CZipWriteRing ring(kWriteBehindBuffers, kWriteBehindPiece,
                     [this, &output](const uint8_t* data, uint32_t size) {
                       crc = crc32(crc, data, size);
                       output.Write(data, size);
                     });
  int cancel = 0;
  uint32_t n;
  do {
    n = ReadEntry(ring.Next(), kWriteBehindPiece);
    if (n == 0) break;
    ring.Queue(n);
    if (observer && !observer->OnProgress(n)) {
      cancel = CancelCause(n, kWriteBehindPiece);
      break;
    }
  } while (n == kWriteBehindPiece);
  // Everything inflated is written before the entry is judged, a cancelled
  // one included: a cancel after the last byte keeps the file.
  ring.Drain();
  return cancel;
}

bool CZipArchive::ExtractEntry(uint32_t index, const char* folder, bool keepFolders, const char* newName,
                               uint32_t bufferSize) {
  // A zero buffer would never make progress.
  if (bufferSize == 0 || index >= static_cast<uint32_t>(GetEntryCount())) return false;
  const CZipEntryInfo& info = directory.GetAt(index);  // lives until Close
  const std::string name = info.GetName();
  // Refused before anything is created.
  const std::string target = CheckedTargetPath(name.c_str(), folder, keepFolders, newName);

  auto found = observers.find(opExtract);
  CZipProgressObserver* observer = found == observers.end() ? nullptr : found->second;
  if (observer) observer->OnStart(name, target);

  if (info.IsDirectory()) {
    if (observer) observer->OnTotal(0);
    // A folder that cannot be made (a file in its place, no rights) fails
    // the entry: what the archive holds below it would have no place.
    if (!ZipSystem::CreatePath(target, &knownFolders))
      CZipException::Throw(errno != 0 ? errno : EACCES, target);
    ZipSystem::WriteAttributes(target, info.GetSystemAttributes());
    if (observer) observer->OnEnd();
    return true;
  }

  if (observer) observer->OnTotal(info.uncompressedSize);
  if (!OpenEntry(index)) return false;
  ZipSystem::CreatePath(CZipPathParts(target).GetFolderPath(), &knownFolders);
  CZipDiskFile output;
  output.Open(target, CZipAbstractFile::modeCreate | (replaceReadOnly ? CZipAbstractFile::modeReplace : 0),
              true);
  // From here on a failure leaves a file that is not the entry: it goes.
  // Only a regular file is removed, never a device the name led to.
  const bool removable = output.IsRegular();
  int cancel = 0;
  int result = 0;
  try {
    cancel = writeBehind && info.uncompressedSize > kWriteBehindSize
                 ? CopyBeside(output, observer)
                 : CopyInLine(output, bufferSize, observer);
    result = CloseEntry(nullptr, 0);
    // Through the same handle: one open per file. Only a whole entry gets them.
    if (result == 1 && !output.SetTimeAndAttributes(info.GetModTime(), info.GetSystemAttributes()))
      result = -2;
    output.Close();
  } catch (...) {
    try {
      output.Close();
    } catch (const CZipException&) {
    }
    if (removable) ZipSystem::RemoveFile(target);
    throw;
  }
  if (result != 1 && cancel == CZipException::errCancelledClean) cancel = CZipException::errCancelled;
  // Data shorter than recorded, or cut off by a cancel: not the entry either.
  if ((result == -1 || cancel == CZipException::errCancelled) && removable) ZipSystem::RemoveFile(target);
  if (observer) observer->OnEnd();
  if (cancel != 0) CZipException::Throw(cancel, target);
  return result == 1;
}
