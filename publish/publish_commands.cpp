#include "publish/publish_commands.h"

#include <unistd.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <map>

#include "format/delta_archive.h"
#include "format/ticket.h"

#include "publish/manifest_text.h"
#include "publish/patch_plan.h"
#include "publish/publish_archive.h"
#include "publish/publish_crypto.h"
#include "publish/publish_delta.h"
#include "publish/publish_error.h"
#include "publish/publish_files.h"
#include "publish/publish_text.h"

namespace qz::publish {

namespace {

constexpr char kUsage[] =
    "usage: qzpublish keygen KEYFILE\n"
    "       qzpublish pubkey KEYFILE\n"
    "       qzpublish patch OLD_DIR NEW_DIR OUT.zip [--delta-max BYTES]\n"
    "       qzpublish full DIR OUT.zip\n"
    "       qzpublish manifest --prog NAME --minver N --full URL FILE [--base URL]\n"
    "                          [--file VERSION FILE]... [--delta VERSION FILE]... [--target avatar|game]\n"
    "                          [--serial N] [--expires yyyy-mm-ddThh:mmZ] [--sign KEYFILE] OUT.txt\n"
    "       qzpublish verify MANIFEST --key PUBLIC [--files DIR]\n"
    "       qzpublish sign FILE --key PRIVATE\n"
    "       qzpublish ticket --key PRIVATE --field NAME=VALUE... [--valid SECONDS]\n";

struct Usage : PublishError {
  using PublishError::PublishError;
};

void Need(bool ok, const std::string& what) {
  if (!ok) throw Usage(what);
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

void WriteArchiveOf(const std::string& root, const Listing& tree, const PatchPlan& plan, const std::string& out,
                    std::ostream& report) {
  CheckOutputFolder(out);
  WriteArchive(out, root, tree, plan.entries);
  for (const ArchiveEntry& e : plan.entries) report << "added " << e.path << (e.folder ? "/" : "") << "\n";
  report << "wrote " << out << " (" << plan.entries.size() << " entries)\n";
}

int Keygen(const std::vector<std::string>& a, std::ostream& out) {
  Need(a.size() == 2, "keygen takes one KEYFILE");
  CheckOutputFolder(a[1]);
  const KeyPair key = GenerateKey();
  WriteNewPrivate(a[1], key.privatePem);
  out << ToBase64(key.publicKey) << "\n";
  return 0;
}

int Pubkey(const std::vector<std::string>& a, std::ostream& out) {
  Need(a.size() == 2, "pubkey takes one KEYFILE");
  out << ToBase64(PublicKeyOf(ReadText(a[1]))) << "\n";
  return 0;
}

int Patch(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
  std::vector<std::string> a;
  std::uint64_t deltaMax = kDefaultDeltaMax;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--delta-max") {
      a.push_back(args[i]);
      continue;
    }
    Need(i + 1 < args.size(), "--delta-max needs a number of bytes");
    const std::string& v = args[++i];
    Need(!v.empty() && v.size() < 19 && v.find_first_not_of("0123456789") == std::string::npos,
         "--delta-max: a whole number of bytes");
    deltaMax = std::stoull(v);
  }
  Need(a.size() == 4, "patch takes OLD_DIR NEW_DIR OUT.zip [--delta-max BYTES]");
  const Listing oldTree = ReadTree(a[1]);
  const Listing newTree = ReadTree(a[2]);
  const PatchPlan plan = PlanPatch(oldTree, newTree);
  if (plan.entries.empty() && plan.removed.empty()) {
    throw PublishError("nothing in " + a[2] + " differs from " + a[1] + ": no patch written");
  }
  for (const auto& entry : plan.entries) {
    if (Lower(entry.zipName) == kRemovedListName) {
      throw PublishError(entry.path + ": the name is the one that lists removed files in a patch");
    }
  }
  CheckOutputFolder(a[3]);
  std::vector<std::pair<std::string, std::string>> notes;
  if (!plan.removed.empty()) notes.emplace_back(kRemovedListName, RemovedListText(plan.removed));
  WriteArchive(a[3], a[2], newTree, plan.entries, notes);
  for (const ArchiveEntry& e : plan.entries) out << "added " << e.path << (e.folder ? "/" : "") << "\n";
  for (const std::string& name : plan.removed) out << "removed " << name << "\n";
  out << "wrote " << a[3] << " (" << plan.entries.size() + notes.size() << " entries)\n";
  const std::string deltaPath = DeltaPathOf(a[3]);
  const DeltaResult delta = WriteDeltaArchive(deltaPath, a[1], oldTree, a[2], plan, deltaMax);
  if (delta.written) {
    out << "wrote " << deltaPath << " (" << delta.changed << " deltas, " << plan.removed.size() << " removals, "
        << delta.bytes << " bytes)\n";
  } else {
    out << "no delta archive: " << delta.why << "\n";
    // One of an earlier run would be listed by mistake.
    if (IsFile(deltaPath) && unlink(deltaPath.c_str()) == 0) out << "removed the stale " << deltaPath << "\n";
  }
  return 0;
}

int Full(const std::vector<std::string>& a, std::ostream& out) {
  Need(a.size() == 3, "full takes DIR OUT.zip");
  const Listing tree = ReadTree(a[1]);
  const PatchPlan plan = PlanFull(tree);
  if (plan.entries.empty()) throw PublishError(a[1] + " is empty: no archive written");
  WriteArchiveOf(a[1], tree, plan, a[2], out);
  return 0;
}

// Unless given: the release time as the serial, so each release counts
// higher than the one before, and 30 days until launchers stop believing it.
constexpr std::int64_t kDefaultValidity = 30 * 24 * 3600;

int Manifest(const std::vector<std::string>& a, std::ostream& out) {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  ManifestRequest request;
  request.serial = static_cast<std::uint32_t>(now);
  request.expires = now + kDefaultValidity;
  std::string fullFile, keyFile, output;
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
      keyFile = a[i];
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
  CheckManifest(request);
  CheckOutputFolder(output);
  request.fullSha256 = Sha256OfFile(fullFile);
  for (std::size_t k = 0; k < request.files.size(); ++k) request.files[k].sha256 = Sha256OfFile(patchFiles[k]);
  for (std::size_t k = 0; k < request.deltas.size(); ++k) {
    request.deltas[k].sha256 = Sha256OfFile(deltaFiles[k]);
    request.deltas[k].size = SizeOfFile(deltaFiles[k]);
  }
  const std::string text = ManifestText(request);
  const std::string sigPath = output + ".sig";
  if (!keyFile.empty()) {
    const std::string signature = ToBase64(Sign(ReadText(keyFile), text)) + "\n";
    WriteReplacing(output, text);
    WriteReplacing(sigPath, signature);
    out << "wrote " << output << " and its signature " << sigPath << "\n";
  } else {
    WriteReplacing(output, text);
    out << "wrote " << output << " (unsigned)\n";
    // A signature of an earlier manifest would only make launchers refuse this one.
    if (IsFile(sigPath) && unlink(sigPath.c_str()) == 0) out << "removed the stale signature " << sigPath << "\n";
  }
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
  for (std::size_t i = 1; i < a.size(); ++i) {
    if (a[i] == "--key" || a[i] == "--files") {
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
  const std::string keyText = TrimLineEnd(IsFile(keyArg) ? ReadText(keyArg) : keyArg);
  const auto key = FromBase64(keyText);
  if (!key || key->size() != 65) throw PublishError("--key: not a public key line (base64 of 65 bytes)");
  const std::string text = ReadText(manifest);
  const std::vector<ListedFile> files = ListManifestFiles(text);
  if (!dir.empty() && !IsFolder(dir)) throw PublishError("--files: " + dir + ": no such folder");

  bool good = true;
  const std::string sigPath = manifest + ".sig";
  const auto signature = IsFile(sigPath) ? FromBase64(TrimLineEnd(ReadText(sigPath))) : std::nullopt;
  if (!IsFile(sigPath)) {
    out << "signature: MISSING (" << sigPath << ")\n";
    good = false;
  } else if (!signature || !qz::publish::Verify(*key, text, *signature)) {
    out << "signature: BAD (" << sigPath << " does not match this manifest and key)\n";
    good = false;
  } else {
    out << "signature: verified\n";
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
  if (!dir.empty()) {
    for (const ListedFile& f : files) {
      const std::string local = LocalFileOf(f.url, dir);
      std::string verdict = "ok";
      if (f.sha256.empty()) verdict = "NO SHA256";
      else if (!f.size) verdict = "NO Size";
      else if (local.empty()) verdict = "MISSING under " + dir;
      else if (Sha256OfFile(local) != Lower(f.sha256)) verdict = "DIFFERS (" + local + ")";
      else if (SizeOfFile(local) != *f.size) verdict = "SIZE DIFFERS (" + local + ")";
      if (verdict != "ok") good = false;
      out << f.key << " " << f.url << ": " << verdict << "\n";
    }
  }
  return good ? 0 : 1;
}

// The detached signature a launcher asks for before it runs or unpacks a
// setup mode's installer: over the file's bytes, in a manifest's form, as
// FILE.sig beside it.
int SignFile(const std::vector<std::string>& a, std::ostream& out) {
  std::string file, keyFile;
  for (std::size_t i = 1; i < a.size(); ++i) {
    if (a[i] == "--key") {
      Need(i + 1 < a.size(), "--key needs a value");
      keyFile = a[++i];
    } else {
      Need(a[i].compare(0, 2, "--") != 0, "unknown option " + a[i]);
      Need(file.empty(), "sign signs one file");
      file = a[i];
    }
  }
  Need(!file.empty() && !keyFile.empty(), "sign needs FILE and --key PRIVATE");
  if (!IsFile(file)) throw PublishError(file + ": no such file");
  const std::string sigPath = file + ".sig";
  const std::string signature = ToBase64(Sign(ReadText(keyFile), ReadText(file))) + "\n";
  WriteReplacing(sigPath, signature);
  out << "wrote " << sigPath << "\n";
  return 0;
}

// A launch link signed with the portal's key, valid from now for --valid
// seconds (300 unless given). Values are taken byte for byte.
int TicketLink(const std::vector<std::string>& a, std::ostream& out) {
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
  const std::string raw = Sign(privateKey, text);
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
    static const std::map<std::string, int> kCommands = {{"keygen", 0},   {"pubkey", 1}, {"patch", 2},
                                                          {"full", 3},     {"manifest", 4}, {"verify", 5},
                                                          {"ticket", 6},   {"sign", 7}};
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
