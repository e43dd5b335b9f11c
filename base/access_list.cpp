#include "base/access_list.h"

#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>
#include <sddl.h>

#include <vector>

#include "base/win_handles.h"

namespace qz {

namespace {

struct LocalMemory {
  void* p = nullptr;
  ~LocalMemory() { LocalFree(p); }
};

class Trusted {
 public:
  explicit Trusted(const std::string& userSid) {
    PSID sid = nullptr;
    if (!userSid.empty() && ConvertStringSidToSidA(userSid.c_str(), &sid)) user_.p = sid;
  }
  // The system, the administrators, the given user; in an access list also
  // CREATOR OWNER, which only passes rights on to what is made inside.
  bool Is(PSID sid, bool inAccessList) const {
    if (!sid || !IsValidSid(sid)) return false;
    if (user_.p && EqualSid(sid, user_.p)) return true;
    if (IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
      return true;
    return inAccessList && IsWellKnownSid(sid, WinCreatorOwnerSid);
  }

 private:
  LocalMemory user_;
};

AccessVerdict Judge(PSID owner, PACL dacl, BOOL daclPresent, DWORD rights, const Trusted& trusted) {
  if (!owner) return AccessVerdict::Unreadable;
  // No list at all: everyone may do anything.
  if (!daclPresent || !dacl) return AccessVerdict::OthersMay;
  bool ownerRightsLimited = false;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return AccessVerdict::Unreadable;
    const auto* header = static_cast<const ACE_HEADER*>(entry);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return AccessVerdict::OthersMay;
    // Entries only passed on to what is made inside do not apply here.
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    PSID sid = &allowed->SidStart;
    if (IsWellKnownSid(sid, WinCreatorOwnerRightsSid)) {
      // OWNER RIGHTS replaces what an owner may always do (rewrite the list).
      ownerRightsLimited = true;
      if ((allowed->Mask & rights) && !trusted.Is(owner, false)) return AccessVerdict::OthersMay;
      continue;
    }
    if ((allowed->Mask & rights) && !trusted.Is(sid, true)) return AccessVerdict::OthersMay;
  }
  if (!ownerRightsLimited && !trusted.Is(owner, false)) return AccessVerdict::OthersMay;
  return AccessVerdict::OnlyTrusted;
}

}  // namespace

AccessVerdict WhoMayChange(PSECURITY_DESCRIPTOR descriptor, DWORD rights, const std::string& userSid) {
  if (!descriptor) return AccessVerdict::Unreadable;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
    return AccessVerdict::Unreadable;
  }
  return Judge(owner, dacl, present, rights, Trusted(userSid));
}

AccessVerdict WhoMayChange(HANDLE object, SE_OBJECT_TYPE type, DWORD rights, const std::string& userSid) {
  LocalMemory descriptor;
  if (GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      nullptr, nullptr, &descriptor.p) != ERROR_SUCCESS) {
    return AccessVerdict::Unreadable;
  }
  return WhoMayChange(descriptor.p, rights, userSid);
}

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
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(data.data())->User.Sid, &text))
    return std::string();
  std::string sid = text;
  LocalFree(text);
  return sid;
}

bool RandomBytes(void* buffer, std::size_t size) {
  return BCryptGenRandom(nullptr, static_cast<PUCHAR>(buffer), static_cast<ULONG>(size),
                         BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

unsigned RandomBetween(unsigned low, unsigned high) {
  unsigned value = 0;
  if (high <= low || !RandomBytes(&value, sizeof value)) return low;
  return low + value % (high - low + 1);
}

std::string RandomHexName() {
  unsigned char bytes[8];
  if (!RandomBytes(bytes, sizeof bytes)) return std::string();
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

}  // namespace qz
