// SHA-256 and ECDSA P-256 checks through Windows' own crypto (CNG), for the
// hash of every downloaded file and the signature of a manifest. Any failure
// of the crypto itself counts as a failed check.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <string>

#include "base/win_handles.h"
#include "format/codec.h"
#include "update/update_file.h"

namespace qz {

struct AlgorithmHandleTraits {
  using type = BCRYPT_ALG_HANDLE;
  static BCRYPT_ALG_HANDLE invalid() noexcept { return nullptr; }
  static void close(BCRYPT_ALG_HANDLE h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
using AlgorithmHandle = UniqueHandle<AlgorithmHandleTraits>;
struct HashHandleTraits {
  using type = BCRYPT_HASH_HANDLE;
  static BCRYPT_HASH_HANDLE invalid() noexcept { return nullptr; }
  static void close(BCRYPT_HASH_HANDLE h) noexcept { ::BCryptDestroyHash(h); }
};
using HashHandle = UniqueHandle<HashHandleTraits>;
struct KeyHandleTraits {
  using type = BCRYPT_KEY_HANDLE;
  static BCRYPT_KEY_HANDLE invalid() noexcept { return nullptr; }
  static void close(BCRYPT_KEY_HANDLE h) noexcept { ::BCryptDestroyKey(h); }
};
using KeyHandle = UniqueHandle<KeyHandleTraits>;

// SHA-256 of data that arrives in pieces (a download, block by block).
class Sha256Hasher {
 public:
  Sha256Hasher();
  // False once anything failed; Finish then gives nothing.
  bool Update(const void* data, std::size_t size);
  // The digest; the hasher is spent afterwards.
  std::optional<Sha256Digest> Finish();

 private:
  AlgorithmHandle algorithm_;
  HashHandle hash_;
};

// The same on a thread of its own, so hashing a download overlaps receiving
// and writing it: Update copies the block and returns unless a few blocks
// already wait (memory stays flat). Destroying it unfinished drops the rest.
class BackgroundSha256 {
 public:
  BackgroundSha256();
  ~BackgroundSha256();
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;

  bool Update(const void* data, std::size_t size);
  // Waits for the blocks still queued, then gives the digest.
  std::optional<Sha256Digest> Finish();

 private:
  void Run();

  Sha256Hasher hasher_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::vector<std::uint8_t>> queued_;
  std::vector<std::vector<std::uint8_t>> spare_;  // buffers to reuse
  bool closing_ = false;
  bool failed_ = false;
  bool busy_ = false;
  std::thread thread_;
};

std::optional<Sha256Digest> Sha256Of(const void* data, std::size_t size);

// The file at `path` opened for reading with every writer and deleter shut
// out, so what is checked now is what is run or unpacked while the handle
// stays open; when `hash` names a hash or a signature the SHA-256 is taken
// again through that handle and checked (FileHashMatches). Invalid when it
// cannot be opened or its bytes are not the published ones (`mismatch` then
// tells which).
FileHandle HoldChecked(const std::string& path, const FileHash& hash, bool& mismatch);

// True only when signature is a valid ECDSA P-256 signature by key over the
// SHA-256 of message.
bool VerifyP256(const P256PublicKey& key, const void* message, std::size_t size,
                const P256Signature& signature);
// The same for a message whose SHA-256 was taken already (a download's, as it
// arrived).
bool VerifyP256Digest(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature);

// Whether a downloaded file's SHA-256 is the one its publisher released: the
// hash named, and the signature verified by a signer. Neither: false.
bool FileHashMatches(const FileHash& expected, const Sha256Digest& digest);
// How many distinct keys of `keys` verify at least one of `signatures` over
// `digest`: the same key listed twice, or signing twice, counts once.
std::size_t KeysThatSigned(const std::vector<P256PublicKey>& keys, const Sha256Digest& digest,
                           const std::vector<P256Signature>& signatures);

}  // namespace qz
