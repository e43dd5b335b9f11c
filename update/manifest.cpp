#include "update/manifest.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/field_text.h"
#include "base/param_text.h"
#include "update/url_rules.h"

namespace qz {

namespace {

enum Key { kProgName, kFullDnUrl, kUpBaseUrl, kMinVer, kUpFileList, kKeyCount };
// Tested in this order; the first key a token begins with wins.
constexpr const char* kKeys[kKeyCount] = {"ProgName", "FullDnURL", "UpBaseURL", "MinVer", "UpFileList"};

int KeyOf(std::string_view token) {
  for (int k = 0; k < kKeyCount; ++k) {
    if (StartsWith(token, kKeys[k])) return k;
  }
  return -1;
}

// An address the launcher will fetch: it must fit its field and be a web address.
template <std::size_t N>
bool TakeAddress(char (&field)[N], const std::string& url) {
  if (!FitsField(url.size(), N) || !IsWebUrl(url.c_str())) return false;
  CopyCut(field, url);
  return true;
}

std::uint16_t Version(std::string_view token) { return static_cast<std::uint16_t>(LeadingDecimal(token)); }

}  // namespace

ManifestOutcome ParseManifest(char* text, const ManifestFields& f, const RecordLookup& lookup) {
  const std::vector<std::string_view> tokens =
      SplitInPlace(text, std::strlen(text), " \t\r\n{}", SplitRule::Runs);
  if (tokens.empty() || !StartsWith(tokens[0], kManifestHeader)) return ManifestOutcome::NoHeader;

  const std::size_t n = tokens.size();
  for (std::size_t i = 1; i < n;) {
    const int key = KeyOf(tokens[i]);
    if (key < 0) {
      ++i;
      continue;
    }
    const std::size_t values = key == kUpFileList ? 2 : 1;
    if (i + values >= n) break;  // the values would lie past the end: ignored
    const std::string value(tokens[i + 1]);
    switch (key) {
      case kProgName:
        if (!FitsField(value.size(), sizeof f.progName)) return ManifestOutcome::Refused;
        CopyCut(f.progName, value);
        f.installedVer = 0;
        lookup(f.progName, f.installedVer);
        f.latestVer = f.installedVer;
        break;
      case kFullDnUrl:
        if (!TakeAddress(f.fullDnUrl, value)) return ManifestOutcome::Refused;
        break;
      case kUpBaseUrl:
        // Tokens are never empty, so the base always ends in "/" afterwards.
        if (!TakeAddress(f.upBaseUrl, value.back() == '/' ? value : value + "/")) {
          return ManifestOutcome::Refused;
        }
        break;
      case kMinVer:
        f.minVer = Version(value);
        break;
      case kUpFileList: {
        const std::uint16_t version = Version(value);
        if (version <= f.installedVer) {
          // Only the version is used up; the file name is looked at as a key.
          i += 2;
          continue;
        }
        auto file = std::make_unique<UpdateFile>();
        file->version = version;
        if (!TakeAddress(file->url, f.upBaseUrl + std::string(tokens[i + 2]))) {
          return ManifestOutcome::Refused;
        }
        f.latestVer = std::max(f.latestVer, version);
        f.updateList.push_back(std::move(file));
        break;
      }
    }
    i += 1 + values;
  }
  return ManifestOutcome::Read;
}

void SortByVersion(UpdateList& list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const std::unique_ptr<UpdateFile>& a, const std::unique_ptr<UpdateFile>& b) {
                     return a->version < b->version;
                   });
}

}  // namespace qz
