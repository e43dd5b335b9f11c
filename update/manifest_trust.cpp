#include "update/manifest_trust.h"

#include "base/settings.h"
#include "update/builtin_keys.h"

namespace qz {

ManifestTrust TrustFromKeyLines(const std::vector<std::string>& lines) {
  ManifestTrust trust;
  for (const std::string& line : lines) {
    if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    trust.signatureRequired = true;
    if (std::optional<P256PublicKey> key = ParsePublicKeyText(line)) trust.keys.push_back(*key);
  }
  return trust;
}

ManifestTrust LoadManifestTrust() {
  std::vector<std::string> lines = settings::ReadProductList("ManifestKeys", ViewPolicy::EveryView);
  for (const char* const* key = kBuiltInManifestKeys; *key; ++key) lines.emplace_back(*key);
  return TrustFromKeyLines(lines);
}

}  // namespace qz
