// The update manifest as the release tool writes and checks it. The text, its
// limits and its reading are the launcher's own (format/manifest.h); this is
// the tool's side: options, messages and digests as text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/limits.h"
#include "format/manifest.h"

namespace qz::publish {

struct PatchFile {
  std::uint16_t version = 0;
  std::string name;  // relative to the base address
  std::string sha256;
  std::uint64_t size = 0;  // bytes
};

struct ManifestRequest {
  std::string progName;
  std::uint16_t minVer = 0;
  std::string fullUrl;
  std::string fullSha256;
  std::uint64_t fullSize = 0;
  std::string baseUrl;                     // may be empty when no patch is listed
  std::vector<std::string> mirrors;        // --mirror: further base addresses, in order of preference
  std::optional<ManifestRollout> rollout;  // qzpublish rollout
  std::string channel;                     // --channel; "" for the main one
  std::vector<PatchFile> files;
  std::vector<PatchFile> deltas;  // --delta: each stands in for a file of its version
  ManifestTarget target = ManifestTarget::Game;
  std::uint32_t serial = 0;
  std::int64_t expires = 0;  // seconds since 1970 UTC
};

// A version as written on the command line: decimal digits only, 1 to
// kMaxVersion. Throws PublishError naming `what` and saying why.
std::uint16_t ParseVersion(const std::string& text, const std::string& what);

// The options that bind a manifest, as written on the command line: --serial
// (1 to 4294967295), --expires (yyyy-mm-ddThh:mmZ, later than `now`) and
// --target (avatar or game). Throw PublishError saying why.
std::uint32_t ParseSerial(const std::string& text);
std::int64_t ParseExpires(const std::string& text, std::int64_t now);
ManifestTarget ParseTarget(const std::string& text);
// What the launcher would take but act on badly: MinVer above the newest
// listed version (a full installation on every visit), a version listed
// twice (among files, or among deltas), a file name listed twice (in any
// case, across files and deltas), and a base address with a query or
// fragment (the file names would end up in it). Field and entry as
// CheckManifestContent gives them.
ManifestProblem CheckRelease(const ManifestContent& content);

// Throws PublishError, naming the option, for anything the launcher would
// refuse, read differently (see CheckManifestContent) or act on badly (see
// CheckRelease).
void CheckManifest(const ManifestRequest& request);

// The manifest text; CheckManifest first.
std::string ManifestText(const ManifestRequest& request);

// One file a manifest names, with the digest bound to it (empty when none).
struct ListedFile {
  std::string key;  // FullDnURL, UpFileList or UpDeltaList
  std::string url;
  std::string sha256;
  std::optional<std::uint64_t> size;
};

// The request a manifest's text was written from, read back as a launcher
// that has nothing installed reads it (every file, hash and size), so it can
// be written again with changes. Throws PublishError when the launcher would
// refuse the text or a file lies outside the last UpBaseURL.
ManifestRequest RequestOfText(const std::string& text);

// The files a manifest names, as the launcher reads them when nothing is
// installed. Throws PublishError when the launcher would refuse it or take
// nothing from it, or when it holds a SHA256 bound to no file or a key left
// without its value: text the launcher passes over is no text of ours.
std::vector<ListedFile> ListManifestFiles(const std::string& text);

// "Target game, Serial N, expires yyyy-mm-ddThh:mmZ" of a manifest the
// launcher reads (ListManifestFiles first), "" for a key that is not there.
struct ManifestBinding {
  std::string target, serial, expires;
  std::optional<std::int64_t> expiresAt;
};
ManifestBinding BindingOf(const std::string& text);
// What the launcher's own rules (addresses, names, versions, limits) and
// CheckRelease find wrong with a manifest the launcher reads, one line each,
// naming the key; empty when nothing is.
std::vector<std::string> ManifestRuleProblems(const std::string& text);

}  // namespace qz::publish
