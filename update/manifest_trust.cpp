#include "update/manifest_trust.h"

#include "base/settings.h"
#include "update/builtin_keys.h"

namespace qz {

ManifestTrust TrustFromKeyLines(const std::vector<std::string>& lines) {
  ManifestTrust trust;
  std::size_t number = 0;
  for (const std::string& line : lines) {
    ++number;
    if (line.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    trust.signatureRequired = true;
    if (std::optional<P256PublicKey> key = ParsePublicKeyText(line)) {
      trust.keys.push_back(*key);
    } else if (trust.problem.empty()) {
      trust.problem = "line " + std::to_string(number) + " is no public key";
    }
  }
  if (!trust.problem.empty()) trust.keys.clear();
  return trust;
}

ManifestTrust LoadManifestTrust() {
  const settings::ProductKeyList configured =
      settings::ReadProductKeys("ManifestKeys", ViewPolicy::EveryView);
  if (configured.state == settings::ProductKeyList::State::Unusable) {
    ManifestTrust trust;
    trust.signatureRequired = true;
    trust.problem = "ManifestKeys is set but unusable: " + configured.why;
    return trust;
  }
  ManifestTrust trust = TrustFromKeyLines(configured.lines);
  if (!trust.problem.empty()) {
    trust.problem = "ManifestKeys is set but unusable: " + trust.problem;
    return trust;
  }
  std::vector<std::string> builtIn;
  for (const char* const* key = kBuiltInManifestKeys; *key; ++key) builtIn.emplace_back(*key);
  const ManifestTrust compiled = TrustFromKeyLines(builtIn);
  if (!compiled.problem.empty()) {
    trust.keys.clear();
    trust.signatureRequired = true;
    trust.problem = "a key this build carries is unusable: " + compiled.problem;
    return trust;
  }
  trust.keys.insert(trust.keys.end(), compiled.keys.begin(), compiled.keys.end());
  trust.signatureRequired = trust.signatureRequired || compiled.signatureRequired;
  // A threshold that is set but cannot be read is not 1: nothing verifies.
  const std::optional<DWORD> required = settings::ReadSignaturesRequired();
  if (!required) {
    trust.signatureRequired = true;
    trust.problem = "SignaturesRequired is set but unusable (a number from 1 to 16)";
    return trust;
  }
  trust.signaturesRequired = *required;
  if (*required > 1) trust.signatureRequired = true;
  return trust;
}

}  // namespace qz
