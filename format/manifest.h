// The update manifest: a token text that names a program, its full installer,
// the base address of its patch files and the patch files with their
// versions, each file followed by its SHA-256. The launcher reads it; the
// release tool writes it and reads it back with the same reader, so the two
// can never disagree on what a manifest says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/codec.h"

namespace qz {

constexpr char kManifestHeader[] = "[VLTWUpdateFile]";
// A run of these is one gap between tokens.
constexpr char kManifestSeparators[] = " \t\r\n{}";

enum class ManifestKey { ProgName, FullDnURL, UpBaseURL, MinVer, UpFileList, SHA256, UpDeltaList, Size };

struct ManifestKeySpec {
  ManifestKey key;
  const char* name;
  std::size_t values;  // tokens that follow the key
};

// Tested in this order; the first key a token begins with wins ("MinVer=5" is
// MinVer). Launchers pass over tokens that begin with no key they know, which
// is how keys are added without breaking them.
inline constexpr ManifestKeySpec kManifestKeys[] = {
    {ManifestKey::ProgName, "ProgName", 1},   {ManifestKey::FullDnURL, "FullDnURL", 1},
    {ManifestKey::UpBaseURL, "UpBaseURL", 1}, {ManifestKey::MinVer, "MinVer", 1},
    {ManifestKey::UpFileList, "UpFileList", 2}, {ManifestKey::SHA256, "SHA256", 1},
    {ManifestKey::UpDeltaList, "UpDeltaList", 2}, {ManifestKey::Size, "Size", 1},
};

// The name a key is written with.
const char* ManifestKeyName(ManifestKey key);

// The key a token begins with, if any.
const ManifestKeySpec* ManifestKeyOf(std::string_view token);

// The tokens of a text up to its first zero byte.
std::vector<std::string_view> ManifestTokens(std::string_view text);

struct ManifestFile {
  std::uint16_t version = 0;
  std::string url;
  std::optional<Sha256Digest> sha256;
  std::optional<std::uint64_t> size;  // "Size" after the entry (and its hash)
};

// What one manifest read yields: the program, its installers and the files
// newer than its installation record, with the version that record holds.
struct ManifestPlan {
  std::string progName;
  std::string fullDnUrl;
  std::optional<Sha256Digest> fullDnSha256;
  std::string upBaseUrl;  // ends in "/" when set
  std::uint16_t minVer = 0;
  std::uint16_t latestVer = 0;
  std::uint16_t installedVer = 0;
  std::vector<ManifestFile> files;  // in manifest order
  // Delta archives ("UpDeltaList"), each of the version of the whole-file
  // patch it may stand in for; newer than the installation record only.
  std::vector<ManifestFile> deltas;
};

enum class ManifestOutcome {
  Read,      // values taken
  NoHeader,  // not a manifest: nothing taken, and no failure either
  Refused,   // a value does not fit its field, an address is not a web
             // address, or a hash is malformed or given twice: the fetch
             // fails rather than use a cut, local or doubtful value
};

struct ManifestReading {
  ManifestOutcome outcome = ManifestOutcome::NoHeader;
  ManifestPlan plan;
  // SHA256 values that followed no file entry and so bound to nothing (one
  // after an entry that was not taken is not counted).
  std::size_t unboundHashes = 0;
  // The text ended on a key without its values, which was passed over.
  bool keyWithoutValues = false;
};

// The installed version of the named program, 0 when it has no record. Asked
// at each ProgName, which restarts the version count.
using InstalledVersionLookup = std::function<std::uint16_t(const std::string& progName)>;

// Reads a manifest. Every key acts when it is met, so the order of keys in the
// text matters: an UpFileList entry takes the base address known at that
// point and is taken only when newer than the installed version. Numbers are
// read from their leading digits and kept to 16 bits. "SHA256" binds a hash to
// the file entry just before it, "Size" a length in bytes (after the hash, when
// both are given); a second of either, or a malformed one, refuses the text.
ManifestReading ReadManifest(std::string_view text, const InstalledVersionLookup& installed);

// Whether the full installer (when named) and every listed file carry a hash,
// as a signed manifest must.
bool EveryFileHashed(const ManifestPlan& plan);

// ---- Writing ----

struct ManifestEntry {
  std::uint16_t version = 0;
  std::string name;  // relative to the base address
  Sha256Digest sha256{};
  std::uint64_t size = 0;  // written for delta archives
};

struct ManifestContent {
  std::string progName;
  std::uint16_t minVer = 0;
  std::string fullUrl;
  Sha256Digest fullSha256{};
  std::string baseUrl;  // may be empty when no file is listed
  std::vector<ManifestEntry> files;
  // Delta archives, each for the version of one of the files. They are
  // written before the file entries, right after the base address: a launcher
  // that predates them passes over the key and finds their hashes after no
  // entry it knows, where they bind to nothing.
  std::vector<ManifestEntry> deltas;
};

enum class ManifestField { None, ProgName, MinVer, FullUrl, BaseUrl, File, Delta, Text };

struct ManifestProblem {
  ManifestField field = ManifestField::None;
  std::size_t file = 0;  // the entry, for ManifestField::File and Delta
  std::string message;   // empty when the content can be written
  explicit operator bool() const { return !message.empty(); }
};

// What a launcher would refuse or read differently from what was meant:
// values that do not fit their fields, addresses it would not fetch (plain
// http only to this PC), values that are not one plain ASCII token, file names
// a launcher that skips their entry would read as a key, versions outside 1
// to kMaxVersion, and a text over kMaxManifestBytes.
ManifestProblem CheckManifestContent(const ManifestContent& content);

// The text, one key a line and each digest after its entry. Only for content
// CheckManifestContent accepts: ReadManifest then reads back exactly it.
std::string ManifestTextOf(const ManifestContent& content);

}  // namespace qz
