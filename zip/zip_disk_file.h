// Files of the reader: an abstract interface and the runtime-descriptor file
// behind it. Every failing call throws CZipException(errno, path).
#pragma once

#include <cstdint>
#include <string>

#include "zip/zip_system.h"

class CZipAbstractFile {
 public:
  enum OpenMode {
    modeRead = 0x01,     // read only, other writers denied
    modeCreate = 0x02,   // write only, created or truncated, other writers denied
    modeReplace = 0x04,  // with modeCreate: a read-only file is replaced, not refused
  };

  virtual bool Open(const std::string& path, int mode, bool throwOnError);
  virtual void Close() = 0;
  virtual void Flush() = 0;
  virtual uint64_t GetPosition() const = 0;
  virtual uint64_t Seek(int64_t offset, int origin) = 0;
  virtual uint64_t GetLength() const = 0;
  virtual void SetLength(uint64_t length) = 0;
  virtual uint64_t SeekToBegin();
  virtual uint64_t SeekToEnd();
  virtual std::string GetFilePath() const = 0;
  // Returns the count read: fewer than asked only at the end of the file.
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  // Writes everything or throws.
  virtual void Write(const void* buffer, uint32_t count) = 0;
  virtual bool IsClosed() const = 0;
  virtual ~CZipAbstractFile();
};

class CZipDiskFile : public CZipAbstractFile {
 public:
  CZipDiskFile() = default;
  CZipDiskFile(const CZipDiskFile&) = delete;
  CZipDiskFile& operator=(const CZipDiskFile&) = delete;
  ~CZipDiskFile() override;

  bool Open(const std::string& path, int mode, bool throwOnError) override;
  void Close() override;
  void Flush() override;
  uint64_t GetPosition() const override;
  uint64_t Seek(int64_t offset, int origin) override;
  uint64_t GetLength() const override;
  void SetLength(uint64_t length) override;
  std::string GetFilePath() const override { return path; }
  uint32_t Read(void* buffer, uint32_t count) override;
  void Write(const void* buffer, uint32_t count) override;
  bool IsClosed() const override { return fd == -1; }
  // The last-write time, last-access time (now) and attributes, set through
  // this file's own handle.
  bool SetTimeAndAttributes(int64_t time, uint32_t attributes) {
    return fd != -1 && ZipSystem::FileSetTimeAndAttributes(fd, time, attributes);
  }
  // An open file on a disk, not a device or a pipe.
  bool IsRegular() const { return fd != -1 && ZipSystem::FileIsRegular(fd); }

 private:
  [[noreturn]] void ThrowErrno() const;

  int fd = -1;
  std::string path;
};
