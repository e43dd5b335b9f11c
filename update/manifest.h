// The update manifest as the launcher keeps it: the plan one read yields, in
// the fixed fields the launcher works with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/manifest.h"
#include "update/update_file.h"

namespace qz {

using UpdateList = std::vector<UpdateFile>;

// What one manifest read yields: the program, its installers and the files
// newer than its installation record, with what that record says.
struct UpdatePlan {
  std::string progName;
  std::string fullDnUrl;
  std::string upBaseUrl;
  std::vector<std::string> mirrors;  // base addresses of further hosts, in order of preference
  std::uint16_t minVer = 0;
  std::uint16_t latestVer = 0;
  std::uint16_t installedVer = 0;
  UpdateList updateList;
  FileHash fullDnHash;
  std::uint64_t fullDnSize = 0;  // 0: none stated
  std::uint32_t serial = 0;      // the signed manifest's Serial; 0 when unsigned
  // From the installation record: the game's folder and executable.
  std::string gameDir;
  std::string gameExe;
  // Deltas left aside, one line each for the support log.
  std::vector<std::string> notes;
};

// Whether a delta archive may stand in for its whole-file patch: it must
// carry its hash, and when the manifest states both sizes the delta must be
// the smaller (a player whose files differ downloads both). "" when it may,
// else why not.
std::string DeltaRefusal(const ManifestFile& whole, const ManifestFile& delta);

// The launcher's plan from what a manifest read says (every value the reader
// takes fits its field). A delta is attached to its file only when
// DeltaRefusal finds nothing; otherwise a note says why.
UpdatePlan PlanOf(const ManifestPlan& read);

// Ascending by version; files of the same version keep their manifest order.
void SortByVersion(UpdateList& list);

}  // namespace qz
