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
  // must be signed and bound (Target, Serial, Expires, every Size), and one
  // that only a broken key could verify is refused.
  bool signatureRequired = false;
  // How many distinct keys must have signed ("SignaturesRequired", a machine
  // setting only; 1 when it is not set).
  unsigned signaturesRequired = 1;
  // Why the setting could not be used, for the support log ("" when it could).
  std::string problem;
};

// Builds the trust from key lines (base64 P-256 points). A line that is no
// key makes the whole list unusable: signatures stay required and no key of
// it verifies, so a mistyped setting refuses rather than trusts less.
ManifestTrust TrustFromKeyLines(const std::vector<std::string>& lines);

// The machine's settings and the keys this build was made with. A ManifestKeys
// value that exists but is of another type, over 64 KiB, unreadable or holds a
// line that is no key requires signatures that nothing verifies.
ManifestTrust LoadManifestTrust();

}  // namespace qz
