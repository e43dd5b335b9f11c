// What passes over the maintenance service's channel. A caller may only ask
// "bring this registered program up to date", naming it by its ProgName;
// everything else the service needs (the manifest's address, the folder, the
// keys) it reads from the machine's own records. The service answers with
// progress lines for the caller's wizard and one outcome line. Pure: the
// launcher, the service and the tests read the same grammar.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

// The one request: "Update " and the program's name, nothing after it.
inline constexpr char kServiceRequestVerb[] = "Update ";
// The longest text a reply carries (a file, a log line); each message stays
// within the channel's 4096 bytes.
inline constexpr std::size_t kServiceMessageLimit = 4000;

// The name a request carries when it is one: letters, digits, "_", "-" and
// single dots inside the name, at most kMaxProgName bytes. A path (any
// separator, a drive's colon, "..") or an address (a scheme's colon, "/",
// "@", "%") never is, nor is a blank or a control character.
std::optional<std::string> ParseServiceRequest(std::string_view message);
std::string ServiceRequestText(std::string_view progName);

enum class ServicePhase { Manifest, Download, Verify, Apply };

struct ServiceProgress {
  ServicePhase phase = ServicePhase::Manifest;
  std::uint64_t done = 0;   // bytes of the phase so far
  std::uint64_t total = 0;  // 0 when not known
  std::string file;         // the file at hand, "" when none
};

// Why the service changed nothing. Each is refused before anything is
// written; the caller falls back to the elevated copy and logs the word.
enum class ServiceRefusal {
  None,
  Disabled,           // the operator turned the service off
  BadRequest,         // the request is not the grammar above
  NotRegistered,      // no machine-wide installation record
  NoRecordedAddress,  // no manifest address an administrator's installation recorded
  NoKeys,             // machine ManifestKeys missing or unusable
  FolderWritable,     // standard users may write the game's folder
  ManifestRefused,    // the recorded manifest is not fetched whole, not signed by the machine's keys, or not
                      // this program's
  NotAbove,           // the manifest's Serial is not above the machine's floor (a rollback)
  NotAnUpgrade,       // a full installation or a setup program: never the service's
  Busy,               // another change runs
};

enum class ServiceOutcome { Applied, Current, Refused, Failed };

struct ServiceReply {
  enum Kind { Progress, Log, Outcome } kind = Progress;
  ServiceProgress progress;
  ServiceOutcome outcome = ServiceOutcome::Failed;
  ServiceRefusal refusal = ServiceRefusal::None;
  std::string log;  // Log: one line of the service's support log
};

// One line each, no line break: "Progress <phase> <done> <total> <file>",
// "Log <text>" (the service's support log goes into the caller's) and
// "Outcome <word>[ <refusal>]".
std::string ServiceProgressText(const ServiceProgress& progress);
std::string ServiceLogText(const std::string& line);
std::string ServiceOutcomeText(ServiceOutcome outcome, ServiceRefusal refusal = ServiceRefusal::None);
std::optional<ServiceReply> ParseServiceReply(std::string_view line);

const char* ServiceRefusalWord(ServiceRefusal refusal);

// What the service knows of the machine before it fetches anything, all read
// from places only administrators may write.
struct ServiceFacts {
  bool disabled = false;
  bool registered = false;       // machine-wide installation record
  bool addressRecorded = false;  // the manifest's address an administrator recorded
  bool keysUsable = false;       // ManifestKeys present, parsed, signatures required
  bool folderAdminOnly = false;  // standard users may not write the game's folder
};
ServiceRefusal RefusalBeforeFetch(const ServiceFacts& facts);

// After the signed manifest is read: its Serial against the machine's floor
// (none kept yet counts as 0), and whether the change is an upgrade through
// archives only.
ServiceRefusal RefusalAfterFetch(std::uint32_t serial, std::uint32_t floor, bool archivesOnlyUpgrade);

}  // namespace qz
