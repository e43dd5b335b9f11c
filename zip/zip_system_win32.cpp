// ZipSystem on Windows: ANSI calls, runtime-library descriptors with share modes.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

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

}  // namespace

bool IsLeadByte(uint8_t byte) { return IsDBCSLeadByte(byte) != FALSE; }

void ConvertOemName(char* name, uint32_t length) {
    if (length != 0) OemToCharBuffA(name, name, length);
}

bool ReadAttributes(const std::string& path, uint32_t& attributes) {
    DWORD value = GetFileAttributesA(path.c_str());
    if (value == INVALID_FILE_ATTRIBUTES) return false;
    attributes = value;
    return true;
}

bool WriteAttributes(const std::string& path, uint32_t attributes) {
    return SetFileAttributesA(path.c_str(), attributes) != FALSE;
}

bool SetModifiedTime(const std::string& path, int32_t time) {
    qz::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    FILETIME written = time == -1 ? now : ToFileTime(time);
    return SetFileTime(file.get(), nullptr, &now, &written) != FALSE;
}

int PathKind(const std::string& path) {
    DWORD value = GetFileAttributesA(path.c_str());
    if (value == INVALID_FILE_ATTRIBUTES) return 0;
    return (value & FILE_ATTRIBUTE_DIRECTORY) ? -1 : 1;
}

bool IsRemovableDrive(const std::string& path) {
    std::string drive = CZipPathParts(path).drive;
    UINT type = drive.empty() ? GetDriveTypeA(nullptr) : GetDriveTypeA((drive + "\\").c_str());
    return type == DRIVE_REMOVABLE;
}

bool MakeFolder(const std::string& folder) { return CreateDirectoryA(folder.c_str(), nullptr) != FALSE; }

int FileOpen(const std::string& path, FileMode mode) {
    if (mode == FileMode::ReadShared) return _sopen(path.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYWR);
    // Windows refuses to replace a read-only file; Wine run by an administrator
    // account (root) would truncate it, so the rule is kept here as well.
    const DWORD existing = GetFileAttributesA(path.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) &&
        !(existing & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EACCES;
        return -1;
    }
    return _sopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _SH_DENYWR,
                  _S_IREAD | _S_IWRITE);
}

int FileClose(int fd) { return _close(fd); }

long FileRead(int fd, void* buffer, uint32_t count) { return _read(fd, buffer, count); }

long FileWrite(int fd, const void* buffer, uint32_t count) { return _write(fd, buffer, count); }

int64_t FileSeek(int fd, int64_t offset, int origin) { return _lseeki64(fd, offset, origin); }

bool FileIsRegular(int fd) {
    const intptr_t handle = _get_osfhandle(fd);
    return handle != -1 && GetFileType(reinterpret_cast<HANDLE>(handle)) == FILE_TYPE_DISK;
}

bool RemoveFile(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != FALSE;
}

}  // namespace ZipSystem
