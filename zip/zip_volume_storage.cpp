#include "zip/zip_volume_storage.h"

#include <cstdio>

#include "zip/zip_exception.h"
#include "zip/zip_path_parts.h"
#include "zip/zip_system.h"

void CZipVolumeStorage::Throw(int cause) const { CZipException::Throw(cause, GetFilePath()); }

void CZipVolumeStorage::Open(const std::string& path) {
  archiveFile.Open(path, CZipAbstractFile::modeRead, true);
  fileInUse = &archiveFile;
  readOnly = true;
  volumeMode = Undecided;
  if (!singleFileOnly) return;
  // The first volume of a spanned archive begins with the data descriptor's mark.
  uint8_t mark[4] = {};
  const uint32_t got = archiveFile.Read(mark, sizeof mark);
  archiveFile.Seek(0, SEEK_SET);
  if (got == sizeof mark && mark[0] == 'P' && mark[1] == 'K' && mark[2] == 7 && mark[3] == 8) {
    Throw(CZipException::errSplitRefused);
  }
}

void CZipVolumeStorage::SetDiskOfEndRecord(int disk) {
  if (singleFileOnly && disk != 0) Throw(CZipException::errSplitRefused);
  currentVolume = disk;
  if (disk == 0) {
    volumeMode = SingleFile;
    return;
  }
  if (volumeMode == Undecided)
    volumeMode = ZipSystem::IsRemovableDrive(GetFilePath()) ? RemovableSplit : NumberedSplit;
  if (volumeMode == RemovableSplit) {
    if (volumeCallback == nullptr) Throw(CZipException::errNoVolumeCallback);
  } else {
    lastVolume = disk;
    archiveExtension = CZipPathParts(GetFilePath()).extension;
  }
}

void CZipVolumeStorage::Close() {
  if (fileInUse != nullptr && !fileInUse->IsClosed()) fileInUse->Close();
  currentVolume = -1;
  volumeMode = SingleFile;
  fileInUse = nullptr;
}

uint64_t CZipVolumeStorage::Seek(int64_t offset, int origin) { return fileInUse->Seek(offset, origin); }

uint32_t CZipVolumeStorage::ReadBytes(void* buffer, uint32_t count, bool whole) {
  if (count == 0) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = fileInUse->Read(out, count);
  if (done == 0) {
    if (!IsSplit()) Throw(CZipException::errBadArchive);
    ChangeVolume(currentVolume + 1);
    done = fileInUse->Read(out, count);
  }
  if (done == count) return count;
  if (whole || !IsSplit()) Throw(CZipException::errBadArchive);
  while (done < count) {
    ChangeVolume(currentVolume + 1);
    uint32_t n = fileInUse->Read(out + done, count - done);
    if (n == 0) Throw(CZipException::errBadArchive);
    done += n;
  }
  return done;
}

void CZipVolumeStorage::ChangeVolume(int number) {
  if (number == currentVolume) return;
  if (singleFileOnly) Throw(CZipException::errSplitRefused);
  currentVolume = number;
  CZipPathParts parts(GetFilePath());
  if (number == lastVolume) {
    parts.extension = archiveExtension;
  } else {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.3d", number);
    parts.extension = digits;
  }
  size_t dots = parts.extension.find_first_not_of('.');
  parts.extension.erase(0, dots == std::string::npos ? parts.extension.size() : dots);
  std::string volumePath = parts.GetFullPath();
  archiveFile.Close();
  archiveFile.Open(volumePath, CZipAbstractFile::modeRead, true);
  fileInUse = &archiveFile;
}
