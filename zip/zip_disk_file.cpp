#include "zip/zip_disk_file.h"

#include <cerrno>
#include <cstdio>

#include "zip/zip_exception.h"
#include "zip/zip_system.h"

bool CZipAbstractFile::Open(const std::string&, int, bool) { return true; }
uint64_t CZipAbstractFile::SeekToBegin() { return Seek(0, SEEK_SET); }
uint64_t CZipAbstractFile::SeekToEnd() { return Seek(0, SEEK_END); }
CZipAbstractFile::~CZipAbstractFile() = default;

CZipDiskFile::~CZipDiskFile() {
  if (fd != -1) ZipSystem::FileClose(fd);
}

void CZipDiskFile::ThrowErrno() const {
  // A failure that left errno unset still has to read as a file error.
  CZipException::Throw(errno != 0 ? errno : EIO, path);
}

bool CZipDiskFile::Open(const std::string& newPath, int mode, bool throwOnError) {
  if (fd != -1) Close();
  path = newPath;
  errno = 0;
  fd = ZipSystem::FileOpen(path, !(mode & modeCreate)   ? ZipSystem::FileMode::ReadShared
                                 : (mode & modeReplace) ? ZipSystem::FileMode::WriteReplace
                                                        : ZipSystem::FileMode::WriteCreate);
  if (fd == -1) {
    if (throwOnError) ThrowErrno();
    return false;
  }
  return true;
}

void CZipDiskFile::Close() {
  if (fd == -1) return;
  int old = fd;
  fd = -1;
  errno = 0;
  if (ZipSystem::FileClose(old) != 0) ThrowErrno();
}

void CZipDiskFile::Flush() {}

uint64_t CZipDiskFile::GetPosition() const {
  errno = 0;
  int64_t pos = ZipSystem::FileSeek(fd, 0, SEEK_CUR);
  if (pos < 0) ThrowErrno();
  return static_cast<uint64_t>(pos);
}

uint64_t CZipDiskFile::Seek(int64_t offset, int origin) {
  errno = 0;
  int64_t pos = ZipSystem::FileSeek(fd, offset, origin);
  if (pos < 0) ThrowErrno();
  return static_cast<uint64_t>(pos);
}

uint64_t CZipDiskFile::GetLength() const {
  uint64_t here = GetPosition();
  errno = 0;
  int64_t end = ZipSystem::FileSeek(fd, 0, SEEK_END);
  if (end < 0 || ZipSystem::FileSeek(fd, static_cast<int64_t>(here), SEEK_SET) < 0) ThrowErrno();
  return static_cast<uint64_t>(end);
}

void CZipDiskFile::SetLength(uint64_t) {
  // The reader never changes a file's length.
  CZipException::Throw(EINVAL, path);
}

uint32_t CZipDiskFile::Read(void* buffer, uint32_t count) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    errno = 0;
    long n = ZipSystem::FileRead(fd, out + done, count - done);
    if (n < 0) ThrowErrno();
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

void CZipDiskFile::Write(const void* buffer, uint32_t count) {
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    errno = 0;
    long n = ZipSystem::FileWrite(fd, in + done, count - done);
    if (n <= 0) {
      if (errno == 0) errno = ENOSPC;
      ThrowErrno();
    }
    done += static_cast<uint32_t>(n);
  }
}
