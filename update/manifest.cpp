#include "update/manifest.h"

#include <algorithm>

namespace qz {

namespace {
FileHash HashOf(const std::optional<Sha256Digest>& digest) {
  FileHash hash;
  if (digest) {
    hash.present = true;
    hash.digest = *digest;
  }
  return hash;
}
}  // namespace

UpdatePlan PlanOf(const ManifestPlan& read) {
  UpdatePlan plan;
  plan.progName = read.progName;
  plan.fullDnUrl = read.fullDnUrl;
  plan.upBaseUrl = read.upBaseUrl;
  plan.mirrors = read.mirrors;
  plan.minVer = read.minVer;
  plan.latestVer = read.latestVer;
  plan.installedVer = read.installedVer;
  plan.fullDnHash = HashOf(read.fullDnSha256);
  plan.fullDnSize = read.fullDnSize.value_or(0);
  for (const ManifestFile& file : read.files) {
    UpdateFile entry;
    entry.version = file.version;
    entry.url = file.url;
    entry.hash = HashOf(file.sha256);
    entry.size = file.size.value_or(0);
    for (const ManifestFile& delta : read.deltas) {
      if (delta.version != file.version) continue;
      const std::string refusal = DeltaRefusal(file, delta);
      if (!refusal.empty()) {
        plan.notes.push_back("version " + std::to_string(file.version) + ": delta not taken (" + refusal +
                             ")");
        continue;
      }
      entry.deltaUrl = delta.url;
      entry.deltaHash = HashOf(delta.sha256);
      entry.deltaSize = delta.size.value_or(0);
      break;
    }
    plan.updateList.push_back(std::move(entry));
  }
  return plan;
}

std::string DeltaRefusal(const ManifestFile& whole, const ManifestFile& delta) {
  if (!delta.sha256) return "it has no SHA256";
  if (whole.size && delta.size && *delta.size >= *whole.size) {
    return "its " + std::to_string(*delta.size) +
           " bytes would save nothing against the whole-file patch's " + std::to_string(*whole.size);
  }
  return "";
}

void SortByVersion(UpdateList& list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const UpdateFile& a, const UpdateFile& b) { return a.version < b.version; });
}

}  // namespace qz
