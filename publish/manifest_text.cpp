#include "publish/manifest_text.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "format/codec.h"
#include "publish/publish_error.h"

namespace qz::publish {

namespace {

void Refuse(const std::string& message) { throw PublishError(message); }

Sha256Digest DigestOf(const std::string& hex) {
  const std::optional<Sha256Digest> digest = ParseSha256Hex(hex);
  if (!digest) Refuse("internal: a digest is not 64 hexadecimal digits");
  return *digest;
}

ManifestContent ContentOf(const ManifestRequest& request) {
  ManifestContent content;
  content.progName = request.progName;
  content.minVer = request.minVer;
  content.fullUrl = request.fullUrl;
  content.fullSize = request.fullSize;
  content.baseUrl = request.baseUrl;
  content.mirrors = request.mirrors;
  content.rollout = request.rollout;
  content.channel = request.channel;
  for (const PatchFile& f : request.files) content.files.push_back({f.version, f.name, {}, f.size});
  for (const PatchFile& d : request.deltas) content.deltas.push_back({d.version, d.name, {}, d.size});
  content.target = request.target;
  content.serial = request.serial;
  content.expires = request.expires;
  return content;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

ManifestReading ReadAsNewPlayer(const std::string& text) {
  // Nothing installed: every entry is taken, as for a new player.
  return ReadManifest(text, [](const std::string&) { return std::uint16_t{0}; });
}

}  // namespace

ManifestProblem CheckRelease(const ManifestContent& c) {
  if (c.baseUrl.find_first_of("?#") != std::string::npos) {
    return {
        ManifestField::BaseUrl, 0,
        "the base address has a query or fragment ('?' or '#'): the launcher appends each file name to it, "
        "so no file would be fetched and unpacked as listed"};
  }
  std::map<std::uint16_t, std::size_t> versions, deltaVersions;
  // One address per name: across files and deltas alike, in any case (a
  // server on Windows takes two spellings for one file).
  std::map<std::string, std::string> names;
  std::uint16_t newest = 0;
  auto twice = [&names](const ManifestEntry& e, const char* key) -> std::string {
    const auto [first, fresh] =
        names.emplace(Lower(e.name), std::string(key) + " " + std::to_string(e.version) + " " + e.name);
    if (fresh) return "";
    const std::string& other = first->second;
    const bool sameCase = other.compare(other.size() - e.name.size(), std::string::npos, e.name) == 0;
    return "the file name is listed already (" + other +
           (sameCase ? "" : ", a name that differs only in case") +
           "): one address would stand for two files";
  };
  for (std::size_t k = 0; k < c.files.size(); ++k) {
    const ManifestEntry& f = c.files[k];
    newest = std::max(newest, f.version);
    if (!versions.emplace(f.version, k).second) {
      return {ManifestField::File, k, "version " + std::to_string(f.version) + " is listed twice"};
    }
    const std::string problem = twice(f, "UpFileList");
    if (!problem.empty()) return {ManifestField::File, k, problem};
  }
  for (std::size_t k = 0; k < c.deltas.size(); ++k) {
    const ManifestEntry& d = c.deltas[k];
    if (!deltaVersions.emplace(d.version, k).second) {
      return {ManifestField::Delta, k, "version " + std::to_string(d.version) + " has a delta already"};
    }
    const std::string problem = twice(d, "UpDeltaList");
    if (!problem.empty()) return {ManifestField::Delta, k, problem};
  }
  if (!c.files.empty() && c.minVer > newest) {
    return {ManifestField::MinVer, 0,
            std::to_string(c.minVer) + " is above the newest listed version " + std::to_string(newest) +
                ": every visit would install the game in full"};
  }
  return {};
}

std::uint16_t ParseVersion(const std::string& text, const std::string& what) {
  unsigned long value = 0;
  bool digits = !text.empty() && text.size() <= 5;
  for (char c : text) {
    if (c < '0' || c > '9')
      digits = false;
    else
      value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (!digits || value < 1 || value > kMaxVersion) {
    Refuse(what + ": a version is a whole number from 1 to " + std::to_string(kMaxVersion) + ", not '" +
           text + "' (the launcher reads at most four digits from the installation record)");
  }
  return static_cast<std::uint16_t>(value);
}

std::uint32_t ParseSerial(const std::string& text) {
  unsigned long long value = 0;
  const bool digits =
      !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
  if (digits) value = std::stoull(text);
  if (!digits || value < 1 || value > 0xFFFFFFFFull) {
    Refuse("--serial: a whole number from 1 to 4294967295, not '" + text + "'");
  }
  return static_cast<std::uint32_t>(value);
}

std::int64_t ParseExpires(const std::string& text, std::int64_t now) {
  const std::optional<std::int64_t> time = ParseManifestTime(text);
  if (!time)
    Refuse("--expires: a UTC time written yyyy-mm-ddThh:mmZ (2030-01-31T00:00Z), not '" + text + "'");
  if (*time <= now) Refuse("--expires: " + text + " has passed; launchers would refuse the manifest at once");
  return *time;
}

ManifestTarget ParseTarget(const std::string& text) {
  for (ManifestTarget target : {ManifestTarget::Avatar, ManifestTarget::Game}) {
    if (text == ManifestTargetName(target)) return target;
  }
  Refuse("--target: avatar (the avatar module's manifest) or game, not '" + text + "'");
  return ManifestTarget::Game;
}

void CheckManifest(const ManifestRequest& request) {
  ManifestProblem problem = CheckManifestContent(ContentOf(request));
  if (!problem) problem = CheckRelease(ContentOf(request));
  if (!problem) return;
  std::string what;
  switch (problem.field) {
    case ManifestField::ProgName: what = "--prog: "; break;
    case ManifestField::MinVer: what = "--minver: "; break;
    case ManifestField::FullUrl: what = "--full: "; break;
    case ManifestField::BaseUrl: what = "--base: "; break;
    case ManifestField::Serial: what = "--serial: "; break;
    case ManifestField::Expires: what = "--expires: "; break;
    case ManifestField::Mirror: what = "--mirror " + request.mirrors[problem.file] + ": "; break;
    case ManifestField::Rollout: what = "--percent: "; break;
    case ManifestField::Channel: what = "--channel: "; break;
    case ManifestField::File: {
      const PatchFile& f = request.files[problem.file];
      what = "--file " + std::to_string(f.version) + " " + f.name + ": ";
      break;
    }
    case ManifestField::Delta: {
      const PatchFile& d = request.deltas[problem.file];
      what = "--delta " + std::to_string(d.version) + " " + d.name + ": ";
      break;
    }
    case ManifestField::Text:
    case ManifestField::None: break;
  }
  Refuse(what + problem.message);
}

std::string ManifestText(const ManifestRequest& request) {
  CheckManifest(request);
  ManifestContent content = ContentOf(request);
  content.fullSha256 = DigestOf(request.fullSha256);
  for (std::size_t k = 0; k < request.files.size(); ++k)
    content.files[k].sha256 = DigestOf(request.files[k].sha256);
  for (std::size_t k = 0; k < request.deltas.size(); ++k)
    content.deltas[k].sha256 = DigestOf(request.deltas[k].sha256);
  return ManifestTextOf(content);
}

ManifestRequest RequestOfText(const std::string& text) {
  const ManifestReading reading = ReadAsNewPlayer(text);
  if (reading.outcome != ManifestOutcome::Read) Refuse("not a manifest the launcher reads");
  const ManifestPlan& plan = reading.plan;
  ManifestRequest r;
  auto hex = [](const std::optional<Sha256Digest>& d) { return d ? ToHex(*d) : std::string(); };
  r.progName = plan.progName;
  r.minVer = plan.minVer;
  r.fullUrl = plan.fullDnUrl;
  r.fullSha256 = hex(plan.fullDnSha256);
  r.fullSize = plan.fullDnSize.value_or(0);
  r.baseUrl = plan.upBaseUrl;
  r.mirrors = plan.mirrors;
  r.rollout = plan.rollout;
  r.channel = plan.channel;
  r.target = plan.target.value_or(ManifestTarget::Game);
  r.serial = plan.serial.value_or(0);
  r.expires = plan.expires.value_or(0);
  auto entries = [&](const std::vector<ManifestFile>& list, std::vector<PatchFile>& into, const char* key) {
    for (const ManifestFile& f : list) {
      if (f.url.compare(0, plan.upBaseUrl.size(), plan.upBaseUrl) != 0)
        Refuse(std::string(key) + " " + f.url +
               ": listed under another base address than the last UpBaseURL");
      into.push_back({f.version, f.url.substr(plan.upBaseUrl.size()), hex(f.sha256), f.size.value_or(0)});
    }
  };
  entries(plan.files, r.files, "UpFileList");
  entries(plan.deltas, r.deltas, "UpDeltaList");
  return r;
}

std::vector<ListedFile> ListManifestFiles(const std::string& text) {
  const ManifestReading reading = ReadAsNewPlayer(text);
  if (reading.outcome == ManifestOutcome::NoHeader) {
    Refuse(std::string("not a manifest: it does not begin with ") + kManifestHeader);
  }
  if (reading.outcome == ManifestOutcome::Refused) {
    Refuse(
        "the launcher refuses this manifest: a value does not fit, an address is not a web address, a "
        "digest is not 64 hexadecimal digits, a Serial is not a number from 1 to 4294967295 or a Size one "
        "from 1 to 2^53, an "
        "Expires is not yyyy-mm-ddThh:mmZ, a Target is neither avatar nor game, or one is given twice");
  }
  if (reading.unboundFileValues > 0) Refuse("a digest or size must follow the file entry it belongs to");
  if (reading.keyWithoutValues) Refuse("the manifest ends on a key without its value");
  std::vector<ListedFile> files;
  auto hex = [](const std::optional<Sha256Digest>& d) { return d ? ToHex(*d) : std::string(); };
  if (!reading.plan.fullDnUrl.empty()) {
    files.push_back({ManifestKeyName(ManifestKey::FullDnURL), reading.plan.fullDnUrl,
                     hex(reading.plan.fullDnSha256), reading.plan.fullDnSize});
  }
  for (const ManifestFile& f : reading.plan.files) {
    files.push_back({ManifestKeyName(ManifestKey::UpFileList), f.url, hex(f.sha256), f.size});
  }
  for (const ManifestFile& d : reading.plan.deltas) {
    files.push_back({ManifestKeyName(ManifestKey::UpDeltaList), d.url, hex(d.sha256), d.size});
  }
  return files;
}

ManifestBinding BindingOf(const std::string& text) {
  const ManifestPlan plan = ReadManifest(text, [](const std::string&) { return std::uint16_t{0}; }).plan;
  ManifestBinding binding;
  if (plan.target) binding.target = ManifestTargetName(*plan.target);
  if (plan.serial) binding.serial = std::to_string(*plan.serial);
  if (plan.expires) binding.expires = ManifestTimeText(*plan.expires);
  binding.expiresAt = plan.expires;
  return binding;
}

}  // namespace qz::publish

namespace qz::publish {

std::vector<std::string> ManifestRuleProblems(const std::string& text) {
  std::vector<std::string> problems;
  if (text.size() > kMaxManifestBytes) {
    problems.push_back("the manifest has " + std::to_string(text.size()) +
                       " bytes; the launcher reads at most " + std::to_string(kMaxManifestBytes));
  }
  const ManifestPlan plan = ReadAsNewPlayer(text).plan;
  if (!EveryFileHashed(plan)) {
    problems.push_back(
        "SHA256: a file is listed without its digest; launchers that check signatures refuse the "
        "manifest");
  }
  ManifestContent content;
  content.progName = plan.progName;
  content.minVer = plan.minVer;
  content.fullUrl = plan.fullDnUrl;
  content.baseUrl = plan.upBaseUrl;
  content.mirrors = plan.mirrors;
  content.rollout = plan.rollout;
  content.channel = plan.channel;
  for (const ManifestFile& f : plan.files) {
    if (f.url.compare(0, plan.upBaseUrl.size(), plan.upBaseUrl) != 0) {
      problems.push_back("UpFileList " + std::to_string(f.version) + " " + f.url +
                         ": listed under another base address than the last UpBaseURL");
      continue;
    }
    content.files.push_back({f.version, f.url.substr(plan.upBaseUrl.size()), {}, f.size.value_or(1)});
  }
  for (const ManifestFile& d : plan.deltas) {
    if (d.url.compare(0, plan.upBaseUrl.size(), plan.upBaseUrl) != 0) {
      problems.push_back("UpDeltaList " + std::to_string(d.version) + " " + d.url +
                         ": listed under another base address than the last UpBaseURL");
      continue;
    }
    content.deltas.push_back({d.version, d.url.substr(plan.upBaseUrl.size()), {}, d.size.value_or(1)});
  }
  // Missing binding keys and sizes are reported with the binding; stand-ins
  // let the remaining rules be checked.
  content.fullSize = plan.fullDnSize.value_or(1);
  content.serial = plan.serial.value_or(1);
  content.expires = plan.expires.value_or(0);
  content.target = plan.target.value_or(ManifestTarget::Game);
  auto name = [&](const ManifestProblem& p) -> std::string {
    switch (p.field) {
      case ManifestField::ProgName: return "ProgName";
      case ManifestField::MinVer: return "MinVer";
      case ManifestField::FullUrl: return "FullDnURL";
      case ManifestField::BaseUrl: return "UpBaseURL";
      case ManifestField::File:
        return "UpFileList " + std::to_string(content.files[p.file].version) + " " +
               content.files[p.file].name;
      case ManifestField::Delta:
        return "UpDeltaList " + std::to_string(content.deltas[p.file].version) + " " +
               content.deltas[p.file].name;
      case ManifestField::Serial: return "Serial";
      case ManifestField::Expires: return "Expires";
      case ManifestField::Mirror: return "MirrorURL " + content.mirrors[p.file];
      case ManifestField::Rollout: return "Rollout";
      case ManifestField::Channel: return "Channel";
      case ManifestField::Text:
      case ManifestField::None: break;
    }
    return "manifest";
  };
  // A value the text lacks is named once; a stand-in lets the rest be checked.
  if (plan.progName.empty()) problems.push_back("ProgName: missing");
  if (plan.fullDnUrl.empty()) problems.push_back("FullDnURL: missing");
  if (content.progName.empty()) content.progName = "-";
  if (content.fullUrl.empty()) content.fullUrl = "https://missing/";
  for (const ManifestProblem& p : {CheckManifestContent(content), CheckRelease(content)}) {
    if (p) problems.push_back(name(p) + ": " + p.message);
  }
  return problems;
}

}  // namespace qz::publish
