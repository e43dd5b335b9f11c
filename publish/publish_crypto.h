// Digests, keys and signatures through OpenSSL: SHA-256 and ECDSA P-256, in
// the forms the launcher reads (raw 65-byte public points, raw r||s).
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qz::publish {

// Lowercase hexadecimal SHA-256 of a file's content; throws PublishError when
// it can't be read.
std::string Sha256OfFile(const std::string& path);

// SHA-256 of bytes that arrive in pieces (a zip entry as it is inflated).
class Sha256Stream {
 public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(const Sha256Stream&) = delete;
  Sha256Stream& operator=(const Sha256Stream&) = delete;
  void Update(const void* data, std::size_t size);
  std::string HexDigest();  // lowercase; once

 private:
  void* ctx_;
};

// The passphrase of a protected key, as the publisher gave it; none given:
// it is asked for on a terminal, and a key that needs one is refused when
// there is no terminal (a build machine never waits for a prompt).
using Passphrase = std::optional<std::string>;

struct KeyPair {
  std::string privatePem;  // PKCS#8, protected by the passphrase when one is given
  std::string publicKey;   // 0x04 || X || Y
};
KeyPair GenerateKey(const Passphrase& passphrase = std::nullopt);
// The public point of a private key in PEM; throws PublishError unless it is
// a P-256 key that opens.
std::string PublicKeyOf(const std::string& privatePem, const Passphrase& passphrase = std::nullopt);

// r || s, 32 bytes each, over the SHA-256 of message.
std::string Sign(const std::string& privatePem, const std::string& message,
                 const Passphrase& passphrase = std::nullopt);
// The same over a file's bytes, read in blocks (a file of any size).
std::string SignFileBytes(const std::string& privatePem, const std::string& path,
                          const Passphrase& passphrase = std::nullopt);
// Bytes from the system's random source, for nonces.
std::string RandomBytes(std::size_t count);

// Throws PublishError when publicKey is not a P-256 point.
bool Verify(const std::string& publicKey, const std::string& message, const std::string& signature);

}  // namespace qz::publish
