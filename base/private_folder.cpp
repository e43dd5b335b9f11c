#include "base/private_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "base/access_list.h"
#include "base/win_handles.h"

namespace qz {

namespace {

struct LocalMemory {
  void* p = nullptr;
  ~LocalMemory() { LocalFree(p); }
};

bool OwnedByTrusted(PSID owner, const std::string& userSid) {
  if (!owner || !IsValidSid(owner)) return false;
  if (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
    return true;
  PSID user = nullptr;
  if (userSid.empty() || !ConvertStringSidToSidA(userSid.c_str(), &user)) return false;
  const bool same = EqualSid(owner, user) != FALSE;
  LocalFree(user);
  return same;
}

FolderVerdict Check(const std::string& folder, const std::string& userSid) {
  // The name itself, never what a link there points to.
  FileHandle dir(CreateFileA(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!dir) return FolderVerdict::Unreadable;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(dir.get(), &info)) return FolderVerdict::Unreadable;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return FolderVerdict::NotAFolder;
  }
  PSID owner = nullptr;
  LocalMemory descriptor;
  if (GetSecurityInfo(dir.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, nullptr, nullptr, &descriptor.p) != ERROR_SUCCESS) {
    return FolderVerdict::Unreadable;
  }
  if (!OwnedByTrusted(owner, userSid)) return FolderVerdict::OtherOwner;
  switch (WhoMayChange(descriptor.p, kChangingRights, userSid)) {
    case AccessVerdict::OnlyTrusted: return FolderVerdict::Private;
    case AccessVerdict::OthersMay: return FolderVerdict::OthersMayWrite;
    case AccessVerdict::Unreadable: break;
  }
  return FolderVerdict::Unreadable;
}

}  // namespace

FolderVerdict MakePrivateFolder(const std::string& folder) {
  const std::string user = OwnUserSid();
  if (user.empty()) return FolderVerdict::Unreadable;
  // Full control for the user, SYSTEM and the administrators, passed on to
  // everything inside; nothing inherited from the folder above (P).
  const std::string sddl = "D:P(A;OICI;FA;;;" + user + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  LocalMemory descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor.p,
                                                            nullptr)) {
    return FolderVerdict::NotMade;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.p, FALSE};
  if (!CreateDirectoryA(folder.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return FolderVerdict::NotMade;
  }
  return Check(folder, user);
}

FolderVerdict CheckPrivateFolder(const std::string& folder) {
  const std::string user = OwnUserSid();
  return user.empty() ? FolderVerdict::Unreadable : Check(folder, user);
}

std::string SealedFolderSddl(const std::string& userSid) {
  // Read and run (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE) for the player and
  // for whoever owns it; OWNER RIGHTS takes away the owner's right to rewrite
  // the list. Nothing inherited from the work folder (P).
  return "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;OW)(A;OICI;0x1200a9;;;" + userSid + ")";
}

bool SealFolder(HANDLE folder, const std::string& path, const std::string& onlyFile, std::string& why) {
  const std::string user = OwnUserSid();
  if (user.empty()) {
    why = "this account cannot be told";
    return false;
  }
  const std::string sddl = SealedFolderSddl(user);
  LocalMemory descriptor;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor.p,
                                                            nullptr) ||
      !GetSecurityDescriptorDacl(descriptor.p, &present, &dacl, &defaulted)) {
    why = "the sealed access list could not be made";
    return false;
  }
  const DWORD set =
      SetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                      nullptr, nullptr, dacl, nullptr);
  if (set != ERROR_SUCCESS) {
    why = "its access list could not be set (error " + std::to_string(set) + ")";
    return false;
  }
  // What got in before the seal stays visible: anything but the program refuses the run.
  WIN32_FIND_DATAA found{};
  FindHandle search(FindFirstFileA((path + "*").c_str(), &found));
  if (!search) {
    why = "it cannot be listed";
    return false;
  }
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (name != onlyFile ||
        (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      why = "it holds " + name + " beside the program";
      return false;
    }
  } while (FindNextFileA(search.get(), &found));
  return true;
}

const char* FolderVerdictText(FolderVerdict verdict) {
  switch (verdict) {
    case FolderVerdict::Private: return "the player's own";
    case FolderVerdict::NotMade: return "could not be made";
    case FolderVerdict::Unreadable: return "its owner or access cannot be read";
    case FolderVerdict::NotAFolder: return "not a folder, or a link";
    case FolderVerdict::OtherOwner: return "owned by another account";
    case FolderVerdict::OthersMayWrite: return "another account may change it";
  }
  return "?";
}

}  // namespace qz
