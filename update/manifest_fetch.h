// Fetching and reading an update manifest.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "update/http_client.h"
#include "update/manifest.h"
#include "update/manifest_trust.h"

namespace qz {

// Reads the installation record of the named program into the plan's
// installed version and, for the game, its folder and executable; a value
// that cannot be read leaves its field as it is.
using InstallRecordLookup = std::function<void(const char* progName, std::uint16_t& installedVer,
                                               char (&gameDir)[kPathField], char (&gameExe)[kPathField])>;

// The plan of the manifest at `url`, or nothing when it cannot be fetched
// whole, holds a value the launcher refuses, or fails the trust: when keys
// are configured, its signature at `url` + ".sig" must verify with one of
// them over the exact bytes, and every file it names must carry a hash. An
// answer that is not a manifest gives an empty plan.
std::optional<UpdatePlan> FetchUpdatePlan(HttpClient& http, const char* url, const InstallRecordLookup& lookup,
                                          const ManifestTrust& trust);

// The detached signature published at `url` + ".sig" (one line of base64, the
// same form as a manifest's); nothing when it cannot be fetched whole or read.
std::optional<P256Signature> FetchSignature(HttpClient& http, const std::string& url);

}  // namespace qz
