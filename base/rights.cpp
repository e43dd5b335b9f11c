#include "base/rights.h"

#include <vector>

#include "base/win_handles.h"

namespace qz {

namespace {

Handle OwnToken(DWORD access) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), access, &token)) return Handle();
  return Handle(token);
}

// "C:\a\b\c.txt" -> "C:\a\b"; "C:\a" -> "C:\"; "" at the top.
std::string FolderAbove(std::string path) {
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  const std::size_t cut = path.find_last_of("\\/");
  if (cut == std::string::npos) return std::string();
  if (cut == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, cut);
}

}  // namespace

DWORD OwnIntegrityLevel() {
  Handle token = OwnToken(TOKEN_QUERY);
  if (!token) return 0;
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenIntegrityLevel, nullptr, 0, &size);
  if (size < sizeof(TOKEN_MANDATORY_LABEL)) return 0;
  std::vector<BYTE> data(size);  // the allocator aligns it for the structure
  if (!GetTokenInformation(token.get(), TokenIntegrityLevel, data.data(), size, &size)) return 0;
  PSID label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(data.data())->Label.Sid;
  if (!label || !IsValidSid(label)) return 0;
  const UCHAR count = *GetSidSubAuthorityCount(label);
  if (count == 0) return 0;
  return *GetSidSubAuthority(label, count - 1u);
}

WriteRights::WriteRights() {
  Handle own = OwnToken(TOKEN_QUERY | TOKEN_DUPLICATE);
  HANDLE copy = nullptr;
  if (own && DuplicateToken(own.get(), SecurityImpersonation, &copy)) token_.reset(copy);
}

// Whether the object's security descriptor grants `desired` to our token,
// checked the way the system checks an open: the access list, the owner and
// the integrity label.
bool WriteRights::Allows(const std::string& path, DWORD desired) const {
  if (!token_) return false;
  const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                     DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
  // Most descriptors fit the first buffer: one call per file, not two.
  std::vector<BYTE> descriptor(1024);
  DWORD size = 0;
  if (!GetFileSecurityA(path.c_str(), parts, descriptor.data(), static_cast<DWORD>(descriptor.size()),
                        &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= descriptor.size()) return false;
    descriptor.resize(size);
    if (!GetFileSecurityA(path.c_str(), parts, descriptor.data(), size, &size)) return false;
  }
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  MapGenericMask(&desired, &mapping);
  // Room for the privileges an access may use (none, for these rights).
  std::vector<BYTE> privileges(sizeof(PRIVILEGE_SET) + 8 * sizeof(LUID_AND_ATTRIBUTES));
  DWORD privilegesSize = static_cast<DWORD>(privileges.size());
  DWORD granted = 0;
  BOOL allowed = FALSE;
  return AccessCheck(descriptor.data(), token_.get(), desired, &mapping,
                     reinterpret_cast<PRIVILEGE_SET*>(privileges.data()), &privilegesSize, &granted,
                     &allowed) &&
         allowed;
}

bool WriteRights::May(const std::string& path) {
  // Nothing lies below a folder that is not there: no need to look.
  const std::string folder = FolderAbove(path);
  const auto known = folders_.find(folder);
  if (known != folders_.end() && !known->second.exists) return known->second.may;

  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    // Only a missing name sends us up; anything else cannot be told.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    return MayCreateIn(folder);
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return MayCreateIn(path);
  // An existing file is emptied and rewritten through one handle.
  if (!(attributes & FILE_ATTRIBUTE_READONLY)) return Allows(path, FILE_GENERIC_WRITE);
  // A read-only one is made writable first. Where the access list is made
  // from the attribute (a share served from a system with POSIX modes) it
  // shows no right to write; whether the attributes may change is asked by
  // opening it for that alone, which changes nothing.
  FileHandle probe(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  return static_cast<bool>(probe);
}

bool WriteRights::MayCreateIn(const std::string& folder) {
  std::string key = folder;
  while (!key.empty() && (key.back() == '\\' || key.back() == '/')) key.pop_back();
  if (key.empty()) return false;
  if (key.size() == 2 && key[1] == ':') key += '\\';  // "C:" alone is another folder
  const auto known = folders_.find(key);
  if (known != folders_.end()) return known->second.may;

  Folder answer;
  const DWORD attributes = GetFileAttributesA(key.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    answer.exists = true;
    answer.may =
        (attributes & FILE_ATTRIBUTE_DIRECTORY) && Allows(key, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY);
  } else {
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return false;
    answer.may = MayCreateIn(FolderAbove(key));
  }
  folders_[key] = answer;
  return answer.may;
}

bool MayWritePath(const std::string& path) { return WriteRights().May(path); }

}  // namespace qz
