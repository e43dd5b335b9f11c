#include "tests/winsupport/test_signer.h"

#include <stdexcept>

#include "update/digest.h"

namespace qz::test {

namespace {

void Check(NTSTATUS status, const char* what) {
  if (status < 0) throw std::runtime_error(what);
}

std::string Digest(const std::string& bytes) {
  const std::optional<Sha256Digest> digest = Sha256Of(bytes.data(), bytes.size());
  if (!digest) throw std::runtime_error("hash");
  return std::string(digest->begin(), digest->end());
}

}  // namespace

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const unsigned a = static_cast<unsigned char>(bytes[i]);
    const unsigned b = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    const unsigned c = i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0;
    const unsigned v = a << 16 | b << 8 | c;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[v >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

TestSigner::TestSigner() {
  Check(BCryptOpenAlgorithmProvider(&ecdsa_, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0), "ecdsa");
  Check(BCryptGenerateKeyPair(ecdsa_, &key_, 256, 0), "generate");
  Check(BCryptFinalizeKeyPair(key_, 0), "finalize");
}

TestSigner::~TestSigner() {
  if (key_) BCryptDestroyKey(key_);
  if (ecdsa_) BCryptCloseAlgorithmProvider(ecdsa_, 0);
}

std::string TestSigner::PublicKeyLine() const {
  // BCRYPT_ECCKEY_BLOB header, then X and Y.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  ULONG size = 0;
  Check(BCryptExportKey(key_, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob, &size, 0), "export");
  std::string point(1, '\x04');
  point.append(reinterpret_cast<const char*>(blob + sizeof(BCRYPT_ECCKEY_BLOB)), 64);
  return Base64(point);
}

std::string TestSigner::Sign(const std::string& bytes) const {
  std::string digest = Digest(bytes);
  std::string signature(64, '\0');
  ULONG size = 0;
  Check(BCryptSignHash(key_, nullptr, reinterpret_cast<PUCHAR>(&digest[0]), 32,
                       reinterpret_cast<PUCHAR>(&signature[0]), 64, &size, 0),
        "sign");
  return signature;
}

std::string TestSigner::SignatureText(const std::string& bytes) const { return Base64(Sign(bytes)) + "\n"; }

std::string Sha256Hex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : Digest(bytes)) {
    hex += kHex[c >> 4];
    hex += kHex[c & 15];
  }
  return hex;
}

void SetProductKeys(const char* valueName, const std::vector<std::string>& lines) {
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Veltoworks", &key) != ERROR_SUCCESS) {
    throw std::runtime_error("settings key");
  }
  if (lines.empty()) {
    RegDeleteValueA(key, valueName);
  } else {
    std::string data;
    for (const std::string& line : lines) data += line + '\0';
    data += '\0';
    RegSetValueExA(key, valueName, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size()));
  }
  RegCloseKey(key);
}

}  // namespace qz::test
