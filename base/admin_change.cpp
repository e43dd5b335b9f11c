#include "base/admin_change.h"

#include <sddl.h>

#include "base/access_list.h"
#include "format/limits.h"

namespace qz {

namespace {

constexpr char kChangeMutex[] = "Quorlynx.change";

struct LocalDescriptor {
  PSECURITY_DESCRIPTOR p = nullptr;
  explicit LocalDescriptor(const char* sddl) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &p, nullptr))
      p = nullptr;
  }
  ~LocalDescriptor() { LocalFree(p); }
  LocalDescriptor(const LocalDescriptor&) = delete;
  LocalDescriptor& operator=(const LocalDescriptor&) = delete;
};

}  // namespace

std::string SystemWindowsFolder() {
  char windows[MAX_PATH] = {};
  const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string folder = windows;
  if (folder.back() != '\\') folder += '\\';
  return folder;
}

ChangeLock::ChangeLock() {
  LocalDescriptor descriptor("D:P(A;;GA;;;SY)(A;;GA;;;BA)");
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.p, FALSE};
  mutex_.reset(CreateMutexA(descriptor.p ? &attributes : nullptr, TRUE, kChangeMutex));
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (!mutex_ || !existed) return;
  if (WhoMayChange(mutex_.get(), SE_KERNEL_OBJECT, kChangingRights) == AccessVerdict::OnlyTrusted) {
    busy_ = true;
  } else {
    foreign_ = true;
  }
  mutex_.reset();
}

AdminWorkFolder::AdminWorkFolder() {
  const std::string windows = SystemWindowsFolder();
  LocalDescriptor descriptor("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
  if (windows.empty() || !descriptor.p) return;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.p, FALSE};
  std::string dir;
  // Random names: any user may make folders in the system's temporary folder,
  // and one made by someone else is never used.
  for (int attempt = 1; attempt <= 8 && dir.empty(); ++attempt) {
    const std::string name = RandomHexName();
    if (name.empty()) break;
    const std::string candidate = windows + "Temp\\Quorlynx-" + name + "\\";
    if (CreateDirectoryA(candidate.c_str(), &attributes)) {
      dir = candidate;
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
      break;
    }
  }
  if (dir.empty()) return;
  hold_.reset(CreateFileA(dir.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!hold_ || dir.size() >= kPathField) {
    hold_.reset();
    RemoveDirectoryA(dir.c_str());
    return;
  }
  path_ = dir;
}

AdminWorkFolder::~AdminWorkFolder() {
  if (!hold_) return;
  WIN32_FIND_DATAA found{};
  FindHandle search(FindFirstFileA((path_ + "*").c_str(), &found));
  if (search) {
    do {
      // Only the files saved there; nothing below the folder is followed.
      if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        const std::string path = path_ + found.cFileName;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
      }
    } while (FindNextFileA(search.get(), &found));
  }
  search.reset();
  hold_.reset();
  RemoveDirectoryA(path_.c_str());
}

}  // namespace qz
