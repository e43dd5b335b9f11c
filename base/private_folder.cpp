#include "base/private_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "base/win_handles.h"

namespace qz {

namespace {

// The user of our own token, in its text form ("S-1-5-21-...").
std::string OwnUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return std::string();
  Handle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return std::string();
  std::vector<BYTE> data(size);
  if (!GetTokenInformation(token.get(), TokenUser, data.data(), size, &size)) return std::string();
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(data.data())->User.Sid, &text)) return std::string();
  std::string sid = text;
  LocalFree(text);
  return sid;
}

struct LocalMemory {
  void* p = nullptr;
  ~LocalMemory() { LocalFree(p); }
};

// Rights that change the folder or what it holds.
constexpr DWORD kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES |
                            FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL |
                            MAXIMUM_ALLOWED;

class Trusted {
 public:
  explicit Trusted(const std::string& userSid) {
    PSID sid = nullptr;
    if (!userSid.empty() && ConvertStringSidToSidA(userSid.c_str(), &sid)) user_.p = sid;
  }
  // The player, the system, the administrators; in an access list also the
  // stand-ins for the owner, who is one of them.
  bool Is(PSID sid, bool inAccessList) const {
    if (!sid || !IsValidSid(sid)) return false;
    if (user_.p && EqualSid(sid, user_.p)) return true;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) return true;
    return inAccessList && (IsWellKnownSid(sid, WinCreatorOwnerSid) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid));
  }

 private:
  LocalMemory user_;
};

FolderVerdict Check(const std::string& folder, const Trusted& trusted) {
  // The name itself, never what a link there points to.
  FileHandle dir(CreateFileA(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!dir) return FolderVerdict::Unreadable;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(dir.get(), &info)) return FolderVerdict::Unreadable;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return FolderVerdict::NotAFolder;
  }
  PSID owner = nullptr;
  PACL dacl = nullptr;
  LocalMemory descriptor;
  if (GetSecurityInfo(dir.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, &descriptor.p) != ERROR_SUCCESS) {
    return FolderVerdict::Unreadable;
  }
  if (!trusted.Is(owner, false)) return FolderVerdict::OtherOwner;
  if (!dacl) return FolderVerdict::OthersMayWrite;  // no list: everyone may do anything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return FolderVerdict::Unreadable;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    // An allowing kind this check does not read counts against the folder.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return FolderVerdict::OthersMayWrite;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    if ((allowed->Mask & kChanging) && !trusted.Is(&allowed->SidStart, true)) return FolderVerdict::OthersMayWrite;
  }
  return FolderVerdict::Private;
}

}  // namespace

FolderVerdict MakePrivateFolder(const std::string& folder) {
  const std::string user = OwnUserSid();
  if (user.empty()) return FolderVerdict::Unreadable;
  // Full control for the user, SYSTEM and the administrators, passed on to
  // everything inside; nothing inherited from the folder above (P).
  const std::string sddl = "D:P(A;OICI;FA;;;" + user + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  LocalMemory descriptor;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor.p, nullptr)) {
    return FolderVerdict::NotMade;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.p, FALSE};
  if (!CreateDirectoryA(folder.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return FolderVerdict::NotMade;
  }
  return Check(folder, Trusted(user));
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
