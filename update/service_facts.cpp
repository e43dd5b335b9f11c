#include "update/service_facts.h"

#include <windows.h>

#include "base/access_list.h"
#include "base/settings.h"
#include "base/win_handles.h"
#include "format/web_address.h"
#include "update/manifest_trust.h"

namespace qz {

namespace {

// Only SYSTEM and the administrators may change the folder: a folder that
// cannot be opened or whose list cannot be read counts as writable. Only the
// folder's own list is read; what an archive writes below it goes through
// the guard of administrators' writes (no link a player planted is followed).
bool OnlyTrustedMayChangeFolder(const std::string& dir) {
  FileHandle folder(
      CreateFileA(dir.c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  // A link in the record's place may lead anywhere: refused.
  if (!GetFileInformationByHandle(folder.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  // The account the service runs as (SYSTEM, unless an operator chose
  // another) counts with SYSTEM and the administrators: it gains nothing.
  return WhoMayChange(folder.get(), SE_FILE_OBJECT, kChangingRights, OwnUserSid()) ==
         AccessVerdict::OnlyTrusted;
}

}  // namespace

ServiceSubject ReadServiceSubject(const std::string& progName) {
  ServiceSubject s;
  ServiceFacts& f = s.facts;
  f.disabled = settings::ReadProductNumber("ServiceDisabled", 0) != 0;
  const settings::InstallRecord record = settings::ReadInstallRecord(progName.c_str());
  f.registered = record.found && record.version != 0 && !record.runDir.empty();
  s.gameDir = record.runDir;
  s.manifestUrl = settings::ReadRecordedManifestUrl(progName.c_str());
  f.addressRecorded = IsFetchUrl(s.manifestUrl);
  const ManifestTrust trust = LoadManifestTrust();
  f.keysUsable = trust.problem.empty() && trust.signatureRequired && !trust.keys.empty();
  f.folderAdminOnly = f.registered && OnlyTrustedMayChangeFolder(s.gameDir);
  const ServiceRefusal refusal = RefusalBeforeFetch(f);
  if (refusal == ServiceRefusal::NoKeys && !trust.problem.empty())
    s.why = trust.problem;
  else if (refusal != ServiceRefusal::None)
    s.why = ServiceRefusalWord(refusal);
  return s;
}

}  // namespace qz
