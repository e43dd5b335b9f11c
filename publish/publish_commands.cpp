#include "publish/publish_commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "format/codec.h"
#include "format/delta_archive.h"
#include "format/ticket.h"

#include "publish/manifest_text.h"
#include "publish/mirror_check.h"
#include "publish/output_guard.h"
#include "publish/patch_plan.h"
#include "publish/publish_archive.h"
#include "publish/publish_crypto.h"
#include "publish/publish_delta.h"
#include "publish/publish_error.h"
#include "publish/publish_files.h"
#include "publish/publish_report.h"
#include "publish/publish_text.h"

namespace qz::publish {

namespace {

constexpr char kUsage[] =
    "usage: qzpublish keygen KEYFILE [PASS] [--json]\n"
    "       qzpublish pubkey KEYFILE [PASS]\n"
    "       qzpublish patch OLD_DIR NEW_DIR OUT.zip [--delta-max BYTES] [--delta-level N] [--from VERSION "
    "--to VERSION]\n"
    "                       [--allow-downgrade] [--mtime SECONDS] [--force] [--json]\n"
    "       qzpublish full DIR OUT.zip [--mtime SECONDS] [--force] [--json]\n"
    "       qzpublish manifest --prog NAME --minver N --full URL FILE [--base URL] [--mirror URL]...\n"
    "                          [--channel NAME]\n"
    "                          [--file VERSION FILE]... [--delta VERSION FILE]... [--target avatar|game]\n"
    "                          [--serial N] [--expires yyyy-mm-ddThh:mmZ] [--sign KEYFILE]... [PASS]\n"
    "                          [--force] [--json] OUT.txt\n"
    "       qzpublish verify MANIFEST --key PUBLIC [--files DIR] [--mirrors]\n"
    "       qzpublish rollout MANIFEST --percent N --sign KEYFILE... [PASS] [--serial N] [--expires T]\n"
    "       qzpublish sign FILE --key PRIVATE... [PASS] [--force] [--json]\n"
    "       qzpublish cosign FILE --key PRIVATE [PASS] [--json]   (adds a line to FILE.sig)\n"
    "       qzpublish ticket --key PRIVATE [PASS] --field NAME=VALUE... [--valid SECONDS]\n"
    "PASS, the passphrase of a protected key: --pass-env NAME or --pass-file FILE\n";

// Archive times from here on: DOS dates end in 2107, the UTC stamp in 2038.
constexpr std::time_t kFirstArchiveTime = 315532800;  // 1980-01-01 00:00 UTC
constexpr std::time_t kLastArchiveTime = 2147483647;  // 2038-01-19 03:14:07 UTC

struct Usage : PublishError {
  using PublishError::PublishError;
};

void Need(bool ok, const std::string& what) {
  if (!ok) throw Usage(what);
}

// The options several commands share, taken out of the arguments wherever
// they stand; each command names the ones it takes.
struct Shared {
  bool force = false;
  bool json = false;
  bool allowDowngrade = false;
  std::optional<std::time_t> mtime;
  std::optional<std::uint16_t> from, to;
  Passphrase passphrase;
  std::string passFile;

  Shared() = default;
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  ~Shared() {
    if (passphrase && !passphrase->empty()) OPENSSL_cleanse(&(*passphrase)[0], passphrase->size());
  }
};

std::time_t ParseTime(const std::string& text) {
  const bool digits =
      !text.empty() && text.size() <= 10 && text.find_first_not_of("0123456789") == std::string::npos;
  const long long value = digits ? std::stoll(text) : 0;
  if (value < kFirstArchiveTime || value > kLastArchiveTime) {
    throw PublishError("--mtime: seconds since 1970 in UTC, from " + std::to_string(kFirstArchiveTime) +
                       " (1980) to " + std::to_string(kLastArchiveTime) + " (2038), not '" + text + "'");
  }
  return static_cast<std::time_t>(value);
}

// The passphrase's first line, without its line end.
std::string PassphraseFile(const std::string& path) {
  std::string text = ReadText(path);
  text.resize(std::min(text.find('\n'), text.size()));
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

void TakeShared(std::vector<std::string>& a, Shared& s, std::initializer_list<const char*> accepted) {
  static const char* const kFlags[] = {"--force", "--json", "--allow-downgrade"};
  static const char* const kValued[] = {"--mtime", "--from", "--to", "--pass-env", "--pass-file"};
  std::vector<std::string> rest{a[0]};
  std::map<std::string, std::string> seen;
  for (std::size_t i = 1; i < a.size(); ++i) {
    const std::string& o = a[i];
    const bool flag = std::find(std::begin(kFlags), std::end(kFlags), o) != std::end(kFlags);
    const bool valued = std::find(std::begin(kValued), std::end(kValued), o) != std::end(kValued);
    if (!flag && !valued) {
      rest.push_back(o);
      continue;
    }
    Need(std::find(accepted.begin(), accepted.end(), o) != accepted.end(), a[0] + " takes no " + o);
    Need(!seen.count(o), o + " is given twice");
    if (valued) Need(i + 1 < a.size(), o + " needs a value");
    seen[o] = valued ? a[++i] : "";
  }
  a.swap(rest);
  s.force = seen.count("--force") > 0;
  s.json = seen.count("--json") > 0;
  s.allowDowngrade = seen.count("--allow-downgrade") > 0;
  if (seen.count("--mtime")) s.mtime = ParseTime(seen["--mtime"]);
  if (seen.count("--from")) s.from = ParseVersion(seen["--from"], "--from");
  if (seen.count("--to")) s.to = ParseVersion(seen["--to"], "--to");
  Need(s.from.has_value() == s.to.has_value(), "--from and --to go together");
  Need(!(seen.count("--pass-env") && seen.count("--pass-file")),
       "one passphrase only: --pass-env or --pass-file");
  if (seen.count("--pass-env")) {
    const std::string& name = seen["--pass-env"];
    const char* value = std::getenv(name.c_str());
    if (!value) throw PublishError("--pass-env: the environment has no variable " + name);
    s.passphrase = std::string(value);
  } else if (seen.count("--pass-file")) {
    s.passFile = seen["--pass-file"];
    s.passphrase = PassphraseFile(s.passFile);
  }
  if (s.passphrase && s.passphrase->empty()) throw PublishError("the passphrase given is empty");
}

// Exactly `count` arguments after the command, and no unknown option.
void Positional(const std::vector<std::string>& a, std::size_t count, const std::string& usage) {
  for (std::size_t i = 1; i < a.size(); ++i) Need(a[i].compare(0, 2, "--") != 0, "unknown option " + a[i]);
  Need(a.size() == count + 1, usage);
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string TrimLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

void WriteArchiveOf(const std::string& root, const Listing& tree, const PatchPlan& plan,
                    const std::string& out, const Shared& s, WriteReport& report, std::ostream& text) {
  WriteArchive(out, root, tree, plan.entries, {}, s.mtime);
  report.Wrote(out);
  if (s.json) return report.PrintJson(text);
  for (const ArchiveEntry& e : plan.entries) text << "added " << e.path << (e.folder ? "/" : "") << "\n";
  text << "wrote " << out << " (" << plan.entries.size() << " entries)\n";
}

int Keygen(std::vector<std::string> a, std::ostream& out) {
  Shared s;
  TakeShared(a, s, {"--pass-env", "--pass-file", "--json"});
  Positional(a, 1, "keygen takes one KEYFILE");
  CheckOutputFolder(a[1]);
  const KeyPair key = GenerateKey(s.passphrase);
  WriteNewPrivate(a[1], key.privatePem);
  WriteReport report("keygen");
  report.Wrote(a[1]);
  report.Add("publicKey", ToBase64(key.publicKey));
  if (s.json)
    report.PrintJson(out);
  else
    out << ToBase64(key.publicKey) << "\n";
  return 0;
}

int Pubkey(std::vector<std::string> a, std::ostream& out) {
  Shared s;
  TakeShared(a, s, {"--pass-env", "--pass-file"});
  Positional(a, 1, "pubkey takes one KEYFILE");
  out << ToBase64(PublicKeyOf(ReadText(a[1]), s.passphrase)) << "\n";
  return 0;
}

// The version a release folder is named by ("release/102"), if it is one.
std::optional<std::uint16_t> VersionOfFolder(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  try {
    return ParseVersion(BaseName(path), "");
  } catch (const PublishError&) {
    return std::nullopt;
  }
}

// A patch leads from the older release to the newer: the versions given, or
// else the folders' names when both are versions, must say so. False when
// neither tells the versions.
bool CheckDirection(const std::vector<std::string>& a, const Shared& s) {
  const bool given = s.from.has_value();
  const std::optional<std::uint16_t> folderFrom = VersionOfFolder(a[1]), folderTo = VersionOfFolder(a[2]);
  // Two sources that disagree: one of them is a mistake, and a patch in the
  // wrong direction would reach players.
  if (given && folderFrom && folderTo && (*folderFrom != *s.from || *folderTo != *s.to)) {
    throw PublishError("--from " + std::to_string(*s.from) + " --to " + std::to_string(*s.to) +
                       " contradict the folders' names (" + std::to_string(*folderFrom) + " and " +
                       std::to_string(*folderTo) + ")");
  }
  const std::optional<std::uint16_t> from = given ? s.from : folderFrom;
  const std::optional<std::uint16_t> to = given ? s.to : folderTo;
  const std::string names = given ? "--from and --to" : a[1] + " and " + a[2];
  if (!from || !to) return false;
  if (*from == *to)
    throw PublishError(names + " are both version " + std::to_string(*from) +
                       ": a patch leads from one version to another");
  if (*from > *to && !s.allowDowngrade) {
    throw PublishError("the trees are in the wrong order: " + names + " make a patch from version " +
                       std::to_string(*from) + " back to " + std::to_string(*to) +
                       " (give --allow-downgrade if that is meant)");
  }
  return true;
}

int Patch(std::vector<std::string> args, std::ostream& out, std::ostream& err) {
  Shared s;
  TakeShared(args, s, {"--from", "--to", "--allow-downgrade", "--mtime", "--force", "--json"});
  std::vector<std::string> a;
  DeltaOptions delta;
  bool deltaMaxGiven = false, deltaLevelGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool max = args[i] == "--delta-max";
    if (!max && args[i] != "--delta-level") {
      a.push_back(args[i]);
      continue;
    }
    Need(!(max ? deltaMaxGiven : deltaLevelGiven), args[i] + " is given twice");
    (max ? deltaMaxGiven : deltaLevelGiven) = true;
    Need(i + 1 < args.size(), args[i] + (max ? " needs a number of bytes" : " needs a level"));
    const std::string& v = args[++i];
    const bool digits = !v.empty() && v.size() < 19 && v.find_first_not_of("0123456789") == std::string::npos;
    if (max) {
      Need(digits, "--delta-max: a whole number of bytes");
      delta.deltaMax = std::stoull(v);
    } else {
      Need(digits && std::stoull(v) >= 1 && std::stoull(v) <= static_cast<unsigned>(kMaxDeltaLevel),
           "--delta-level: a whole number from 1 (fastest) to " + std::to_string(kMaxDeltaLevel) +
               " (smallest; " + std::to_string(kDefaultDeltaLevel) + " unless given)");
      delta.level = static_cast<int>(std::stoull(v));
    }
  }
  Positional(a, 3, "patch takes OLD_DIR NEW_DIR OUT.zip");
  const bool ordered = CheckDirection(a, s);
  const Listing oldTree = ReadTree(a[1]);
  const Listing newTree = ReadTree(a[2]);
  OutputGuard guard(s.force);
  guard.KeepTree(a[1], oldTree, "a file of the old release");
  guard.KeepTree(a[2], newTree, "a file of the new release");
  guard.Allow(a[3]);
  const PatchPlan plan = PlanPatch(oldTree, newTree);
  if (plan.entries.empty() && plan.removed.empty()) {
    throw PublishError("nothing in " + a[2] + " differs from " + a[1] + ": no patch written");
  }
  for (const auto& entry : plan.entries) {
    if (Lower(entry.zipName) == kRemovedListName) {
      throw PublishError(entry.path + ": the name is the one that lists removed files in a patch");
    }
  }
  const std::string deltaPath = DeltaPathOf(a[3]);
  guard.Allow(deltaPath);
  std::vector<std::pair<std::string, std::string>> notes;
  if (!plan.removed.empty()) notes.emplace_back(kRemovedListName, RemovedListText(plan.removed));
  WriteArchive(a[3], a[2], newTree, plan.entries, notes, s.mtime);
  WriteReport report("patch");
  report.Wrote(a[3]);
  std::ostringstream text;
  for (const ArchiveEntry& e : plan.entries) text << "added " << e.path << (e.folder ? "/" : "") << "\n";
  for (const std::string& name : plan.removed) text << "removed " << name << "\n";
  text << "wrote " << a[3] << " (" << plan.entries.size() + notes.size() << " entries)\n";
  struct stat written;
  delta.wholeBytes = stat(a[3].c_str(), &written) == 0 ? static_cast<std::uint64_t>(written.st_size) : 0;
  const DeltaResult deltaResult = WriteDeltaArchive(deltaPath, a[1], oldTree, a[2], plan, delta);
  if (deltaResult.written) {
    report.Wrote(deltaPath);
    text << "wrote " << deltaPath << " (" << deltaResult.changed << " deltas, " << plan.removed.size()
         << " removals, " << deltaResult.bytes << " bytes)\n";
  } else {
    text << "no delta archive: " << deltaResult.why << "\n";
    report.Add("noDelta", deltaResult.why);
    // One of an earlier run would be listed by mistake.
    if (IsFile(deltaPath) && unlink(deltaPath.c_str()) == 0) {
      report.Removed(deltaPath);
      text << "removed the stale " << deltaPath << "\n";
    }
  }
  if (s.json)
    report.PrintJson(out);
  else
    out << text.str();
  if (!ordered) {
    err << "warning: the versions of " << a[1] << " and " << a[2]
        << " are not known (give --from and --to): their order was not checked\n";
  }
  return 0;
}

int Full(std::vector<std::string> a, std::ostream& out) {
  Shared s;
  TakeShared(a, s, {"--mtime", "--force", "--json"});
  Positional(a, 2, "full takes DIR OUT.zip");
  const Listing tree = ReadTree(a[1]);
  OutputGuard guard(s.force);
  guard.KeepTree(a[1], tree, "a file of the release");
  guard.Allow(a[2]);
  const PatchPlan plan = PlanFull(tree);
  if (plan.entries.empty()) throw PublishError(a[1] + " is empty: no archive written");
  WriteReport report("full");
  WriteArchiveOf(a[1], tree, plan, a[2], s, report, out);
  return 0;
}

// The first bytes of a file (fewer when it is shorter).
std::string ReadHead(const std::string& path, std::size_t bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PublishError("cannot read " + path);
  std::string head(bytes, '\0');
  in.read(&head[0], static_cast<std::streamsize>(bytes));
  head.resize(static_cast<std::size_t>(in.gcount()));
  return head;
}

// Each --file is no delta archive, and each --delta is one that launchers
// read and that brings exactly what the --file of its version brings (a
// delta listed under another version would be refused by every player, who
// would then download both).
void CheckDeltaFiles(const ManifestRequest& r, const std::vector<std::string>& patchFiles,
                     const std::vector<std::string>& deltaFiles) {
  const std::string magic = kDeltaMagicPrefix;
  for (std::size_t k = 0; k < patchFiles.size(); ++k) {
    if (ReadHead(patchFiles[k], magic.size()) == magic) {
      const std::string v = std::to_string(r.files[k].version);
      throw PublishError("--file " + v + " " + patchFiles[k] + ": a delta archive; list it with --delta " +
                         v);
    }
  }
  for (std::size_t k = 0; k < deltaFiles.size(); ++k) {
    const PatchFile& d = r.deltas[k];
    const std::string what = "--delta " + std::to_string(d.version) + " " + deltaFiles[k] + ": ";
    const DeltaReading reading = ReadDeltaIndex(ReadHead(deltaFiles[k], kMaxDeltaIndexBytes + 16), d.size);
    if (!reading.index)
      throw PublishError(what + "not a delta archive launchers read (" + reading.problem + ")");
    std::size_t f = 0;
    while (r.files[f].version != d.version) ++f;  // CheckManifest found it
    const std::string whole = "--file " + std::to_string(d.version) + " " + patchFiles[f];
    std::vector<std::string> names;
    for (const DeltaPatch& p : reading.index->patches) names.push_back(p.name);
    PatchContent patch;
    try {
      patch = ReadPatchContent(patchFiles[f], names);
    } catch (const PublishError&) {
      throw PublishError(what + "a delta stands in for a zip patch, and " + whole + " is none");
    }
    std::string differs;
    for (const DeltaPatch& p : reading.index->patches) {
      const auto it = patch.files.find(p.name);
      if (it == patch.files.end() || it->second != p.resultBytes) {
        differs = p.name;
        break;
      }
      patch.files.erase(it);
    }
    if (differs.empty() && !patch.files.empty()) differs = patch.files.begin()->first;
    if (differs.empty() && patch.namedSha256 != ToHex(reading.index->resultsSha256))
      differs = "a file's content";
    if (differs.empty() && ReadRemovedList(patch.removedList).value_or(std::vector<std::string>{"?"}) !=
                               reading.index->removed) {
      differs = "the removed files";
    }
    if (!differs.empty()) {
      throw PublishError(what + "it does not bring what " + whole + " brings (" + differs +
                         " differs): was it made for another version?");
    }
  }
}

// A manifest already at the output with a higher Serial has been (or will
// be) read by launchers, which then refuse a lower one for good.
void CheckSerialAgainst(const std::string& output, std::uint32_t serial) {
  if (!IsFile(output)) return;
  const ManifestBinding old = BindingOf(ReadText(output));
  if (old.serial.empty() || std::stoull(old.serial) <= serial) return;
  throw PublishError("--serial " + std::to_string(serial) + " is lower than Serial " + old.serial + " of " +
                     output +
                     ": launchers that read that one refuse a lower serial for good; give a higher --serial");
}

// Unless given: the release time as the serial, so each release counts
// higher than the one before, and 30 days until launchers stop believing it.
constexpr std::int64_t kDefaultValidity = 30 * 24 * 3600;

int Manifest(std::vector<std::string> a, std::ostream& out) {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  Shared s;
  TakeShared(a, s, {"--pass-env", "--pass-file", "--force", "--json"});
  ManifestRequest request;
  request.serial = static_cast<std::uint32_t>(now);
  request.expires = now + kDefaultValidity;
  std::string fullFile, output;
  std::vector<std::string> keyFiles;  // one signature line each
  bool prog = false, minver = false;
  std::vector<std::string> patchFiles, deltaFiles;
  for (std::size_t i = 1; i < a.size(); ++i) {
    const std::string& o = a[i];
    auto value = [&](std::size_t n) {
      Need(i + n < a.size(), o + " needs " + std::to_string(n) + (n == 1 ? " value" : " values"));
      i += n;
    };
    if (o == "--prog") {
      value(1);
      request.progName = a[i];
      prog = true;
    } else if (o == "--minver") {
      value(1);
      request.minVer = ParseVersion(a[i], "--minver");
      minver = true;
    } else if (o == "--full") {
      value(2);
      request.fullUrl = a[i - 1];
      fullFile = a[i];
    } else if (o == "--base") {
      value(1);
      request.baseUrl = a[i];
    } else if (o == "--channel") {
      value(1);
      request.channel = a[i] == kMainChannel ? std::string() : a[i];
    } else if (o == "--mirror") {
      value(1);
      request.mirrors.push_back(!a[i].empty() && a[i].back() == '/' ? a[i] : a[i] + "/");
    } else if (o == "--file") {
      value(2);
      request.files.push_back({ParseVersion(a[i - 1], "--file"), BaseName(a[i]), ""});
      patchFiles.push_back(a[i]);
    } else if (o == "--delta") {
      value(2);
      request.deltas.push_back({ParseVersion(a[i - 1], "--delta"), BaseName(a[i]), "", 0});
      deltaFiles.push_back(a[i]);
    } else if (o == "--sign") {
      value(1);
      keyFiles.push_back(a[i]);
    } else if (o == "--target") {
      value(1);
      request.target = ParseTarget(a[i]);
    } else if (o == "--serial") {
      value(1);
      request.serial = ParseSerial(a[i]);
    } else if (o == "--expires") {
      value(1);
      request.expires = ParseExpires(a[i], now);
    } else {
      Need(o.compare(0, 2, "--") != 0, "unknown option " + o);
      Need(output.empty(), "one output file only (" + output + ", " + o + ")");
      output = o;
    }
  }
  Need(prog && minver && !fullFile.empty(), "manifest needs --prog, --minver and --full");
  Need(!output.empty(), "manifest needs the output file OUT.txt");
  request.fullSize = SizeOfFile(fullFile);
  for (std::size_t k = 0; k < request.files.size(); ++k) request.files[k].size = SizeOfFile(patchFiles[k]);
  for (std::size_t k = 0; k < request.deltas.size(); ++k) request.deltas[k].size = SizeOfFile(deltaFiles[k]);
  Need(!s.passphrase || !keyFiles.empty(), "a passphrase is only for the key of --sign");
  CheckManifest(request);
  CheckDeltaFiles(request, patchFiles, deltaFiles);
  CheckSerialAgainst(output, request.serial);
  const std::string sigPath = output + ".sig";
  OutputGuard guard(s.force);
  guard.Keep(fullFile, "the full installer given");
  for (const std::string& f : patchFiles) guard.Keep(f, "a patch file given");
  for (const std::string& f : deltaFiles) guard.Keep(f, "a delta archive given");
  for (const std::string& keyFile : keyFiles) guard.Keep(keyFile, "the signing key");
  if (!s.passFile.empty()) guard.Keep(s.passFile, "the passphrase file");
  guard.Allow(output);
  guard.Allow(sigPath);
  request.fullSha256 = Sha256OfFile(fullFile);
  for (std::size_t k = 0; k < request.files.size(); ++k)
    request.files[k].sha256 = Sha256OfFile(patchFiles[k]);
  for (std::size_t k = 0; k < request.deltas.size(); ++k) {
    request.deltas[k].sha256 = Sha256OfFile(deltaFiles[k]);
  }
  const std::string text = ManifestText(request);
  WriteReport report("manifest");
  // The signature goes first; a failure puts back the old pair.
  if (!keyFiles.empty()) {
    std::string signature;
    for (const std::string& keyFile : keyFiles)
      signature += ToBase64(Sign(ReadText(keyFile), text, s.passphrase)) + "\n";
    ReplaceTogether({{sigPath, signature}, {output, text}});
    report.Wrote(output);
    report.Wrote(sigPath);
    if (!s.json) out << "wrote " << output << " and its signature " << sigPath << "\n";
  } else {
    // A signature of an earlier manifest would only make launchers refuse this one.
    const bool stale = IsFile(sigPath);
    ReplaceTogether({{sigPath, std::nullopt}, {output, text}});
    report.Wrote(output);
    if (stale) report.Removed(sigPath);
    if (!s.json) out << "wrote " << output << " (unsigned)\n";
    if (stale && !s.json) out << "removed the stale signature " << sigPath << "\n";
  }
  if (s.json) report.PrintJson(out);
  return 0;
}

// The file under dir that a URL names: its whole path, else ever shorter
// tails of it down to the bare name, the first that exists (a mirror of the
// site and a flat folder of uploads both work). Empty when none exists or
// the path climbs.
std::string LocalFileOf(const std::string& url, const std::string& dir) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return "";
  std::size_t start = url.find('/', scheme + 3);
  if (start == std::string::npos) return "";
  const std::string path = url.substr(start, url.find_first_of("?#", start) - start);
  std::vector<std::string> parts;
  for (std::size_t i = 0; i <= path.size();) {
    std::size_t slash = path.find('/', i);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(i, slash - i);
    if (part == "..") return "";
    if (!part.empty() && part != ".") parts.push_back(part);
    i = slash + 1;
  }
  for (std::size_t k = 0; k < parts.size(); ++k) {
    std::string candidate = dir;
    for (std::size_t j = k; j < parts.size(); ++j) candidate += "/" + parts[j];
    if (IsFile(candidate)) return candidate;
  }
  return "";
}

int Verify(const std::vector<std::string>& a, std::ostream& out) {
  std::string manifest, keyArg, dir;
  bool mirrors = false;
  for (std::size_t i = 1; i < a.size(); ++i) {
    if (a[i] == "--mirrors") {
      mirrors = true;
    } else if (a[i] == "--key" || a[i] == "--files") {
      Need(i + 1 < a.size(), a[i] + " needs a value");
      (a[i] == "--key" ? keyArg : dir) = a[i + 1];
      ++i;
    } else {
      Need(a[i].compare(0, 2, "--") != 0, "unknown option " + a[i]);
      Need(manifest.empty(), "verify checks one manifest");
      manifest = a[i];
    }
  }
  Need(!manifest.empty() && !keyArg.empty(), "verify needs MANIFEST and --key PUBLIC");
  if (IsFile(keyArg) && LooksLikePrivateKey(keyArg)) {
    throw PublishError("--key: " + keyArg +
                       " is a private key; verify takes the public key line (qzpublish pubkey " + keyArg +
                       " prints it)");
  }
  const std::string keyText = TrimLineEnd(IsFile(keyArg) ? ReadText(keyArg) : keyArg);
  const auto key = FromBase64(keyText);
  if (!key || key->size() != 65) throw PublishError("--key: not a public key line (base64 of 65 bytes)");
  const std::string text = ReadText(manifest);
  const std::vector<ListedFile> files = ListManifestFiles(text);
  if (!dir.empty() && !IsFolder(dir)) throw PublishError("--files: " + dir + ": no such folder");

  bool good = true;
  const std::string sigPath = manifest + ".sig";
  // One line per signing key: the key given must have signed one of them.
  const std::optional<std::vector<P256Signature>> lines =
      IsFile(sigPath) ? ParseSignatureLines(ReadText(sigPath)) : std::nullopt;
  bool signedByKey = false;
  for (const P256Signature& line : lines.value_or(std::vector<P256Signature>{})) {
    signedByKey = signedByKey || qz::publish::Verify(*key, text, std::string(line.begin(), line.end()));
  }
  if (!IsFile(sigPath)) {
    out << "signature: MISSING (" << sigPath << ")\n";
    good = false;
  } else if (!signedByKey) {
    out << "signature: BAD (" << sigPath << " does not match this manifest and key)\n";
    good = false;
  } else {
    out << "signature: verified"
        << (lines->size() > 1 ? " (one of " + std::to_string(lines->size()) + " lines)" : "") << "\n";
  }
  // What launchers with keys also demand: the manifest bound and still valid.
  const ManifestBinding binding = BindingOf(text);
  if (binding.target.empty() || binding.serial.empty() || binding.expires.empty()) {
    out << "binding: MISSING (Target, Serial and Expires; launchers with keys refuse it)\n";
    good = false;
  } else {
    const bool expired = *binding.expiresAt <= static_cast<std::int64_t>(std::time(nullptr));
    out << "Target " << binding.target << ", Serial " << binding.serial << ", expires " << binding.expires
        << (expired ? ": EXPIRED" : "") << "\n";
    good = good && !expired;
  }
  const std::vector<std::string> problems = ManifestRuleProblems(text);
  for (const std::string& p : problems) out << "rules: " << p << "\n";
  if (problems.empty())
    out << "rules: kept (addresses, names, versions and limits as the launcher reads them)\n";
  good = good && problems.empty();
  if (!dir.empty()) {
    for (const ListedFile& f : files) {
      const std::string local = LocalFileOf(f.url, dir);
      std::string verdict = "ok";
      if (f.sha256.empty())
        verdict = "NO SHA256";
      else if (!f.size)
        verdict = "NO Size";
      else if (local.empty())
        verdict = "MISSING under " + dir;
      else if (Sha256OfFile(local) != Lower(f.sha256))
        verdict = "DIFFERS (" + local + ")";
      else if (SizeOfFile(local) != *f.size)
        verdict = "SIZE DIFFERS (" + local + ")";
      if (verdict != "ok") good = false;
      out << f.key << " " << f.url << ": " << verdict << "\n";
    }
  }
  if (mirrors && !CheckMirrors(ManifestMirrors(text), files, out)) good = false;
  return good ? 0 : 1;
}

// The detached signature a launcher asks for before it runs or unpacks a
// setup mode's installer: over the file's bytes, in a manifest's form, as
// FILE.sig beside it.
int SignFile(std::vector<std::string> a, std::ostream& out) {
  Shared s;
  TakeShared(a, s, {"--pass-env", "--pass-file", "--force", "--json"});
  const bool cosign = a[0] == "cosign";
  std::string file;
  std::vector<std::string> keyFiles;  // one signature line each
  for (std::size_t i = 1; i < a.size(); ++i) {
    if (a[i] == "--key") {
      Need(i + 1 < a.size(), "--key needs a value");
      keyFiles.push_back(a[++i]);
    } else {
      Need(a[i].compare(0, 2, "--") != 0, "unknown option " + a[i]);
      Need(file.empty(), a[0] + " signs one file");
      file = a[i];
    }
  }
  Need(!file.empty() && !keyFiles.empty(), a[0] + " needs FILE and --key PRIVATE");
  if (!IsFile(file)) throw PublishError(file + ": no such file");
  const std::string sigPath = file + ".sig";
  // A cosignature is added to the lines already there, which must all be
  // signatures: a damaged .sig is not signed over.
  std::string signature;
  if (cosign) {
    if (!IsFile(sigPath)) throw PublishError(sigPath + ": no such file; sign first, then cosign");
    signature = ReadText(sigPath);
    if (!ParseSignatureLines(signature)) throw PublishError(sigPath + ": a line is no signature");
    if (!signature.empty() && signature.back() != '\n') signature += "\n";
  }
  OutputGuard guard(s.force || cosign);
  guard.Keep(file, "the file signed");
  for (const std::string& keyFile : keyFiles) guard.Keep(keyFile, "the signing key");
  if (!s.passFile.empty()) guard.Keep(s.passFile, "the passphrase file");
  guard.Allow(sigPath);
  for (const std::string& keyFile : keyFiles)
    signature += ToBase64(SignFileBytes(ReadText(keyFile), file, s.passphrase)) + "\n";
  WriteReplacing(sigPath, signature);
  WriteReport report(a[0]);
  report.Wrote(sigPath);
  if (s.json)
    report.PrintJson(out);
  else
    out << "wrote " << sigPath << "\n";
  return 0;
}

// A staged release: the manifest rewritten with the share of PCs that take
// its newest version, a higher Serial and new signatures. 0 halts it.
int Rollout(std::vector<std::string> a, std::ostream& out) {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  Shared s;
  TakeShared(a, s, {"--pass-env", "--pass-file", "--json"});
  std::string manifest, percentText, serialText, expiresText;
  std::vector<std::string> keyFiles;
  for (std::size_t i = 1; i < a.size(); ++i) {
    const std::string& o = a[i];
    if (o == "--percent" || o == "--sign" || o == "--serial" || o == "--expires") {
      Need(i + 1 < a.size(), o + " needs a value");
      const std::string& v = a[++i];
      if (o == "--sign")
        keyFiles.push_back(v);
      else
        (o == "--percent" ? percentText : o == "--serial" ? serialText : expiresText) = v;
    } else {
      Need(o.compare(0, 2, "--") != 0, "unknown option " + o);
      Need(manifest.empty(), "rollout rewrites one manifest");
      manifest = o;
    }
  }
  Need(!manifest.empty() && !percentText.empty() && !keyFiles.empty(),
       "rollout needs MANIFEST, --percent N and --sign KEYFILE");
  Need(percentText.find_first_not_of("0123456789") == std::string::npos && percentText.size() <= 3 &&
           std::stoul(percentText) <= 100,
       "--percent: a whole number from 0 to 100");
  ManifestRequest request = RequestOfText(ReadText(manifest));
  Need(!request.files.empty(), "rollout: the manifest lists no version to stage");
  std::uint16_t newest = 0;
  for (const PatchFile& f : request.files) newest = std::max(newest, f.version);
  request.rollout = ManifestRollout{newest, static_cast<unsigned>(std::stoul(percentText))};
  const std::uint32_t old = request.serial;
  request.serial = serialText.empty() ? std::max<std::uint32_t>(old + 1, static_cast<std::uint32_t>(now))
                                      : ParseSerial(serialText);
  Need(request.serial > old, "--serial must be higher than the manifest's Serial " + std::to_string(old));
  request.expires = expiresText.empty() ? now + kDefaultValidity : ParseExpires(expiresText, now);
  const std::string text = ManifestText(request);
  std::string signature;
  for (const std::string& keyFile : keyFiles)
    signature += ToBase64(Sign(ReadText(keyFile), text, s.passphrase)) + "\n";
  ReplaceTogether({{manifest + ".sig", signature}, {manifest, text}});
  WriteReport report("rollout");
  report.Wrote(manifest);
  report.Wrote(manifest + ".sig");
  if (s.json) {
    report.PrintJson(out);
  } else {
    out << "wrote " << manifest << ": version " << newest << " to " << request.rollout->percent << " % of PCs"
        << (request.rollout->percent == 0 ? " (halted)" : "") << ", Serial " << request.serial << "\n";
  }
  return 0;
}

// A launch link signed with the portal's key, valid from now for --valid
// seconds (300 unless given). Values are taken byte for byte.
int TicketLink(std::vector<std::string> a, std::ostream& out) {
  Shared s;
  TakeShared(a, s, {"--pass-env", "--pass-file"});
  std::string keyFile;
  std::int64_t valid = 300;
  Ticket ticket;
  bool given[kTicketFieldCount] = {};
  for (std::size_t i = 1; i < a.size(); ++i) {
    const std::string& o = a[i];
    Need(o == "--key" || o == "--field" || o == "--valid", "unknown option " + o);
    Need(i + 1 < a.size(), o + " needs a value");
    const std::string& v = a[++i];
    if (o == "--key") {
      keyFile = v;
    } else if (o == "--valid") {
      const bool digits =
          !v.empty() && v.size() <= 4 && v.find_first_not_of("0123456789") == std::string::npos;
      valid = digits ? std::stoll(v) : 0;
      if (valid < 1 || valid > kMaxTicketValidity) {
        throw PublishError("--valid: a whole number of seconds from 1 to " +
                           std::to_string(kMaxTicketValidity));
      }
    } else {
      const std::size_t equals = v.find('=');
      const auto field = TicketFieldIndex(v.substr(0, equals));
      if (equals == std::string::npos || !field) {
        std::string names;
        for (const TicketField& f : kTicketFields) names += std::string(names.empty() ? "" : ", ") + f.name;
        throw PublishError("--field takes NAME=VALUE, NAME one of " + names + ": " + v);
      }
      if (given[*field]) throw PublishError("--field " + v.substr(0, equals) + " is given twice");
      given[*field] = true;
      ticket.fields[*field] = v.substr(equals + 1);
    }
  }
  Need(!keyFile.empty(), "ticket needs --key PRIVATE");
  // A link of the claims alone would start the game with nothing the portal says.
  Need(std::find(std::begin(given), std::end(given), true) != std::end(given),
       "ticket needs at least one --field NAME=VALUE");
  const std::string privateKey = ReadText(keyFile);
  ticket.issued = static_cast<std::int64_t>(std::time(nullptr));
  ticket.expires = ticket.issued + valid;
  const std::string nonce = RandomBytes(ticket.nonce.size());
  std::memcpy(ticket.nonce.data(), nonce.data(), ticket.nonce.size());
  // The launcher's own reader decides what a launcher would take.
  const std::string text = TicketTextOf(ticket);
  const TicketReading reading = ReadTicket(text);
  if (reading.problem != TicketProblem::None) {
    throw PublishError("the ticket would be refused: " + std::string(TicketProblemText(reading.problem)) +
                       (reading.key.empty() ? "" : " (" + reading.key + ")"));
  }
  const std::string raw = Sign(privateKey, text, s.passphrase);
  P256Signature signature{};
  std::memcpy(signature.data(), raw.data(), signature.size());
  out << TicketLinkOf(text, signature) << "\n";
  return 0;
}

}  // namespace

int RunPublish(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kUsage;
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h") {
    out << kUsage;
    return 0;
  }
  try {
    static const std::map<std::string, int> kCommands = {
        {"keygen", 0}, {"pubkey", 1}, {"patch", 2}, {"full", 3},   {"manifest", 4},
        {"verify", 5}, {"ticket", 6}, {"sign", 7},  {"cosign", 7}, {"rollout", 8}};
    const auto command = kCommands.find(args[0]);
    Need(command != kCommands.end(), "unknown command " + args[0]);
    switch (command->second) {
      case 0: return Keygen(args, out);
      case 1: return Pubkey(args, out);
      case 2: return Patch(args, out, err);
      case 3: return Full(args, out);
      case 4: return Manifest(args, out);
      case 5: return Verify(args, out);
      case 7: return SignFile(args, out);
      case 8: return Rollout(args, out);
      default: return TicketLink(args, out);
    }
  } catch (const Usage& e) {
    err << "qzpublish: " << e.what() << " (qzpublish --help shows the usage)\n";
    return 2;
  } catch (const PublishError& e) {
    err << "qzpublish: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    err << "qzpublish: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace qz::publish
