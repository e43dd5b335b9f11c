// The update manifest as the release tool writes and checks it: the same
// token text the launcher reads, with a SHA256 line after each file entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qz::publish {

// Largest values the launcher takes, terminating zero excluded.
constexpr std::size_t kMaxProgName = 19;
constexpr std::size_t kMaxUrl = 259;
constexpr std::size_t kMaxManifest = 65535;

struct PatchFile {
  std::uint16_t version = 0;
  std::string name;  // relative to the base address
  std::string sha256;
};

struct ManifestRequest {
  std::string progName;
  std::uint16_t minVer = 0;
  std::string fullUrl;
  std::string fullSha256;
  std::string baseUrl;  // may be empty when no patch is listed
  std::vector<PatchFile> files;
};

// A version as written on the command line: decimal digits only, 1 to 65535.
// Throws PublishError naming `what`.
std::uint16_t ParseVersion(const std::string& text, const std::string& what);

// Throws PublishError for a value the launcher would refuse or misread: a
// name of 20 bytes or more, an address that is not https (plain http only to
// loopback) or of 260 bytes or more, a base plus file name of 260 or more, a
// file name that reads as a key, blanks or braces inside a value.
void CheckManifest(const ManifestRequest& request);

// The manifest text; CheckManifest first.
std::string ManifestText(const ManifestRequest& request);

// One file a manifest names, with the digest bound to it (empty when none).
struct ListedFile {
  std::string key;  // FullDnURL or UpFileList
  std::string url;
  std::string sha256;
};

// The files a manifest names, read by the launcher's token rules. Throws
// PublishError when it is no manifest or a SHA256 value is misplaced or not
// 64 hexadecimal digits.
std::vector<ListedFile> ListManifestFiles(const std::string& text);

}  // namespace qz::publish
