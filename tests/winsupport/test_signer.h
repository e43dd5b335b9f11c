// A publisher's signing key for tests: made fresh in the test with CNG, so a
// test can sign the manifests it publishes at the address it was given.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <string>
#include <vector>

namespace qz::test {

std::string Base64(const std::string& bytes);

class TestSigner {
 public:
  TestSigner();
  ~TestSigner();
  TestSigner(const TestSigner&) = delete;
  TestSigner& operator=(const TestSigner&) = delete;

  // The 65-byte uncompressed public point, base64: a ManifestKeys line.
  std::string PublicKeyLine() const;
  // The 64-byte r||s signature of SHA-256(bytes).
  std::string Sign(const std::string& bytes) const;
  // Its base64 and a line end: a .sig file.
  std::string SignatureText(const std::string& bytes) const;

 private:
  BCRYPT_ALG_HANDLE ecdsa_ = nullptr;
  BCRYPT_KEY_HANDLE key_ = nullptr;
};

// Lowercase hex SHA-256 of bytes, as a manifest's SHA256 value.
std::string Sha256Hex(const std::string& bytes);

// Sets a list of keys of the machine's settings (REG_MULTI_SZ): ManifestKeys,
// PortalKeys; an empty list removes it.
void SetProductKeys(const char* valueName, const std::vector<std::string>& lines);
inline void SetManifestKeys(const std::vector<std::string>& lines) { SetProductKeys("ManifestKeys", lines); }

}  // namespace qz::test
