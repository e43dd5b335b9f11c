#include "format/manifest.h"

#include <algorithm>
#include <cstdint>

#include "format/limits.h"
#include "format/web_address.h"

namespace qz {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The number a token starts with: an optional sign, then decimal digits;
// wrapping as the launcher always has, and kept to 16 bits (70000 is 4464).
std::uint16_t VersionOf(std::string_view token) {
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  std::uint32_t value = 0;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    value = value * 10u + static_cast<std::uint32_t>(token[i] - '0');
  }
  return static_cast<std::uint16_t>(negative ? 0u - value : value);
}

// An address the launcher keeps: it must fit its field and be a web address.
bool TakeAddress(std::string& field, std::string url) {
  if (url.size() > kMaxUrl || !IsWebUrl(url.c_str())) return false;
  field = std::move(url);
  return true;
}

// Printable ASCII without the separators: one token, read back byte for byte
// on any code page.
bool IsPlainToken(std::string_view value) {
  if (value.empty()) return false;
  for (unsigned char c : value) {
    if (c <= 0x20 || c >= 0x7F || c == '{' || c == '}') return false;
  }
  return true;
}

}  // namespace

const char* ManifestKeyName(ManifestKey key) {
  for (const ManifestKeySpec& spec : kManifestKeys) {
    if (spec.key == key) return spec.name;
  }
  return "";
}

const ManifestKeySpec* ManifestKeyOf(std::string_view token) {
  for (const ManifestKeySpec& spec : kManifestKeys) {
    if (StartsWith(token, spec.name)) return &spec;
  }
  return nullptr;
}

std::vector<std::string_view> ManifestTokens(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string_view> tokens;
  std::size_t i = 0;
  for (;;) {
    i = text.find_first_not_of(kManifestSeparators, i);
    if (i == std::string_view::npos) break;
    const std::size_t end = text.find_first_of(kManifestSeparators, i);
    tokens.push_back(text.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
    if (end == std::string_view::npos) break;
    i = end;
  }
  return tokens;
}

ManifestReading ReadManifest(std::string_view text, const InstalledVersionLookup& installed) {
  ManifestReading reading;
  const std::vector<std::string_view> tokens = ManifestTokens(text);
  if (tokens.empty() || !StartsWith(tokens[0], kManifestHeader)) return reading;
  ManifestPlan& plan = reading.plan;
  auto refuse = [&reading] {
    reading.outcome = ManifestOutcome::Refused;
    return reading;
  };

  // The hash a SHA256 that follows binds to; an entry not taken binds none.
  std::optional<Sha256Digest>* entry = nullptr;
  // The length a Size binds to: the same entry's, also after its hash.
  std::optional<std::uint64_t>* sized = nullptr;
  bool afterSkippedEntry = false;
  const std::size_t n = tokens.size();
  for (std::size_t i = 1; i < n;) {
    const ManifestKeySpec* spec = ManifestKeyOf(tokens[i]);
    if (!spec) {
      ++i;
      continue;
    }
    if (i + spec->values >= n) {  // the values would lie past the end: ignored
      reading.keyWithoutValues = true;
      break;
    }
    const std::string_view value = tokens[i + 1];
    std::optional<Sha256Digest>* const previous = entry;
    std::optional<std::uint64_t>* const previousSize = sized;
    const bool skipped = afterSkippedEntry;
    entry = nullptr;
    sized = nullptr;
    afterSkippedEntry = false;
    switch (spec->key) {
      case ManifestKey::ProgName:
        if (value.size() > kMaxProgName) return refuse();
        plan.progName = std::string(value);
        plan.installedVer = installed(plan.progName);
        plan.latestVer = plan.installedVer;
        break;
      case ManifestKey::FullDnURL:
        if (!TakeAddress(plan.fullDnUrl, std::string(value))) return refuse();
        plan.fullDnSha256.reset();
        entry = &plan.fullDnSha256;
        break;
      case ManifestKey::UpBaseURL:
        // Tokens are never empty, so the base always ends in "/" afterwards.
        if (!TakeAddress(plan.upBaseUrl, value.back() == '/' ? std::string(value) : std::string(value) + "/")) {
          return refuse();
        }
        break;
      case ManifestKey::MinVer:
        plan.minVer = VersionOf(value);
        break;
      case ManifestKey::UpFileList:
      case ManifestKey::UpDeltaList: {
        const std::uint16_t version = VersionOf(value);
        if (version <= plan.installedVer) {
          // Only the version is used up; the file name is looked at as a key.
          afterSkippedEntry = true;
          i += 2;
          continue;
        }
        ManifestFile file;
        file.version = version;
        if (!TakeAddress(file.url, plan.upBaseUrl + std::string(tokens[i + 2]))) return refuse();
        // A delta stands in for a file of its version: it raises nothing.
        std::vector<ManifestFile>& list = spec->key == ManifestKey::UpFileList ? plan.files : plan.deltas;
        if (spec->key == ManifestKey::UpFileList) plan.latestVer = std::max(plan.latestVer, version);
        list.push_back(std::move(file));
        entry = &list.back().sha256;
        sized = &list.back().size;
        break;
      }
      case ManifestKey::Size: {
        std::uint64_t bytes = 0;
        for (char c : value) {
          if (c < '0' || c > '9' || bytes > (UINT64_MAX - 9) / 10) return refuse();
          bytes = bytes * 10 + static_cast<std::uint64_t>(c - '0');
        }
        if (previousSize) {
          if (previousSize->has_value()) return refuse();
          *previousSize = bytes;
          sized = previousSize;
        }
        break;
      }
      case ManifestKey::SHA256: {
        // A malformed hash, or a second one for the same file, refuses the
        // whole manifest; one after anything but a file entry binds nothing.
        const std::optional<Sha256Digest> digest = ParseSha256Hex(value);
        if (!digest) return refuse();
        if (!previous) {
          if (!skipped) ++reading.unboundHashes;
          break;
        }
        if (previous->has_value()) return refuse();
        *previous = digest;
        entry = previous;
        sized = previousSize;
        break;
      }
    }
    i += 1 + spec->values;
  }
  reading.outcome = ManifestOutcome::Read;
  return reading;
}

bool EveryFileHashed(const ManifestPlan& plan) {
  if (!plan.fullDnUrl.empty() && !plan.fullDnSha256) return false;
  return std::all_of(plan.files.begin(), plan.files.end(),
                     [](const ManifestFile& file) { return file.sha256.has_value(); });
}

ManifestProblem CheckManifestContent(const ManifestContent& c) {
  auto problem = [](ManifestField field, std::string message, std::size_t file = 0) {
    return ManifestProblem{field, file, std::move(message)};
  };
  auto checkUrl = [&](ManifestField field, const std::string& url) -> ManifestProblem {
    if (!IsPlainToken(url)) return problem(field, "the address must be printable ASCII without blanks or braces");
    if (url.size() > kMaxUrl) {
      return problem(field, "the address must be shorter than " + std::to_string(kPathField) + " bytes (it has " +
                                std::to_string(url.size()) + ")");
    }
    const std::optional<WebAddress> address = ParseWebAddress(url);
    if (!address) {
      return problem(field,
                     "not an address the launcher fetches: https:// (or http:// to this machine), a plain host, "
                     "a port from 1 to 65535, no user name, '%' or '\\' before the path");
    }
    if (!address->https && !IsLoopbackHost(address->host)) {
      return problem(field, "plain http is only for this machine (127.0.0.1); use https");
    }
    return {};
  };
  auto versionProblem = [](std::uint16_t version) {
    return version < 1 || version > kMaxVersion;
  };
  const std::string versionRule = "a version is a whole number from 1 to " + std::to_string(kMaxVersion) +
                                  " (the launcher reads at most four digits from the installation record)";

  if (!IsPlainToken(c.progName)) {
    return problem(ManifestField::ProgName, "the program name must be printable ASCII without blanks or braces");
  }
  if (c.progName.size() > kMaxProgName) {
    return problem(ManifestField::ProgName, "the program name must be shorter than " +
                                                std::to_string(kProgNameField) + " bytes (it has " +
                                                std::to_string(c.progName.size()) + ")");
  }
  if (c.progName.find('\\') != std::string::npos) {
    return problem(ManifestField::ProgName, "the program name names a registry key: no '\\'");
  }
  if (versionProblem(c.minVer)) return problem(ManifestField::MinVer, versionRule);
  if (ManifestProblem p = checkUrl(ManifestField::FullUrl, c.fullUrl)) return p;
  if (c.files.empty() && c.deltas.empty() && c.baseUrl.empty()) return {};
  if (c.baseUrl.empty()) return problem(ManifestField::BaseUrl, "patch files need the base address they lie under");
  if (ManifestProblem p = checkUrl(ManifestField::BaseUrl, c.baseUrl)) return p;
  const std::string base = c.baseUrl.back() == '/' ? c.baseUrl : c.baseUrl + "/";
  if (base.size() > kMaxUrl) {
    return problem(ManifestField::BaseUrl, "with its final '/' the address must be shorter than " +
                                               std::to_string(kPathField) + " bytes");
  }
  for (std::size_t k = 0; k < c.files.size(); ++k) {
    const ManifestEntry& f = c.files[k];
    if (versionProblem(f.version)) return problem(ManifestField::File, versionRule, k);
    if (!IsPlainToken(f.name) || f.name.find_first_of("/\\") != std::string::npos) {
      return problem(ManifestField::File, "the file name must be printable ASCII without blanks, braces or folders",
                     k);
    }
    // A launcher that skips an entry it has reads the file name as a key.
    if (const ManifestKeySpec* key = ManifestKeyOf(f.name)) {
      return problem(ManifestField::File, std::string("a file name must not begin with the key ") + key->name, k);
    }
    if (base.size() + f.name.size() > kMaxUrl) {
      return problem(ManifestField::File,
                     "base address and file name together must be shorter than " + std::to_string(kPathField) +
                         " bytes (they have " + std::to_string(base.size() + f.name.size()) + ")",
                     k);
    }
    if (!IsFetchUrl(base + f.name)) {
      return problem(ManifestField::File, "base address and file name together are not an address the launcher fetches", k);
    }
  }
  for (std::size_t k = 0; k < c.deltas.size(); ++k) {
    const ManifestEntry& d = c.deltas[k];
    const bool hasFile = std::any_of(c.files.begin(), c.files.end(),
                                     [&](const ManifestEntry& f) { return f.version == d.version; });
    // Launchers fall back to the whole-file patch of the same version.
    if (!hasFile) return problem(ManifestField::Delta, "a delta archive needs a file of its version", k);
    if (!IsPlainToken(d.name) || d.name.find_first_of("/\\") != std::string::npos) {
      return problem(ManifestField::Delta, "the file name must be printable ASCII without blanks, braces or folders",
                     k);
    }
    if (const ManifestKeySpec* key = ManifestKeyOf(d.name)) {
      return problem(ManifestField::Delta, std::string("a file name must not begin with the key ") + key->name, k);
    }
    if (base.size() + d.name.size() > kMaxUrl || !IsFetchUrl(base + d.name)) {
      return problem(ManifestField::Delta,
                     "base address and file name together are not an address the launcher fetches", k);
    }
  }
  if (ManifestTextOf(c).size() > kMaxManifestBytes) {
    return problem(ManifestField::Text, "the manifest would exceed " + std::to_string(kMaxManifestBytes) +
                                            " bytes; list fewer files");
  }
  return {};
}

std::string ManifestTextOf(const ManifestContent& c) {
  auto line = [](ManifestKey key, const std::string& value) {
    return std::string(ManifestKeyName(key)) + " " + value + "\n";
  };
  auto sha = [&](const Sha256Digest& digest) { return line(ManifestKey::SHA256, ToHex(digest)); };
  std::string text = std::string(kManifestHeader) + "\n";
  text += line(ManifestKey::ProgName, c.progName);
  text += line(ManifestKey::MinVer, std::to_string(c.minVer));
  text += line(ManifestKey::FullDnURL, c.fullUrl) + sha(c.fullSha256);
  if (!c.baseUrl.empty()) text += line(ManifestKey::UpBaseURL, c.baseUrl);
  for (const ManifestEntry& d : c.deltas) {
    text += line(ManifestKey::UpDeltaList, std::to_string(d.version) + " " + d.name) + sha(d.sha256) +
            line(ManifestKey::Size, std::to_string(d.size));
  }
  for (const ManifestEntry& f : c.files) {
    text += line(ManifestKey::UpFileList, std::to_string(f.version) + " " + f.name) + sha(f.sha256);
  }
  return text;
}

}  // namespace qz
