#include "update/manifest.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/field_text.h"
#include "base/param_text.h"
#include "update/signature_text.h"
#include "update/url_rules.h"

namespace qz {

namespace {

enum Key { kProgName, kFullDnUrl, kUpBaseUrl, kMinVer, kUpFileList, kSha256, kKeyCount };
// Tested in this order; the first key a token begins with wins.
constexpr const char* kKeys[kKeyCount] = {"ProgName", "FullDnURL", "UpBaseURL", "MinVer", "UpFileList",
                                          "SHA256"};

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

// Exactly 64 hexadecimal digits, either case.
bool TakeHash(FileHash& hash, std::string_view text) {
  const std::optional<Sha256Digest> digest = ParseSha256Hex(text);
  if (!digest) return false;
  hash.digest = *digest;
  hash.present = true;
  return true;
}

}  // namespace

ManifestOutcome ParseManifest(char* text, const ManifestFields& f, const RecordLookup& lookup) {
  const std::vector<std::string_view> tokens =
      SplitInPlace(text, std::strlen(text), " \t\r\n{}", SplitRule::Runs);
  if (tokens.empty() || !StartsWith(tokens[0], kManifestHeader)) return ManifestOutcome::NoHeader;

  const std::size_t n = tokens.size();
  FileHash* entry = nullptr;  // the file a SHA256 that follows binds to
  for (std::size_t i = 1; i < n;) {
    const int key = KeyOf(tokens[i]);
    if (key < 0) {
      ++i;
      continue;
    }
    const std::size_t values = key == kUpFileList ? 2 : 1;
    if (i + values >= n) break;  // the values would lie past the end: ignored
    const std::string value(tokens[i + 1]);
    FileHash* const previous = entry;
    entry = nullptr;
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
        f.fullDnHash = FileHash{};
        entry = &f.fullDnHash;
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
        entry = &file->hash;
        f.updateList.push_back(std::move(file));
        break;
      }
      case kSha256: {
        // A hash after anything but a file entry (or after an entry not taken)
        // binds to nothing; a malformed one, or a second one for the same
        // file, refuses the whole manifest.
        FileHash unbound;
        FileHash& hash = previous ? *previous : unbound;
        if (hash.present || !TakeHash(hash, value)) return ManifestOutcome::Refused;
        entry = previous;
        break;
      }
    }
    i += 1 + values;
  }
  return ManifestOutcome::Read;
}

bool EveryFileHashed(const ManifestFields& fields) {
  if (fields.fullDnUrl[0] && !fields.fullDnHash.present) return false;
  for (const auto& file : fields.updateList) {
    if (!file->hash.present) return false;
  }
  return true;
}

void SortByVersion(UpdateList& list) {
  std::stable_sort(list.begin(), list.end(),
                   [](const std::unique_ptr<UpdateFile>& a, const std::unique_ptr<UpdateFile>& b) {
                     return a->version < b->version;
                   });
}

}  // namespace qz
