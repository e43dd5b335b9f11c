// ZipSystem on POSIX: the native test bed of the reader. It behaves as a
// code page 932 system whose OEM and ANSI pages agree, maps "\" separators to
// "/", and emulates Windows attributes with permission bits.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "zip/zip_path_parts.h"
#include "zip/zip_system.h"

namespace ZipSystem {
namespace {

std::string NativePath(const std::string& path) {
  std::string native = path;
  for (size_t i = 0; i < native.size(); ++i) {
    if (IsLeadByte(static_cast<uint8_t>(native[i])) && i + 1 < native.size())
      ++i;
    else if (native[i] == '\\')
      native[i] = '/';
  }
  return native;
}

}  // namespace

bool IsLeadByte(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

void ConvertOemName(char*, uint32_t) {}

namespace {

// All of `in` through iconv; false when a character has no form there.
bool Iconv(const char* to, const char* from, const std::string& in, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = &out[0];
  size_t dstLeft = out.size();
  const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) &&
                  iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return ok;
}

}  // namespace

NameConversion ConvertUtf8Name(const char* utf8, uint32_t length, std::string& ansi) {
  const std::string in(utf8, length);
  std::string wide;
  if (!Iconv("UTF-32LE", "UTF-8", in, wide)) return NameConversion::Invalid;
  // Only a character that comes back as itself has an exact form in code
  // page 932: the converter also takes some look-alikes.
  std::string back;
  if (!Iconv("CP932", "UTF-8", in, ansi) || !Iconv("UTF-8", "CP932", ansi, back) || back != in)
    return NameConversion::NotInCodePage;
  return NameConversion::Converted;
}

bool ReadAttributes(const std::string& path, uint32_t& attributes) {
  CountPathCall();
  struct stat st;
  if (stat(NativePath(path).c_str(), &st) != 0) return false;
  attributes = S_ISDIR(st.st_mode) ? attrDirectory : attrArchive;
  if (!(st.st_mode & S_IWUSR)) attributes |= attrReadOnly;
  return true;
}

bool WriteAttributes(const std::string& path, uint32_t attributes) {
  CountPathCall();
  std::string native = NativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return false;
  // Windows ignores the read-only attribute of folders for their contents.
  if (S_ISDIR(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & attrReadOnly) ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
  return chmod(native.c_str(), mode) == 0;
}

bool SetModifiedTime(const std::string& path, int64_t time) {
  CountPathCall();
  int fd = open(NativePath(path).c_str(), O_RDWR | O_CLOEXEC);
  if (fd == -1) return false;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;
  times[1].tv_sec = static_cast<time_t>(time);
  times[1].tv_nsec = time == -1 ? UTIME_NOW : 0;
  bool ok = futimens(fd, times) == 0;
  return close(fd) == 0 && ok;
}

int PathKind(const std::string& path) {
  CountPathCall();
  struct stat st;
  if (stat(NativePath(path).c_str(), &st) != 0) return 0;
  return S_ISDIR(st.st_mode) ? -1 : 1;
}

bool IsRemovableDrive(const std::string& path) {
  // POSIX paths have no drives; "A:" and "B:" stand for the removable ones.
  std::string drive = CZipPathParts(path).drive;
  return drive == "A:" || drive == "a:" || drive == "B:" || drive == "b:";
}

bool MakeFolder(const std::string& folder) {
  CountPathCall();
  return mkdir(NativePath(folder).c_str(), 0777) == 0;
}

int FileOpen(const std::string& path, FileMode mode) {
  std::string native = NativePath(path);
  CountPathCall();
  if (mode == FileMode::ReadShared) return open(native.c_str(), O_RDONLY | O_CLOEXEC);
  // One open: created when missing, emptied only once it is known not to be
  // read-only, which refuses writers even to an administrator, as on Windows.
  int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd == -1 && errno == EACCES && mode == FileMode::WriteReplace) {
    uint32_t attributes = 0;
    if (ReadAttributes(path, attributes) && (attributes & attrReadOnly) &&
        WriteAttributes(path, attributes & ~uint32_t(attrReadOnly))) {
      CountPathCall();
      fd = open(native.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    }
  }
  if (fd == -1) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) return fd;
  if (!(st.st_mode & S_IWUSR)) {
    if (mode != FileMode::WriteReplace || fchmod(fd, (st.st_mode & 07777) | S_IWUSR) != 0) {
      close(fd);
      errno = EACCES;
      return -1;
    }
  }
  if (st.st_size != 0 && ftruncate(fd, 0) != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

bool FileSetTimeAndAttributes(int fd, int64_t time, uint32_t attributes) {
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_NOW;
  times[1].tv_sec = static_cast<time_t>(time);
  times[1].tv_nsec = time == -1 ? UTIME_NOW : 0;
  struct stat st;
  if (futimens(fd, times) != 0 || fstat(fd, &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & attrReadOnly) ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
  return fchmod(fd, mode) == 0;
}

int FileClose(int fd) { return close(fd); }

long FileRead(int fd, void* buffer, uint32_t count) { return static_cast<long>(read(fd, buffer, count)); }

long FileWrite(int fd, const void* buffer, uint32_t count) {
  return static_cast<long>(write(fd, buffer, count));
}

bool FileIsRegular(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

struct Monitor::Impl {
  std::mutex lock;
  std::condition_variable changed;
};
Monitor::Monitor() : impl(new Impl) {}
Monitor::~Monitor() = default;
void Monitor::Lock() { impl->lock.lock(); }
void Monitor::Unlock() { impl->lock.unlock(); }
void Monitor::Wait() {
  std::unique_lock<std::mutex> held(impl->lock, std::adopt_lock);
  impl->changed.wait(held);
  held.release();  // still held, by the caller
}
void Monitor::WakeAll() { impl->changed.notify_all(); }

bool RemoveFile(const std::string& path) {
  CountPathCall();
  return unlink(NativePath(path).c_str()) == 0;
}

int64_t FileSeek(int fd, int64_t offset, int origin) {
  return static_cast<int64_t>(lseek(fd, static_cast<off_t>(offset), origin));
}

}  // namespace ZipSystem
