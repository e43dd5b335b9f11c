#include "format/manifest.h"

#include <algorithm>
#include <cstdint>

#include "format/ascii_case.h"
#include "format/limits.h"
#include "format/ticket.h"
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

// Serial (up to 4294967295) and Size (up to kMaxFileBytes): from 1 to
// `largest` in decimal digits, nothing else.
std::optional<std::uint64_t> CountOf(std::string_view token, std::uint64_t largest) {
  if (token.empty() || token.size() > 16) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10u + static_cast<std::uint64_t>(c - '0');
  }
  if (value < 1 || value > largest) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> SerialOf(std::string_view token) {
  const std::optional<std::uint64_t> value = CountOf(token, 0xFFFFFFFFu);
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::optional<ManifestTarget> TargetOf(std::string_view token) {
  for (ManifestTarget target : {ManifestTarget::Avatar, ManifestTarget::Game}) {
    if (token == ManifestTargetName(target)) return target;
  }
  return std::nullopt;
}

const ManifestKeySpec* KeyOf(std::string_view token, std::size_t knownKeys) {
  for (std::size_t k = 0; k < knownKeys && k < kManifestKeyCount; ++k) {
    if (StartsWith(token, kManifestKeys[k].name)) return &kManifestKeys[k];
  }
  return nullptr;
}

}  // namespace

const char* ManifestTargetName(ManifestTarget target) {
  return target == ManifestTarget::Avatar ? "avatar" : "game";
}

std::optional<std::int64_t> ParseManifestTime(std::string_view text) {
  // 2025-06-01T12:00Z: the ticket's time without its seconds.
  if (text.size() != 17 || text[16] != 'Z') return std::nullopt;
  return ParseUtcTime(std::string(text.substr(0, 16)) + ":00Z");
}

std::string ManifestTimeText(std::int64_t seconds) {
  const std::string full = UtcTimeText(seconds);
  return full.substr(0, 16) + "Z";
}

const char* ManifestKeyName(ManifestKey key) {
  for (const ManifestKeySpec& spec : kManifestKeys) {
    if (spec.key == key) return spec.name;
  }
  return "";
}

const ManifestKeySpec* ManifestKeyOf(std::string_view token) { return KeyOf(token, kManifestKeyCount); }

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

ManifestReading ReadManifest(std::string_view text, const InstalledVersionLookup& installed,
                             std::size_t knownKeys) {
  ManifestReading reading;
  const std::vector<std::string_view> tokens = ManifestTokens(text);
  if (tokens.empty() || !StartsWith(tokens[0], kManifestHeader)) return reading;
  ManifestPlan& plan = reading.plan;
  auto refuse = [&reading] {
    reading.outcome = ManifestOutcome::Refused;
    return reading;
  };

  // The program first, so every file is judged against one installation
  // record wherever its line stands: a walk that takes every key with all its
  // values finds the one ProgName (a second refuses the text). The reading
  // below may see further keys (a skipped entry's file name is looked at as a
  // key), but never another ProgName.
  std::size_t progNameAt = 0;
  for (std::size_t i = 1; i < tokens.size();) {
    const ManifestKeySpec* spec = KeyOf(tokens[i], knownKeys);
    if (!spec) {
      ++i;
      continue;
    }
    if (i + spec->values >= tokens.size()) break;
    if (spec->key == ManifestKey::ProgName) {
      if (progNameAt != 0 || tokens[i + 1].size() > kMaxProgName) return refuse();
      progNameAt = i;
    }
    i += 1 + spec->values;
  }
  if (progNameAt != 0) {
    plan.progName = std::string(tokens[progNameAt + 1]);
    plan.installedVer = installed(plan.progName);
    plan.latestVer = plan.installedVer;
  }

  // The entry a SHA256 or Size that follows binds to; an entry not taken
  // binds none. Both keep the binding, so either may come first.
  struct Entry {
    std::optional<Sha256Digest>* sha256;
    std::optional<std::uint64_t>* size;
  };
  std::optional<Entry> entry;
  bool afterSkippedEntry = false;
  auto once = [](auto& field, const auto& value) {
    if (!value || field) return false;
    field = value;
    return true;
  };
  const std::size_t n = tokens.size();
  for (std::size_t i = 1; i < n;) {
    const ManifestKeySpec* spec = KeyOf(tokens[i], knownKeys);
    if (!spec) {
      ++i;
      continue;
    }
    if (i + spec->values >= n) {  // the values would lie past the end: ignored
      reading.keyWithoutValues = true;
      break;
    }
    const std::string_view value = tokens[i + 1];
    const std::optional<Entry> previous = entry;
    const bool skipped = afterSkippedEntry;
    entry.reset();
    afterSkippedEntry = false;
    switch (spec->key) {
      case ManifestKey::ProgName:
        if (i != progNameAt) return refuse();  // taken before the reading began
        break;
      case ManifestKey::FullDnURL:
        if (!TakeAddress(plan.fullDnUrl, std::string(value))) return refuse();
        plan.fullDnSha256.reset();
        plan.fullDnSize.reset();
        entry = Entry{&plan.fullDnSha256, &plan.fullDnSize};
        break;
      case ManifestKey::UpBaseURL:
        // Tokens are never empty, so the base always ends in "/" afterwards.
        if (!TakeAddress(plan.upBaseUrl,
                         value.back() == '/' ? std::string(value) : std::string(value) + "/")) {
          return refuse();
        }
        break;
      case ManifestKey::MirrorURL: {
        std::string mirror;
        if (plan.mirrors.size() == kMaxMirrors ||
            !TakeAddress(mirror, value.back() == '/' ? std::string(value) : std::string(value) + "/") ||
            mirror.find_first_of("?#") != std::string::npos) {
          return refuse();
        }
        plan.mirrors.push_back(std::move(mirror));
        break;
      }
      case ManifestKey::Rollout: {
        const std::optional<std::uint64_t> version = CountOf(value, kMaxVersion);
        const std::optional<std::uint64_t> percent =
            tokens[i + 2] == "0" ? std::optional<std::uint64_t>(0) : CountOf(tokens[i + 2], 100);
        if (!version || !percent || plan.rollout) return refuse();
        plan.rollout = ManifestRollout{static_cast<std::uint16_t>(*version), static_cast<unsigned>(*percent)};
        break;
      }
      case ManifestKey::Channel:
        if (!plan.channel.empty() || !IsChannelName(value)) return refuse();
        plan.channel = std::string(value);
        break;
      case ManifestKey::MinVer: plan.minVer = VersionOf(value); break;
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
        entry = Entry{&list.back().sha256, &list.back().size};
        break;
      }
      case ManifestKey::SHA256:
      case ManifestKey::Size: {
        // A malformed value, or a second one for the same file, refuses the
        // whole manifest; one after anything but a file entry binds nothing.
        const bool hash = spec->key == ManifestKey::SHA256;
        const std::optional<Sha256Digest> digest = hash ? ParseSha256Hex(value) : std::nullopt;
        const std::optional<std::uint64_t> size = hash ? std::nullopt : CountOf(value, kMaxFileBytes);
        if (!digest && !size) return refuse();
        entry = previous;
        afterSkippedEntry = skipped;
        if (!previous) {
          if (!skipped) ++reading.unboundFileValues;
          break;
        }
        if (hash ? !once(*previous->sha256, digest) : !once(*previous->size, size)) return refuse();
        break;
      }
      case ManifestKey::Serial:
        if (!once(plan.serial, SerialOf(value))) return refuse();
        break;
      case ManifestKey::Expires:
        if (!once(plan.expires, ParseManifestTime(value))) return refuse();
        break;
      case ManifestKey::Target:
        if (!once(plan.target, TargetOf(value))) return refuse();
        break;
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

BindingProblem CheckManifestBinding(const ManifestPlan& plan, const ManifestExpectation& expect) {
  const bool sized = (plan.fullDnUrl.empty() || plan.fullDnSize) &&
                     std::all_of(plan.files.begin(), plan.files.end(),
                                 [](const ManifestFile& file) { return file.size.has_value(); });
  if (plan.progName.empty() || !plan.serial || !plan.expires || !plan.target || !sized) {
    return BindingProblem::Missing;
  }
  if (*plan.target != expect.target) return BindingProblem::WrongTarget;
  if (expect.target == ManifestTarget::Game && !expect.progName.empty() &&
      !SameAsciiCase(plan.progName, expect.progName)) {
    return BindingProblem::OtherProgram;
  }
  if (expect.highestSerial && *plan.serial < *expect.highestSerial) return BindingProblem::Rollback;
  if (expect.now >= *plan.expires) return BindingProblem::Expired;
  return BindingProblem::None;
}

const char* BindingProblemText(BindingProblem problem) {
  switch (problem) {
    case BindingProblem::None: return "bound to this check";
    case BindingProblem::Missing: return "ProgName, Serial, Expires, Target or a file's Size is missing";
    case BindingProblem::WrongTarget: return "its Target is the other check's";
    case BindingProblem::OtherProgram: return "its ProgName is not the page's";
    case BindingProblem::Rollback: return "its Serial is lower than one accepted before";
    case BindingProblem::Expired: return "it has expired";
  }
  return "?";
}

ManifestProblem CheckManifestContent(const ManifestContent& c) {
  auto problem = [](ManifestField field, std::string message, std::size_t file = 0) {
    return ManifestProblem{field, file, std::move(message)};
  };
  auto checkUrl = [&](ManifestField field, const std::string& url) -> ManifestProblem {
    if (!IsPlainToken(url))
      return problem(field, "the address must be printable ASCII without blanks or braces");
    if (url.size() > kMaxUrl) {
      return problem(field, "the address must be shorter than " + std::to_string(kPathField) +
                                " bytes (it has " + std::to_string(url.size()) + ")");
    }
    const std::optional<WebAddress> address = ParseWebAddress(url);
    if (!address) {
      return problem(
          field,
          "not an address the launcher fetches: https:// (or http:// to this machine), a plain host, "
          "a port from 1 to 65535, no user name, '%' or '\\' before the path");
    }
    if (!address->https && !IsLoopbackHost(address->host)) {
      return problem(field, "plain http is only for this machine (127.0.0.1); use https");
    }
    return {};
  };
  auto versionProblem = [](std::uint16_t version) { return version < 1 || version > kMaxVersion; };
  const std::string versionRule = "a version is a whole number from 1 to " + std::to_string(kMaxVersion) +
                                  " (the launcher reads at most four digits from the installation record)";

  if (!IsPlainToken(c.progName)) {
    return problem(ManifestField::ProgName,
                   "the program name must be printable ASCII without blanks or braces");
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
  if (c.serial == 0)
    return problem(ManifestField::Serial, "the serial is a whole number from 1 to 4294967295");
  if (!ParseManifestTime(ManifestTimeText(c.expires)) || c.expires < 0) {
    return problem(ManifestField::Expires, "the expiry must lie in the years 1970 to 9999 (UTC)");
  }
  const std::string emptyFile = "the file is empty: no launcher can fetch an empty file";
  const std::string hugeFile =
      "the file is over " + std::to_string(kMaxFileBytes) + " bytes, the most a manifest states";
  if (ManifestProblem p = checkUrl(ManifestField::FullUrl, c.fullUrl)) return p;
  if (c.fullSize == 0) return problem(ManifestField::FullUrl, emptyFile);
  if (c.fullSize > kMaxFileBytes) return problem(ManifestField::FullUrl, hugeFile);
  if (c.mirrors.size() > kMaxMirrors)
    return problem(ManifestField::Mirror, "at most " + std::to_string(kMaxMirrors) + " mirrors");
  for (std::size_t k = 0; k < c.mirrors.size(); ++k) {
    if (ManifestProblem p = checkUrl(ManifestField::Mirror, c.mirrors[k])) {
      p.file = k;
      return p;
    }
    if (c.mirrors[k].back() != '/' || c.mirrors[k].find_first_of("?#") != std::string::npos) {
      return problem(ManifestField::Mirror,
                     "a mirror is a base address: it ends in '/' and has no query or fragment", k);
    }
  }
  if (!c.channel.empty() && !IsChannelName(c.channel))
    return problem(ManifestField::Channel, "a channel is 1 to 32 of a-z, 0-9 and '-'");
  if (c.rollout && (c.rollout->percent > 100 ||
                    std::none_of(c.files.begin(), c.files.end(),
                                 [&](const ManifestEntry& f) { return f.version == c.rollout->version; }))) {
    return problem(ManifestField::Rollout, "a rollout names a listed version and a share from 0 to 100");
  }
  if (c.files.empty() && c.deltas.empty() && c.baseUrl.empty()) return {};
  if (c.baseUrl.empty())
    return problem(ManifestField::BaseUrl, "patch files need the base address they lie under");
  if (ManifestProblem p = checkUrl(ManifestField::BaseUrl, c.baseUrl)) return p;
  const std::string base = c.baseUrl.back() == '/' ? c.baseUrl : c.baseUrl + "/";
  if (base.size() > kMaxUrl) {
    return problem(ManifestField::BaseUrl, "with its final '/' the address must be shorter than " +
                                               std::to_string(kPathField) + " bytes");
  }
  for (std::size_t k = 0; k < c.files.size(); ++k) {
    const ManifestEntry& f = c.files[k];
    if (versionProblem(f.version)) return problem(ManifestField::File, versionRule, k);
    if (f.size == 0) return problem(ManifestField::File, emptyFile, k);
    if (f.size > kMaxFileBytes) return problem(ManifestField::File, hugeFile, k);
    if (!IsPlainToken(f.name) || f.name.find_first_of("/\\") != std::string::npos) {
      return problem(ManifestField::File,
                     "the file name must be printable ASCII without blanks, braces or folders", k);
    }
    // A launcher that skips an entry it has reads the file name as a key.
    if (const ManifestKeySpec* key = ManifestKeyOf(f.name)) {
      return problem(ManifestField::File, std::string("a file name must not begin with the key ") + key->name,
                     k);
    }
    if (base.size() + f.name.size() > kMaxUrl) {
      return problem(ManifestField::File,
                     "base address and file name together must be shorter than " +
                         std::to_string(kPathField) + " bytes (they have " +
                         std::to_string(base.size() + f.name.size()) + ")",
                     k);
    }
    if (!IsFetchUrl(base + f.name)) {
      return problem(ManifestField::File,
                     "base address and file name together are not an address the launcher fetches", k);
    }
  }
  for (std::size_t k = 0; k < c.deltas.size(); ++k) {
    const ManifestEntry& d = c.deltas[k];
    const bool hasFile = std::any_of(c.files.begin(), c.files.end(),
                                     [&](const ManifestEntry& f) { return f.version == d.version; });
    if (d.size == 0) return problem(ManifestField::Delta, emptyFile, k);
    if (d.size > kMaxFileBytes) return problem(ManifestField::Delta, hugeFile, k);
    // Launchers fall back to the whole-file patch of the same version.
    if (!hasFile) return problem(ManifestField::Delta, "a delta archive needs a file of its version", k);
    if (!IsPlainToken(d.name) || d.name.find_first_of("/\\") != std::string::npos) {
      return problem(ManifestField::Delta,
                     "the file name must be printable ASCII without blanks, braces or folders", k);
    }
    if (const ManifestKeySpec* key = ManifestKeyOf(d.name)) {
      return problem(ManifestField::Delta,
                     std::string("a file name must not begin with the key ") + key->name, k);
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
  auto facts = [&](const Sha256Digest& digest, std::uint64_t size) {
    return line(ManifestKey::SHA256, ToHex(digest)) + line(ManifestKey::Size, std::to_string(size));
  };
  std::string text = std::string(kManifestHeader) + "\n";
  text += line(ManifestKey::ProgName, c.progName);
  text += line(ManifestKey::Target, ManifestTargetName(c.target));
  text += line(ManifestKey::Serial, std::to_string(c.serial));
  text += line(ManifestKey::Expires, ManifestTimeText(c.expires));
  text += line(ManifestKey::MinVer, std::to_string(c.minVer));
  text += line(ManifestKey::FullDnURL, c.fullUrl) + facts(c.fullSha256, c.fullSize);
  if (!c.baseUrl.empty()) text += line(ManifestKey::UpBaseURL, c.baseUrl);
  for (const std::string& mirror : c.mirrors) text += line(ManifestKey::MirrorURL, mirror);
  if (!c.channel.empty()) text += line(ManifestKey::Channel, c.channel);
  if (c.rollout) {
    text += line(ManifestKey::Rollout,
                 std::to_string(c.rollout->version) + " " + std::to_string(c.rollout->percent));
  }
  for (const ManifestEntry& d : c.deltas) {
    text +=
        line(ManifestKey::UpDeltaList, std::to_string(d.version) + " " + d.name) + facts(d.sha256, d.size);
  }
  for (const ManifestEntry& f : c.files) {
    text += line(ManifestKey::UpFileList, std::to_string(f.version) + " " + f.name) + facts(f.sha256, f.size);
  }
  return text;
}

std::uint32_t RolloutBucketOf(std::string_view machineIdentity) {
  // FNV-1a over a label and the identity, then a final mix: even over any
  // identity, and unlike another product's use of the same identity.
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (const char c : std::string_view("rollout:"))
    h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  for (const char c : machineIdentity) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return static_cast<std::uint32_t>(h % kRolloutBuckets);
}

bool InRollout(std::uint32_t bucket, unsigned percent) {
  return bucket < static_cast<std::uint64_t>(percent) * (kRolloutBuckets / 100);
}

void HoldBackRollout(ManifestPlan& plan) {
  if (!plan.rollout) return;
  const std::uint16_t from = plan.rollout->version;
  auto held = [from](const ManifestFile& f) { return f.version >= from; };
  plan.files.erase(std::remove_if(plan.files.begin(), plan.files.end(), held), plan.files.end());
  plan.deltas.erase(std::remove_if(plan.deltas.begin(), plan.deltas.end(), held), plan.deltas.end());
  plan.latestVer = plan.installedVer;
  for (const ManifestFile& f : plan.files) plan.latestVer = std::max(plan.latestVer, f.version);
}

bool IsChannelName(std::string_view name) {
  if (name.empty() || name.size() > 32) return false;
  return std::all_of(name.begin(), name.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

std::string ChannelAddress(std::string_view url, std::string_view channel) {
  const std::size_t end = std::min(url.find_first_of("?#"), url.size());
  const std::size_t segment = url.substr(0, end).rfind('/') + 1;
  const std::size_t dot = url.substr(0, end).rfind('.');
  const std::size_t at = dot != std::string_view::npos && dot > segment ? dot : end;
  return std::string(url.substr(0, at)) + "." + std::string(channel) + std::string(url.substr(at));
}

}  // namespace qz
