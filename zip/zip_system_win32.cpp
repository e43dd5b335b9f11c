// ZipSystem on Windows: ANSI calls, runtime-library descriptors with share modes.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>

#include "base/guarded_write.h"
#include "base/win_handles.h"
#include "zip/zip_path_parts.h"
#include "zip/zip_system.h"

namespace ZipSystem {
namespace {

FILETIME ToFileTime(int64_t seconds) {
  // FILETIME counts 100 ns steps from 1601; the offset to 1970 is 11644473600 s.
  ULARGE_INTEGER value;
  value.QuadPart = static_cast<ULONGLONG>(seconds + 11644473600LL) * 10000000ULL;
  FILETIME ft;
  ft.dwLowDateTime = value.LowPart;
  ft.dwHighDateTime = value.HighPart;
  return ft;
}

// The runtime library's errno for a system error, as its own opens set it.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_ACCESS_DENIED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_LOCK_FAILED: return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_NOT_ENOUGH_QUOTA: return ENOMEM;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL: return ENOSPC;
    default:
      // Write protection, sharing and lock violations and their kin.
      return error >= ERROR_WRITE_PROTECT && error <= ERROR_SHARING_BUFFER_EXCEEDED ? EACCES : EINVAL;
  }
}

// Attributes and times through an open handle. Zero fields stay as they are,
// so "no attributes" is sent as FILE_ATTRIBUTE_NORMAL, as SetFileAttributes
// does; bits a file cannot carry are dropped, as it drops them too.
bool SetBasicInfo(HANDLE file, const FILETIME* access, const FILETIME* written, DWORD attributes) {
  FILE_BASIC_INFO info{};
  if (access) info.LastAccessTime.QuadPart = (LONGLONG(access->dwHighDateTime) << 32) | access->dwLowDateTime;
  if (written)
    info.LastWriteTime.QuadPart = (LONGLONG(written->dwHighDateTime) << 32) | written->dwLowDateTime;
  const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                         FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  info.FileAttributes = (attributes & settable) | FILE_ATTRIBUTE_NORMAL;
  if (info.FileAttributes != FILE_ATTRIBUTE_NORMAL) info.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_NORMAL);
  return SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info) != FALSE;
}

// Opens the target of an extraction for writing with a single open: created
// when missing, emptied when present. Windows refuses to open a read-only
// file for writing; Wine run by an administrator account (root) would not,
// so the attribute is checked through the handle as well.
// Under an administrator's change's guard a read-only file loses its
// attribute through a handle that was checked to be the file its path names.
bool ClearReadOnlyGuarded(const std::string& path) {
  CountPathCall();
  qz::FileHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  return file && qz::OpenedAsNamed(file.get(), path, true) && GetFileInformationByHandle(file.get(), &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
         SetBasicInfo(file.get(), nullptr, nullptr, info.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
}

HANDLE OpenForWriting(const std::string& path, FileMode mode) {
  const bool guarded = qz::WritesGuarded();
  const auto open = [&] {
    CountPathCall();
    // Under the guard a file that turns out to lie elsewhere is removed again.
    return CreateFileA(path.c_str(), GENERIC_WRITE | (guarded ? DELETE : 0), FILE_SHARE_READ, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE h = open();
  DWORD error = GetLastError();
  if (h == INVALID_HANDLE_VALUE && error == ERROR_ACCESS_DENIED && mode == FileMode::WriteReplace) {
    uint32_t attributes = 0;
    const bool cleared = guarded ? ClearReadOnlyGuarded(path)
                                 : ReadAttributes(path, attributes) && !(attributes & attrDirectory) &&
                                       (attributes & attrReadOnly) &&
                                       WriteAttributes(path, attributes & ~uint32_t(attrReadOnly));
    if (cleared) {
      h = open();
      error = GetLastError();
    }
  }
  if (h == INVALID_HANDLE_VALUE) {
    errno = ErrnoOf(error);
    return h;
  }
  qz::FileHandle file(h);
  if (!qz::OpenedAsNamed(h, path, true)) {
    if (error != ERROR_ALREADY_EXISTS) {
      FILE_DISPOSITION_INFO disposition{TRUE};
      SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
    }
    errno = EACCES;
    return INVALID_HANDLE_VALUE;
  }
  if (error == ERROR_ALREADY_EXISTS && GetFileType(h) == FILE_TYPE_DISK) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) {
      errno = EACCES;
      return INVALID_HANDLE_VALUE;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
      if (mode != FileMode::WriteReplace ||
          !SetBasicInfo(h, nullptr, nullptr, info.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY))) {
        errno = EACCES;
        return INVALID_HANDLE_VALUE;
      }
    }
    if (!SetEndOfFile(h)) {
      errno = ErrnoOf(GetLastError());
      return INVALID_HANDLE_VALUE;
    }
  }
  return file.release();
}

}  // namespace

bool IsLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != FALSE; }

void ConvertOemName(char* name, uint32_t length) {
  if (length != 0) OemToCharBuffA(name, name, length);
}

NameConversion ConvertUtf8Name(const char* utf8, uint32_t length, std::string& ansi) {
  ansi.clear();
  if (length == 0) return NameConversion::Converted;
  if (length > INT_MAX / 2) return NameConversion::Invalid;
  const int n = static_cast<int>(length);
  // Invalid sequences are refused, not replaced.
  const int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, n, nullptr, 0);
  if (wideLength <= 0) return NameConversion::Invalid;
  std::wstring wide(static_cast<size_t>(wideLength), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, n, &wide[0], wideLength) != wideLength)
    return NameConversion::Invalid;
  // A system whose ANSI code page is UTF-8 takes the name as it is (the
  // default-character check does not exist for that code page).
  if (GetACP() == CP_UTF8) {
    ansi.assign(utf8, length);
    return NameConversion::Converted;
  }
  // No best fit: a character without its own form in the code page takes
  // the default character, and that refuses the name.
  BOOL usedDefault = FALSE;
  const int ansiLength = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, nullptr,
                                             0, nullptr, &usedDefault);
  if (ansiLength <= 0 || usedDefault) return NameConversion::NotInCodePage;
  ansi.assign(static_cast<size_t>(ansiLength), '\0');
  usedDefault = FALSE;
  if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, &ansi[0], ansiLength,
                          nullptr, &usedDefault) != ansiLength ||
      usedDefault) {
    ansi.clear();
    return NameConversion::NotInCodePage;
  }
  // And back: only a name that reads as itself again is that name here.
  std::wstring back(wide.size(), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), ansiLength, &back[0], wideLength) !=
          wideLength ||
      back != wide) {
    ansi.clear();
    return NameConversion::NotInCodePage;
  }
  return NameConversion::Converted;
}

bool ReadAttributes(const std::string& path, uint32_t& attributes) {
  CountPathCall();
  DWORD value = GetFileAttributesA(path.c_str());
  if (value == INVALID_FILE_ATTRIBUTES) return false;
  attributes = value;
  return true;
}

bool WriteAttributes(const std::string& path, uint32_t attributes) {
  CountPathCall();
  return SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

bool SetModifiedTime(const std::string& path, int64_t time) {
  CountPathCall();
  qz::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  FILETIME written = time == -1 ? now : ToFileTime(time);
  return SetFileTime(file.get(), nullptr, &now, &written) != FALSE;
}

int PathKind(const std::string& path) {
  CountPathCall();
  DWORD value = GetFileAttributesA(path.c_str());
  if (value == INVALID_FILE_ATTRIBUTES) return 0;
  return (value & FILE_ATTRIBUTE_DIRECTORY) ? -1 : 1;
}

bool IsRemovableDrive(const std::string& path) {
  std::string drive = CZipPathParts(path).drive;
  UINT type = drive.empty() ? GetDriveTypeA(nullptr) : GetDriveTypeA((drive + "\\").c_str());
  return type == DRIVE_REMOVABLE;
}

bool MakeFolder(const std::string& folder) {
  CountPathCall();
  if (qz::MakeFolderAsNamed(folder)) return true;
  errno = ErrnoOf(GetLastError());
  return false;
}

int FileOpen(const std::string& path, FileMode mode) {
  if (mode == FileMode::ReadShared) {
    CountPathCall();
    return _sopen(path.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYWR);
  }
  qz::FileHandle file(OpenForWriting(path, mode));
  if (!file) return -1;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_WRONLY | _O_BINARY);
  if (fd == -1) {
    errno = EMFILE;
    return -1;
  }
  file.release();  // the descriptor owns it now
  return fd;
}

bool FileSetTimeAndAttributes(int fd, int64_t time, uint32_t attributes) {
  const intptr_t handle = _get_osfhandle(fd);
  if (handle == -1) return false;
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const FILETIME written = time == -1 ? now : ToFileTime(time);
  return SetBasicInfo(reinterpret_cast<HANDLE>(handle), &now, &written, attributes);
}

int FileClose(int fd) { return _close(fd); }

long FileRead(int fd, void* buffer, uint32_t count) { return _read(fd, buffer, count); }

long FileWrite(int fd, const void* buffer, uint32_t count) { return _write(fd, buffer, count); }

int64_t FileSeek(int fd, int64_t offset, int origin) { return _lseeki64(fd, offset, origin); }

bool FileIsRegular(int fd) {
  const intptr_t handle = _get_osfhandle(fd);
  return handle != -1 && GetFileType(reinterpret_cast<HANDLE>(handle)) == FILE_TYPE_DISK;
}

struct Monitor::Impl {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
};
Monitor::Monitor() : impl(new Impl) {}
Monitor::~Monitor() = default;
void Monitor::Lock() { AcquireSRWLockExclusive(&impl->lock); }
void Monitor::Unlock() { ReleaseSRWLockExclusive(&impl->lock); }
void Monitor::Wait() { SleepConditionVariableSRW(&impl->changed, &impl->lock, INFINITE, 0); }
void Monitor::WakeAll() { WakeAllConditionVariable(&impl->changed); }

bool RemoveFile(const std::string& path) {
  CountPathCall();
  return qz::DeleteThroughHandle(path, false);
}

}  // namespace ZipSystem
