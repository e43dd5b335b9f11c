// Fetching and reading an update manifest.
#pragma once

#include <optional>
#include <string>

#include "format/manifest.h"
#include "update/http_client.h"
#include "update/manifest.h"
#include "update/manifest_trust.h"

namespace qz {

// The check that fetches: what a signed manifest must be bound to.
struct ManifestCheck {
  ManifestTarget target = ManifestTarget::Game;
  std::string pageProgName;  // the page's ProgName for the game; "" when none
  std::int64_t now = 0;      // seconds since 1970 UTC
  // The elevated side's check: only the machine's floor counts (what the
  // player's processes can write, HKCU, is never read), and the accepted
  // Serial is left to the caller to keep once its change is made.
  bool machineFloor = false;
  // The release channel the manifest is read for: one made for another is
  // refused, so a beta manifest cannot be served in the main one's place.
  std::string channel = kMainChannel;
};

struct FetchedPlan {
  std::optional<UpdatePlan> plan;                 // nothing: refused or not fetched
  bool outOfDate = false;                         // refused because it expired
  bool notFetched = false;                        // no whole answer: nothing was refused
  BindingProblem binding = BindingProblem::None;  // refused as not bound to the check
  std::string why;                                // for the support log
};

// The plan of the manifest at `url`, or nothing when it cannot be fetched
// whole, holds a value the launcher refuses, or fails the trust: when keys
// are configured, its signature at `url` + ".sig" must verify with one of
// them over the exact bytes, every file it names must carry a hash and a
// size, and it must be bound to `check` (CheckManifestBinding) against the
// highest Serial accepted for its program: by this user or by an
// administrator's change on this machine, whichever is higher, and the
// manifest's becomes this user's; with `check.machineFloor` only the machine's.
// An answer that is not a manifest gives an empty plan (refused with keys).
// The plan holds what the manifest's program's installation record says: its
// version and, for the game's check, its folder and program.
FetchedPlan FetchUpdatePlan(HttpClient& http, const std::string& url, const ManifestTrust& trust,
                            const ManifestCheck& check = {});

// The detached signatures published at SignatureAddress(url) (one line of
// base64 per signing key, the same form as a manifest's); nothing when they
// cannot be fetched whole or any line is no signature.
std::optional<std::vector<P256Signature>> FetchSignatures(HttpClient& http, const std::string& url);

// The game's manifest for the PC's release channel: a channel other than the
// main one reads its own manifest beside the main one's (ChannelAddress), and
// only when that one is not there at all the main one. `at` is the address
// that was read (or refused).
FetchedPlan FetchChannelPlan(HttpClient& http, const std::string& url, const ManifestTrust& trust,
                             ManifestCheck check, const std::string& channel, std::string& at);

// Seconds since 1970 UTC by the PC's clock: what tickets and manifests are
// judged by.
std::int64_t UtcNow();

}  // namespace qz
