#include "record/handover.h"

#include <vector>

#include "base/access_list.h"
#include "base/shell_start.h"
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

// The access a section's descriptor grants (see SectionAccess). Its label is
// this process's integrity level with no read, write or execute up, so a
// process of the same account at a lower level (a page's content in a
// protected browser) cannot read the record either.
class SectionSecurity {
 public:
  explicit SectionSecurity(SectionAccess access) {
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
    size = 0;
    GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
    if (size == 0) return;
    level_.resize(size);
    if (!GetTokenInformation(token.get(), TokenIntegrityLevel, level_.data(), size, &size)) return;
    PSID label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(level_.data())->Label.Sid;
    if (!label || !IsValidSid(label)) return;
    sacl_.resize(sizeof(ACL) + sizeof(SYSTEM_MANDATORY_LABEL_ACE) + GetLengthSid(label));
    auto* sacl = reinterpret_cast<ACL*>(sacl_.data());
    if (!InitializeAcl(sacl, static_cast<DWORD>(sacl_.size()), ACL_REVISION) ||
        !AddMandatoryAce(sacl, ACL_REVISION, 0,
                         SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP |
                             SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP,
                         label)) {
      return;
    }
    DWORD n = sizeof administrators_;
    DWORD m = sizeof ownerRights_;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_, &n) ||
        !CreateWellKnownSid(WinCreatorOwnerRightsSid, nullptr, ownerRights_, &m)) {
      return;
    }
    const std::size_t entry = sizeof(ACCESS_ALLOWED_ACE);
    const std::size_t aclBytes =
        access == SectionAccess::Owner
            ? sizeof(ACL) + entry + GetLengthSid(sid)
            : sizeof(ACL) + 2 * entry + GetLengthSid(administrators_) + GetLengthSid(ownerRights_);
    acl_.resize(aclBytes);
    auto* acl = reinterpret_cast<ACL*>(acl_.data());
    if (!InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION)) return;
    if (access == SectionAccess::Owner) {
      if (!AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid)) return;
    } else if (!AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_READ | GENERIC_WRITE, administrators_) ||
               // The owner (the player) keeps no right but to read the list:
               // it may not rewrite it to let itself in again.
               !AddAccessAllowedAce(acl, ACL_REVISION, READ_CONTROL, ownerRights_)) {
      return;
    }
    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED) ||
        !SetSecurityDescriptorSacl(&descriptor_, TRUE, sacl, FALSE) ||
        !SetSecurityDescriptorOwner(&descriptor_, sid, FALSE)) {
      return;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ok_ = true;
  }
  SectionSecurity(const SectionSecurity&) = delete;
  SectionSecurity& operator=(const SectionSecurity&) = delete;
  // Null when it could not be built: the caller must then create nothing.
  SECURITY_ATTRIBUTES* get() { return ok_ ? &attributes_ : nullptr; }

 private:
  std::vector<BYTE> user_;   // 8-byte alignment of TOKEN_USER comes from the allocator
  std::vector<BYTE> level_;  // TOKEN_MANDATORY_LABEL, holding the label's SID
  std::vector<BYTE> acl_;
  std::vector<BYTE> sacl_;
  alignas(8) BYTE administrators_[SECURITY_MAX_SID_SIZE] = {};
  alignas(8) BYTE ownerRights_[SECURITY_MAX_SID_SIZE] = {};
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ok_ = false;
};

// A new section of our own under a name nobody held before us. An object
// already there (of any type) may belong to another process that could read
// or rewrite the record, so its name is given up for another. The control's
// and the game's names follow the tick count, as receivers expect; the
// elevated copy's come from the system's random generator, so nobody can make
// them first or find them in a log.
Handle CreateOwnSection(SectionForm form, std::size_t bytes, SectionAccess access, std::string& name) {
  SectionSecurity security(access);
  if (!security.get()) return Handle();
  DWORD last = 0;
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    if (access == SectionAccess::ElevatedCopy) {
      std::uint32_t random[2] = {};
      if (!RandomBytes(random, sizeof random)) return Handle();
      name = SectionName(form, random[0], random[1]);
    } else {
      DWORD t1 = GetTickCount();
      while (attempt > 0 && t1 == last) {
        Sleep(1);
        t1 = GetTickCount();
      }
      last = t1;
      name = SectionName(form, t1, GetTickCount());
    }
    Handle section(CreateFileMappingA(INVALID_HANDLE_VALUE, security.get(), PAGE_READWRITE, 0,
                                      static_cast<DWORD>(bytes), name.c_str()));
    const DWORD error = GetLastError();
    if (section && error != ERROR_ALREADY_EXISTS) return section;
    // Another object holds the name: a section (opened, so closed again here),
    // an object of another type, or one we may not open.
    if (!section && error != ERROR_INVALID_HANDLE && error != ERROR_ACCESS_DENIED) return Handle();
  }
  return Handle();
}

// Starts the receiver; one that asks for administrator rights (a game's
// manifest may) is started through the shell, which asks the player.
bool StartReceiver(const std::string& exePath, const std::string& name, const char* workDir) {
  std::string commandLine = QuotedCommandLine(exePath, name);
  if (commandLine.empty()) return false;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  // The receiver needs none of our handles; the section travels by its name.
  if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, workDir, &startup,
                     &process)) {
    // The receiver is not waited for; only the section must outlive its start.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  }
  if (GetLastError() != ERROR_ELEVATION_REQUIRED) return false;
  ShellStart start;
  start.program = exePath;
  start.parameters = name;
  start.directory = workDir ? workDir : "";
  Handle started;
  return StartThroughShell(start, started) == 0;
}

}  // namespace

bool PublishedRecord::Publish(const LaunchBlock& block, SectionForm form, std::size_t roomBytes,
                              SectionAccess access) {
  view_.reset();
  section_ = CreateOwnSection(form, sizeof(LaunchBlock) + roomBytes, access, name_);
  if (!section_) return false;
  view_.reset(MapViewOfFile(section_.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (!view_) return false;
  // A new section starts zeroed, so the room reads as empty.
  std::memcpy(view_.get(), &block, sizeof(LaunchBlock));
  roomBytes_ = roomBytes;
  return true;
}

const void* PublishedRecord::Room() const {
  return view_ ? static_cast<const char*>(view_.get()) + sizeof(LaunchBlock) : nullptr;
}

bool HandOverBlock(const LaunchBlock& block, const std::string& exePath, const char* workDir,
                   SectionForm form, DWORD delayMs) {
  PublishedRecord record;
  if (!record.Publish(block, form, 0, SectionAccess::Owner) ||
      !StartReceiver(exePath, record.Name(), workDir))
    return false;
  HoldFor(delayMs);
  return true;
}

bool TakeOverBlock(const char* sectionName, LaunchBlock* out) {
  // Read only: the receiver takes a copy and changes nothing there.
  Handle section(OpenFileMappingA(FILE_MAP_READ, FALSE, sectionName));
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

bool OnlyAdministratorsMayChangeSection(const char* sectionName) {
  Handle section(OpenFileMappingA(READ_CONTROL, FALSE, sectionName));
  if (!section) return false;
  constexpr DWORD kChanging = SECTION_MAP_WRITE | SECTION_EXTEND_SIZE | WRITE_DAC | WRITE_OWNER | DELETE |
                              GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
  return WhoMayChange(section.get(), SE_KERNEL_OBJECT, kChanging) == AccessVerdict::OnlyTrusted;
}

SectionRoom OpenRoomAfterBlock(const char* sectionName) {
  SectionRoom room;
  Handle section(OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, sectionName));
  if (!section) return room;
  room.view.reset(MapViewOfFile(section.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
  MEMORY_BASIC_INFORMATION info{};
  if (!room.view || VirtualQuery(room.view.get(), &info, sizeof info) == 0 ||
      info.RegionSize <= sizeof(LaunchBlock)) {
    room.view.reset();
    return room;
  }
  room.bytes = static_cast<char*>(room.view.get()) + sizeof(LaunchBlock);
  room.size = info.RegionSize - sizeof(LaunchBlock);
  return room;
}

}  // namespace qz
