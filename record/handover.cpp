#include "record/handover.h"

#include <vector>

#include "base/win_handles.h"

namespace qz {

void HoldFor(DWORD delayMs) {
  Handle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (event) {
    WaitForSingleObject(event.get(), delayMs);
  } else {
    // Without an event the receiver still needs its time.
    Sleep(delayMs);
  }
}

namespace {

// Tries at a fresh name before a hand-over gives up. Each waits for the tick
// count to change, so even a coarse tick allows about a second.
constexpr int kNameTries = 64;

// A security descriptor whose only entry grants the current user full
// access: no other account can open the section, whatever its name.
class OwnerOnlySecurity {
 public:
  OwnerOnlySecurity() {
    Handle token;
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return;
    token.reset(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return;
    user_.resize(size);
    if (!GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) return;
    PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid) ||
        !InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorOwner(&descriptor_, sid, FALSE)) {
      return;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ok_ = true;
  }
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;
  // Null when it could not be built: the caller must then create nothing.
  SECURITY_ATTRIBUTES* get() { return ok_ ? &attributes_ : nullptr; }

 private:
  std::vector<BYTE> user_;  // 8-byte alignment of TOKEN_USER comes from the allocator
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ok_ = false;
};

// A new section of our own under a name nobody held before us. An object
// already there (of any type) may belong to another process that could read
// or rewrite the record, so its name is given up for the next tick's.
Handle CreateOwnSection(SectionForm form, std::string& name) {
  OwnerOnlySecurity security;
  if (!security.get()) return Handle();
  DWORD last = 0;
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    DWORD t1 = GetTickCount();
    while (attempt > 0 && t1 == last) {
      Sleep(1);
      t1 = GetTickCount();
    }
    last = t1;
    name = SectionName(form, t1, GetTickCount());
    Handle section(CreateFileMappingA(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0,
                                      static_cast<DWORD>(sizeof(LaunchBlock)), name.c_str()));
    const DWORD error = GetLastError();
    if (section && error != ERROR_ALREADY_EXISTS) return section;
    // Another object holds the name: a section (opened, so closed again here),
    // an object of another type, or one we may not open.
    if (!section && error != ERROR_INVALID_HANDLE && error != ERROR_ACCESS_DENIED) return Handle();
  }
  return Handle();
}

}  // namespace

bool HandOverBlock(const LaunchBlock& block, const std::string& exePath, const char* workDir,
                   SectionForm form, DWORD delayMs) {
  std::string name;
  Handle section = CreateOwnSection(form, name);
  if (!section) return false;
  MappedView view(MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (!view) return false;
  std::memcpy(view.get(), &block, sizeof(LaunchBlock));

  std::string commandLine = QuotedCommandLine(exePath, name);
  if (commandLine.empty()) return false;

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The receiver needs none of our handles; the section travels by its name.
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, workDir,
                      &startup, &process)) {
    return false;
  }
  // The receiver is not waited for; only the section must outlive its start.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  HoldFor(delayMs);
  return true;
}

bool TakeOverBlock(const char* sectionName, LaunchBlock* out) {
  Handle section(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, sectionName));
  if (!section) return false;
  MappedView view(MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return false;
  // A foreign section of the same name may be smaller than the record.
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view.get(), &info, sizeof info) == 0 || info.RegionSize < sizeof(LaunchBlock)) {
    return false;
  }
  std::memcpy(out, view.get(), sizeof(LaunchBlock));
  return true;
}

}  // namespace qz
