#include "publish/publish_crypto.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/pem.h>
#include <openssl/rand.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "publish/publish_error.h"
#include "publish/publish_text.h"

namespace qz::publish {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using KeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Sig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;
using Bn = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;

constexpr std::size_t kPointSize = 65;
constexpr std::size_t kHalf = 32;

[[noreturn]] void Fail(const std::string& what) { throw PublishError(what); }

bool IsP256(EVP_PKEY* key) {
  char group[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") &&
         EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &length) == 1 &&
         std::string(group) == "prime256v1";
}

std::string PublicPoint(EVP_PKEY* key) {
  unsigned char point[kPointSize + 1];
  std::size_t length = 0;
  // Uncompressed is OpenSSL's default point format for keys it makes or reads.
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &length) != 1 ||
      length != kPointSize || point[0] != 0x04) {
    Fail("the key's public point could not be read");
  }
  return std::string(reinterpret_cast<char*>(point), length);
}

struct PassphraseAsk {
  const Passphrase* given;
  bool asked = false;
  bool prompted = false;
};

// OpenSSL asks only for a protected key. Without this it would prompt on
// the terminal whether there is one or not.
int PassphraseFor(char* buffer, int size, int, void* context) {
  auto* ask = static_cast<PassphraseAsk*>(context);
  ask->asked = true;
  if (ask->given->has_value()) {
    const std::string& text = **ask->given;
    if (text.size() > static_cast<std::size_t>(size)) return -1;
    std::memcpy(buffer, text.data(), text.size());
    return static_cast<int>(text.size());
  }
  if (!isatty(STDIN_FILENO) || !isatty(STDERR_FILENO)) return -1;
  ask->prompted = true;
  if (EVP_read_pw_string(buffer, size, "Passphrase of the signing key: ", 0) != 0) return -1;
  return static_cast<int>(std::strlen(buffer));
}

Key ReadPrivate(const std::string& pem, const Passphrase& passphrase) {
  Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  PassphraseAsk ask{&passphrase};
  Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, &PassphraseFor, &ask) : nullptr);
  if (!key && ask.asked && !passphrase && !ask.prompted) {
    Fail(
        "the key is protected by a passphrase: give --pass-env NAME or --pass-file FILE (there is no "
        "terminal to "
        "ask on)");
  }
  if (!key && ask.asked) Fail("the passphrase does not open the key");
  if (key && passphrase && !ask.asked) {
    Fail("the key is not protected by a passphrase: --pass-env and --pass-file are only for a protected key");
  }
  if (!key) Fail("not a private key in PEM form");
  if (!IsP256(key.get())) Fail("not an ECDSA P-256 key");
  return key;
}

Key PublicFromPoint(const std::string& point) {
  if (point.size() != kPointSize || point[0] != 0x04) Fail("a public key is 65 bytes: 0x04, X and Y");
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("prime256v1"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, const_cast<char*>(point.data()),
                                        point.size()),
      OSSL_PARAM_construct_end()};
  KeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    Fail("the public key is not a point of P-256");
  }
  Key key(raw);
  KeyCtx check(EVP_PKEY_CTX_new(key.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) Fail("the public key is not a point of P-256");
  return key;
}

}  // namespace

std::string Sha256OfFile(const std::string& path) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) Fail("cannot read " + path);
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) Fail("SHA-256 is not available");
  std::string buffer(1 << 16, '\0');
  std::size_t n;
  while ((n = std::fread(&buffer[0], 1, buffer.size(), file.get())) > 0)
    EVP_DigestUpdate(ctx.get(), buffer.data(), n);
  if (std::ferror(file.get())) Fail("cannot read " + path);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx.get(), digest, &length);
  return ToHex(std::string(reinterpret_cast<char*>(digest), length));
}

Sha256Stream::Sha256Stream() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
    Fail("SHA-256 is not available");
  }
}

Sha256Stream::~Sha256Stream() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void Sha256Stream::Update(const void* data, std::size_t size) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, size);
}

std::string Sha256Stream::HexDigest() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), digest, &length);
  return ToHex(std::string(reinterpret_cast<char*>(digest), length));
}

KeyPair GenerateKey(const Passphrase& passphrase) {
  Key key(EVP_EC_gen("P-256"));
  if (!key) Fail("a P-256 key could not be made");
  Bio bio(BIO_new(BIO_s_mem()));
  const EVP_CIPHER* cipher = passphrase ? EVP_aes_256_cbc() : nullptr;
  auto* pass = passphrase ? reinterpret_cast<const unsigned char*>(passphrase->data()) : nullptr;
  const int passLength = passphrase ? static_cast<int>(passphrase->size()) : 0;
  if (!bio ||
      PEM_write_bio_PrivateKey(bio.get(), key.get(), cipher, pass, passLength, nullptr, nullptr) != 1) {
    Fail("the key could not be written as PEM");
  }
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return {std::string(data, static_cast<std::size_t>(size)), PublicPoint(key.get())};
}

std::string PublicKeyOf(const std::string& privatePem, const Passphrase& passphrase) {
  return PublicPoint(ReadPrivate(privatePem, passphrase).get());
}

namespace {

// r || s over what `feed` hands EVP_DigestSignUpdate, block by block, so a
// file of any size is signed without being held.
template <typename Feed>
std::string SignFed(const std::string& privatePem, const Passphrase& passphrase, Feed feed) {
  Key key = ReadPrivate(privatePem, passphrase);
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1)
    Fail("signing failed");
  feed([&ctx](const void* data, std::size_t size) {
    if (EVP_DigestSignUpdate(ctx.get(), data, size) != 1) Fail("signing failed");
  });
  std::size_t derSize = 0;
  if (EVP_DigestSignFinal(ctx.get(), nullptr, &derSize) != 1) Fail("signing failed");
  std::string der(derSize, '\0');
  if (EVP_DigestSignFinal(ctx.get(), reinterpret_cast<unsigned char*>(&der[0]), &derSize) != 1) {
    Fail("signing failed");
  }
  const auto* p = reinterpret_cast<const unsigned char*>(der.data());
  Sig sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(derSize)));
  if (!sig) Fail("signing failed");
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(sig.get(), &r, &s);
  std::string raw(2 * kHalf, '\0');
  auto* out = reinterpret_cast<unsigned char*>(&raw[0]);
  if (BN_bn2binpad(r, out, kHalf) != static_cast<int>(kHalf) ||
      BN_bn2binpad(s, out + kHalf, kHalf) != static_cast<int>(kHalf)) {
    Fail("signing failed");
  }
  return raw;
}

}  // namespace

std::string Sign(const std::string& privatePem, const std::string& message, const Passphrase& passphrase) {
  return SignFed(privatePem, passphrase,
                 [&message](const auto& update) { update(message.data(), message.size()); });
}

std::string SignFileBytes(const std::string& privatePem, const std::string& path,
                          const Passphrase& passphrase) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) Fail("cannot read " + path);
  return SignFed(privatePem, passphrase, [&](const auto& update) {
    std::string buffer(1 << 16, '\0');
    std::size_t n;
    while ((n = std::fread(&buffer[0], 1, buffer.size(), file.get())) > 0) update(buffer.data(), n);
    if (std::ferror(file.get())) Fail("cannot read " + path);
  });
}

std::string RandomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  if (count > 0 && RAND_bytes(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<int>(count)) != 1) {
    Fail("the system's random source failed");
  }
  return bytes;
}

bool Verify(const std::string& publicKey, const std::string& message, const std::string& signature) {
  Key key = PublicFromPoint(publicKey);
  if (signature.size() != 2 * kHalf) return false;
  const auto* raw = reinterpret_cast<const unsigned char*>(signature.data());
  Bn r(BN_bin2bn(raw, kHalf, nullptr));
  Bn s(BN_bin2bn(raw + kHalf, kHalf, nullptr));
  Sig sig(ECDSA_SIG_new());
  if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) Fail("out of memory");
  r.release();
  s.release();
  unsigned char* der = nullptr;
  const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
  if (derSize <= 0) Fail("out of memory");
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(
      der, [](unsigned char* d) { OPENSSL_free(d); });
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1)
    Fail("verifying failed");
  return EVP_DigestVerify(ctx.get(), der, static_cast<std::size_t>(derSize),
                          reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

}  // namespace qz::publish
