// Whose manifests the launcher believes: the publishers' keys configured on
// the machine ("ManifestKeys" in the product's settings) and any compiled in.
// With no key at all, unsigned manifests are read as they come: a setting for
// trying the launcher out, not for a portal.
#pragma once

#include <string>
#include <vector>

#include "format/codec.h"

namespace qz {

struct ManifestTrust {
  std::vector<P256PublicKey> keys;
  // Some key is configured, even one that does not parse: then every manifest
  // must be signed, and one that only a broken key could verify is refused.
  bool signatureRequired = false;
};

// Builds the trust from key lines (base64 P-256 points).
ManifestTrust TrustFromKeyLines(const std::vector<std::string>& lines);

// The machine's settings and the keys this build was made with.
ManifestTrust LoadManifestTrust();

}  // namespace qz
