#include "publish/manifest_text.h"

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
  for (const PatchFile& f : request.files) content.files.push_back({f.version, f.name, {}, f.size});
  for (const PatchFile& d : request.deltas) content.deltas.push_back({d.version, d.name, {}, d.size});
  content.target = request.target;
  content.serial = request.serial;
  content.expires = request.expires;
  return content;
}

}  // namespace

std::uint16_t ParseVersion(const std::string& text, const std::string& what) {
  unsigned long value = 0;
  bool digits = !text.empty() && text.size() <= 5;
  for (char c : text) {
    if (c < '0' || c > '9') digits = false;
    else value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  if (!digits || value < 1 || value > kMaxVersion) {
    Refuse(what + ": a version is a whole number from 1 to " + std::to_string(kMaxVersion) + ", not '" + text +
           "' (the launcher reads at most four digits from the installation record)");
  }
  return static_cast<std::uint16_t>(value);
}

std::uint32_t ParseSerial(const std::string& text) {
  unsigned long long value = 0;
  const bool digits = !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
  if (digits) value = std::stoull(text);
  if (!digits || value < 1 || value > 0xFFFFFFFFull) {
    Refuse("--serial: a whole number from 1 to 4294967295, not '" + text + "'");
  }
  return static_cast<std::uint32_t>(value);
}

std::int64_t ParseExpires(const std::string& text, std::int64_t now) {
  const std::optional<std::int64_t> time = ParseManifestTime(text);
  if (!time) Refuse("--expires: a UTC time written yyyy-mm-ddThh:mmZ (2030-01-31T00:00Z), not '" + text + "'");
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
  const ManifestProblem problem = CheckManifestContent(ContentOf(request));
  if (!problem) return;
  std::string what;
  switch (problem.field) {
    case ManifestField::ProgName: what = "--prog: "; break;
    case ManifestField::MinVer: what = "--minver: "; break;
    case ManifestField::FullUrl: what = "--full: "; break;
    case ManifestField::BaseUrl: what = "--base: "; break;
    case ManifestField::Serial: what = "--serial: "; break;
    case ManifestField::Expires: what = "--expires: "; break;
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
  for (std::size_t k = 0; k < request.files.size(); ++k) content.files[k].sha256 = DigestOf(request.files[k].sha256);
  for (std::size_t k = 0; k < request.deltas.size(); ++k) content.deltas[k].sha256 = DigestOf(request.deltas[k].sha256);
  return ManifestTextOf(content);
}

std::vector<ListedFile> ListManifestFiles(const std::string& text) {
  // Nothing installed: every entry is taken, as for a new player.
  const ManifestReading reading = ReadManifest(text, [](const std::string&) { return std::uint16_t{0}; });
  if (reading.outcome == ManifestOutcome::NoHeader) {
    Refuse(std::string("not a manifest: it does not begin with ") + kManifestHeader);
  }
  if (reading.outcome == ManifestOutcome::Refused) {
    Refuse("the launcher refuses this manifest: a value does not fit, an address is not a web address, a "
           "digest is not 64 hexadecimal digits, a Serial or Size is not a number from 1 to 4294967295, an "
           "Expires is not yyyy-mm-ddThh:mmZ, a Target is neither avatar nor game, or one is given twice");
  }
  if (reading.unboundFileValues > 0) Refuse("a digest or size must follow the file entry it belongs to");
  if (reading.keyWithoutValues) Refuse("the manifest ends on a key without its value");
  std::vector<ListedFile> files;
  auto hex = [](const std::optional<Sha256Digest>& d) { return d ? ToHex(*d) : std::string(); };
  if (!reading.plan.fullDnUrl.empty()) {
    files.push_back({ManifestKeyName(ManifestKey::FullDnURL), reading.plan.fullDnUrl, hex(reading.plan.fullDnSha256),
                     reading.plan.fullDnSize});
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
