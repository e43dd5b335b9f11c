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

enum class ManifestKey {
  ProgName,
  FullDnURL,
  UpBaseURL,
  MinVer,
  UpFileList,
  SHA256,
  Serial,
  Expires,
  Target,
  Size,
  UpDeltaList,
  MirrorURL,
  Rollout,
  Channel
};

struct ManifestKeySpec {
  ManifestKey key;
  const char* name;
  std::size_t values;  // tokens that follow the key
};

// Tested in this order; the first key a token begins with wins ("MinVer=5" is
// MinVer). Launchers pass over tokens that begin with no key they know, which
// is how keys are added without breaking them: a new key is appended, and
// neither it nor its values may begin with an older key's name.
inline constexpr ManifestKeySpec kManifestKeys[] = {
    {ManifestKey::ProgName, "ProgName", 1},
    {ManifestKey::FullDnURL, "FullDnURL", 1},
    {ManifestKey::UpBaseURL, "UpBaseURL", 1},
    {ManifestKey::MinVer, "MinVer", 1},
    {ManifestKey::UpFileList, "UpFileList", 2},
    {ManifestKey::SHA256, "SHA256", 1},
    // What binds a signed manifest to its program, its order and its time.
    {ManifestKey::Serial, "Serial", 1},
    {ManifestKey::Expires, "Expires", 1},
    {ManifestKey::Target, "Target", 1},
    {ManifestKey::Size, "Size", 1},
    {ManifestKey::UpDeltaList, "UpDeltaList", 2},
    // Further hosts that hold the same files, in order of preference.
    {ManifestKey::MirrorURL, "MirrorURL", 1},
    // A version and the share of PCs (0 to 100) that take it yet.
    {ManifestKey::Rollout, "Rollout", 2},
    // The release channel the manifest is for; without it, the main one.
    {ManifestKey::Channel, "Channel", 1},
};
constexpr std::size_t kManifestKeyCount = sizeof kManifestKeys / sizeof kManifestKeys[0];
// How many of the keys launchers knew before Serial, Expires, Target and Size.
constexpr std::size_t kKeysBeforeBinding = 6;

// What a manifest is for: the avatar module's check or the game's.
enum class ManifestTarget { Avatar, Game };
const char* ManifestTargetName(ManifestTarget target);  // "avatar", "game"

// An Expires value, "yyyy-mm-ddThh:mmZ" (UTC, years 1970 to 9999): seconds
// since 1970 UTC. The text of a time drops its seconds.
std::optional<std::int64_t> ParseManifestTime(std::string_view text);
std::string ManifestTimeText(std::int64_t seconds);

// The name a key is written with.
const char* ManifestKeyName(ManifestKey key);

// The key a token begins with, if any.
const ManifestKeySpec* ManifestKeyOf(std::string_view token);

// The tokens of a text up to its first zero byte.
std::vector<std::string_view> ManifestTokens(std::string_view text);

// A staged release: the share of PCs, in percent, that take `version` (and
// any later one) yet. A PC outside the share reads the manifest as if the
// versions from `version` on were not listed; 0 halts the release for every
// PC that does not have it yet.
struct ManifestRollout {
  std::uint16_t version = 0;
  unsigned percent = 100;
};

struct ManifestFile {
  std::uint16_t version = 0;
  std::string url;
  std::optional<Sha256Digest> sha256;
  std::optional<std::uint64_t> size;  // bytes, 1 to kMaxFileBytes
};

// What one manifest read yields: the program, its installers and the files
// newer than its installation record, with the version that record holds.
struct ManifestPlan {
  std::string progName;
  std::string fullDnUrl;
  std::optional<Sha256Digest> fullDnSha256;
  std::optional<std::uint64_t> fullDnSize;
  std::string upBaseUrl;  // ends in "/" when set
  std::uint16_t minVer = 0;
  std::uint16_t latestVer = 0;
  std::uint16_t installedVer = 0;
  std::vector<ManifestFile> files;  // in manifest order
  // Delta archives ("UpDeltaList"), each of the version of the whole-file
  // patch it may stand in for; newer than the installation record only.
  std::vector<ManifestFile> deltas;
  // Each at most once; absent from manifests older than the keys.
  std::optional<std::uint32_t> serial;
  std::optional<std::int64_t> expires;  // seconds since 1970 UTC
  std::optional<ManifestTarget> target;
  // Base addresses of mirrors ("MirrorURL"), each ending in "/", in order of
  // preference: each holds the same paths as the hosts the manifest names
  // (MirroredAddress).
  std::vector<std::string> mirrors;
  std::optional<ManifestRollout> rollout;  // at most once
  std::string channel;                     // "" when not stated: the main channel
};

// A release channel's name: 1 to 32 of a-z, 0-9 and '-'. "main" is the
// channel every launcher follows unless told otherwise.
constexpr char kMainChannel[] = "main";
bool IsChannelName(std::string_view name);
// Where a channel's manifest lies beside the main one: ".<channel>" before
// the extension of the address's last segment ("VeltoGame.txt" becomes
// "VeltoGame.beta.txt"; without an extension it is appended), any query kept.
std::string ChannelAddress(std::string_view url, std::string_view channel);

// The most mirrors a manifest may list.
constexpr std::size_t kMaxMirrors = 8;

constexpr std::uint32_t kRolloutBuckets = 10000;
// A PC's bucket, 0 to kRolloutBuckets - 1, from an identity the machine made
// once at random (spread evenly by a hash, so buckets do not follow its form).
std::uint32_t RolloutBucketOf(std::string_view machineIdentity);
// Whether a PC of `bucket` is within a share of `percent`.
bool InRollout(std::uint32_t bucket, unsigned percent);
// Drops what a PC outside the share may not take yet: the files and deltas
// from the rollout's version on; the newest version is what is left.
void HoldBackRollout(ManifestPlan& plan);

enum class ManifestOutcome {
  Read,      // values taken
  NoHeader,  // not a manifest: nothing taken, and no failure either
  Refused,   // a value does not fit its field, an address is not a web
             // address, a hash, size, serial, time or target is malformed,
             // or given twice: the fetch fails rather than use a cut, local
             // or doubtful value
};

struct ManifestReading {
  ManifestOutcome outcome = ManifestOutcome::NoHeader;
  ManifestPlan plan;
  // SHA256 and Size values that followed no file entry and so bound to
  // nothing (one after an entry that was not taken is not counted).
  std::size_t unboundFileValues = 0;
  // The text ended on a key without its values, which was passed over.
  bool keyWithoutValues = false;
};

// The installed version of the named program, 0 when it has no record. Asked
// once, for the manifest's one ProgName, before any file is judged.
using InstalledVersionLookup = std::function<std::uint16_t(const std::string& progName)>;

// Reads a manifest. The program's installation record is read first, so a
// file is taken only when newer than the installed version wherever ProgName
// stands; a second ProgName refuses the text. Other keys act when they are
// met: an UpFileList entry takes the base address known at that point. Numbers are
// read from their leading digits and kept to 16 bits. "SHA256" and "Size"
// bind to the file or delta entry just before them (in either order); a second
// of either, or a malformed one, refuses the text. Serial is a whole number
// from 1 to 4294967295, Size one from 1 to kMaxFileBytes (2^53), digits only. `knownKeys`: how many
// of kManifestKeys the reader knows (an older launcher knew fewer).
ManifestReading ReadManifest(std::string_view text, const InstalledVersionLookup& installed,
                             std::size_t knownKeys = kManifestKeyCount);

// Whether the full installer (when named) and every listed file carry a hash,
// as a signed manifest must.
bool EveryFileHashed(const ManifestPlan& plan);

// ---- What binds a signed manifest ----

// What the launcher runs and knows when it takes a signed manifest.
struct ManifestExpectation {
  ManifestTarget target = ManifestTarget::Game;  // the check it runs
  std::string progName;  // the page's ProgName for the game check; "" when none was given
  std::optional<std::uint32_t> highestSerial;  // accepted before for the manifest's program
  std::int64_t now = 0;                        // seconds since 1970 UTC
};

enum class BindingProblem {
  None,
  Missing,       // no ProgName, Serial, Expires or Target, or a file without its Size
  WrongTarget,   // made for the other check
  OtherProgram,  // the game check got another program's manifest
  Rollback,      // a Serial lower than one accepted before
  Expired,       // its Expires has passed
};

// Whether a signed manifest is the one for this check, now: the first
// problem in the order above. ProgName compares as the registry does,
// without regard to ASCII case.
BindingProblem CheckManifestBinding(const ManifestPlan& plan, const ManifestExpectation& expect);
// A short English reason for the support log.
const char* BindingProblemText(BindingProblem problem);

// ---- Writing ----

struct ManifestEntry {
  std::uint16_t version = 0;
  std::string name;  // relative to the base address
  Sha256Digest sha256{};
  std::uint64_t size = 0;  // bytes
};

struct ManifestContent {
  std::string progName;
  std::uint16_t minVer = 0;
  std::string fullUrl;
  Sha256Digest fullSha256{};
  std::uint64_t fullSize = 0;
  std::string baseUrl;  // may be empty when no file is listed
  std::vector<ManifestEntry> files;
  // Delta archives, each for the version of one of the files. They are
  // written before the file entries, right after the base address: a launcher
  // that predates them passes over the key and finds their hashes after no
  // entry it knows, where they bind to nothing.
  std::vector<ManifestEntry> deltas;
  ManifestTarget target = ManifestTarget::Game;
  std::uint32_t serial = 0;
  std::int64_t expires = 0;          // seconds since 1970 UTC; written to the minute
  std::vector<std::string> mirrors;  // base addresses, each ending in "/"
  std::optional<ManifestRollout> rollout;
  std::string channel;  // written when not empty
};

enum class ManifestField {
  None,
  ProgName,
  MinVer,
  FullUrl,
  BaseUrl,
  File,
  Delta,
  Text,
  Serial,
  Expires,
  Mirror,
  Rollout,
  Channel
};

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
// to kMaxVersion, an empty file (no launcher can fetch one) or one over
// kMaxFileBytes, a Serial of 0, an
// Expires outside the years 1970 to 9999, and a text over kMaxManifestBytes.
ManifestProblem CheckManifestContent(const ManifestContent& content);

// The text, one key a line and each digest after its entry. Only for content
// CheckManifestContent accepts: ReadManifest then reads back exactly it.
std::string ManifestTextOf(const ManifestContent& content);

}  // namespace qz
