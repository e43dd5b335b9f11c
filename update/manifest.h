// The update manifest: a token text that names a program, its full installer,
// the base address of its patch files and the patch files with their
// versions. Read against the installation record of the program it names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "update/update_file.h"

namespace qz {

using UpdateList = std::vector<std::unique_ptr<UpdateFile>>;

// Larger answers are not manifests.
constexpr std::size_t kMaxManifestBytes = 65535;
constexpr char kManifestHeader[] = "[VLTWUpdateFile]";

// What one manifest read yields: the program, its installers and the files
// newer than its installation record, with what that record says.
struct UpdatePlan {
  char progName[20] = {};
  char fullDnUrl[260] = {};
  char upBaseUrl[260] = {};
  std::uint16_t minVer = 0;
  std::uint16_t latestVer = 0;
  std::uint16_t installedVer = 0;
  UpdateList updateList;
  FileHash fullDnHash;
  // From the installation record: the game's folder and executable.
  char gameDir[260] = {};
  char gameExe[260] = {};
};

// The update state the manifest fills.
struct ManifestFields {
  char (&progName)[20];
  char (&fullDnUrl)[260];
  char (&upBaseUrl)[260];
  std::uint16_t& minVer;
  std::uint16_t& latestVer;
  std::uint16_t& installedVer;
  UpdateList& updateList;
  FileHash& fullDnHash;
};

// Reads the installation record of the named program: sets the installed
// version (it arrives as 0 and stays so without a record) and, for the game,
// its folder and executable.
using RecordLookup = std::function<void(const char* progName, std::uint16_t& installedVer)>;

enum class ManifestOutcome {
  Read,      // values taken
  NoHeader,  // not a manifest: nothing taken, and no failure either
  Refused,   // a value does not fit its field, or an address is not a web
             // address: the fetch fails rather than use a cut or local address
};

// Parses a zero-terminated manifest text, which is split in place. Every key
// acts when it is met, so the order of keys in the text matters. "SHA256"
// followed by 64 hexadecimal digits binds a hash to the entry just before it
// (FullDnURL or a taken UpFileList entry); launchers that predate it pass over
// both tokens, since neither begins with a key they know. A malformed hash, or
// a second one for the same entry, refuses the manifest.
ManifestOutcome ParseManifest(char* text, const ManifestFields& fields, const RecordLookup& lookup);

// Whether the full installer (when named) and every listed file carry a hash,
// as a signed manifest must.
bool EveryFileHashed(const ManifestFields& fields);

// Ascending by version; files of the same version keep their manifest order.
void SortByVersion(UpdateList& list);

}  // namespace qz
