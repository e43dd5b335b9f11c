#include "base/guarded_write.h"

#include <atomic>
#include <vector>

#include "base/win_handles.h"

namespace qz {

namespace {

std::atomic<bool> guarded{false};

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

void DropFinalSeparator(std::wstring& path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
}

// The path as the file system spells it, with long names; "" when it cannot.
std::wstring LongPathOf(const std::string& path) {
  const std::wstring wide = Wide(path);
  std::vector<wchar_t> full(32768);
  const DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n == 0 || n >= full.size()) return std::wstring();
  std::vector<wchar_t> spelled(32768);
  const DWORD m = GetLongPathNameW(full.data(), spelled.data(), static_cast<DWORD>(spelled.size()));
  std::wstring out =
      m > 0 && m < spelled.size() ? std::wstring(spelled.data(), m) : std::wstring(full.data(), n);
  DropFinalSeparator(out);
  return out;
}

// Where the handle really is, links resolved; "" when it cannot be told.
std::wstring FinalPathOf(HANDLE handle) {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= buffer.size()) return std::wstring();
  std::wstring path(buffer.data(), n);
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    path = L"\\\\" + path.substr(8);
  } else if (path.compare(0, 4, L"\\\\?\\") == 0) {
    path = path.substr(4);
  }
  DropFinalSeparator(path);
  return path;
}

}  // namespace

void GuardWrites() { guarded = true; }

bool WritesGuarded() { return guarded; }

bool OpenedAsNamed(HANDLE handle, const std::string& path, bool written) {
  if (!guarded) return true;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  if (written && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1) return false;
  const std::wstring real = FinalPathOf(handle);
  const std::wstring named = LongPathOf(path);
  if (real.empty() || named.empty()) return false;
  return CompareStringOrdinal(real.c_str(), static_cast<int>(real.size()), named.c_str(),
                              static_cast<int>(named.size()), TRUE) == CSTR_EQUAL;
}

bool DeleteThroughHandle(const std::string& path, bool folder) {
  FileHandle target(
      CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr));
  if (!target) return false;
  if (!OpenedAsNamed(target.get(), path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(target.get(), &info)) return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = (info.dwFileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_NORMAL;
    if (basic.FileAttributes != FILE_ATTRIBUTE_NORMAL) basic.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_NORMAL);
    if (!SetFileInformationByHandle(target.get(), FileBasicInfo, &basic, sizeof basic)) return false;
  }
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(target.get(), FileDispositionInfo, &disposition, sizeof disposition) !=
         FALSE;
}

namespace {

void RemoveOpened(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace

bool MakeFolderAsNamed(const std::string& folder) {
  if (!CreateDirectoryA(folder.c_str(), nullptr)) return false;
  if (!guarded) return true;
  FileHandle made(CreateFileA(folder.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (made && OpenedAsNamed(made.get(), folder)) return true;
  if (made) RemoveOpened(made.get());
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

HANDLE CreateNewAsNamed(const std::string& path, DWORD access) {
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (!(guarded ? DeleteThroughHandle(path, false) : DeleteFileA(path.c_str()) != FALSE)) {
      return INVALID_HANDLE_VALUE;
    }
  }
  // CREATE_NEW never opens what stands at the name (a link planted since
  // included): it fails instead.
  HANDLE h =
      CreateFileA(path.c_str(), access | DELETE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE || OpenedAsNamed(h, path, true)) return h;
  RemoveOpened(h);
  CloseHandle(h);
  SetLastError(ERROR_ACCESS_DENIED);
  return INVALID_HANDLE_VALUE;
}

}  // namespace qz
