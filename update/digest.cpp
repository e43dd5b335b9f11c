#include "update/digest.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace qz {

namespace {
bool Succeeded(NTSTATUS status) { return status >= 0; }
}  // namespace

Sha256Hasher::Sha256Hasher() {
  if (!Succeeded(BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    algorithm_.reset();
    return;
  }
  if (!Succeeded(BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0))) hash_.reset();
}

bool Sha256Hasher::Update(const void* data, std::size_t size) {
  if (!hash_) return false;
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  while (size > 0) {
    const ULONG piece = static_cast<ULONG>(std::min<std::size_t>(size, ULONG_MAX));
    if (!Succeeded(BCryptHashData(hash_.get(), bytes, piece, 0))) {
      hash_.reset();
      return false;
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

std::optional<Sha256Digest> Sha256Hasher::Finish() {
  if (!hash_) return std::nullopt;
  Sha256Digest digest{};
  const bool ok =
      Succeeded(BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
  hash_.reset();
  if (!ok) return std::nullopt;
  return digest;
}

namespace {
constexpr std::size_t kMaxQueued = 8;
}  // namespace

BackgroundSha256::BackgroundSha256() : thread_([this] { Run(); }) {}

BackgroundSha256::~BackgroundSha256() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    closing_ = true;
    queued_.clear();
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool BackgroundSha256::Update(const void* data, std::size_t size) {
  std::unique_lock<std::mutex> hold(mutex_);
  changed_.wait(hold, [this] { return queued_.size() < kMaxQueued || failed_; });
  if (failed_ || closing_) return false;
  std::vector<std::uint8_t> block;
  if (!spare_.empty()) {
    block = std::move(spare_.back());
    spare_.pop_back();
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  block.assign(bytes, bytes + size);
  queued_.push_back(std::move(block));
  hold.unlock();
  changed_.notify_all();
  return true;
}

void BackgroundSha256::Run() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    changed_.wait(hold, [this] { return closing_ || !queued_.empty(); });
    if (queued_.empty()) return;  // closing, nothing left
    std::vector<std::uint8_t> block = std::move(queued_.front());
    queued_.pop_front();
    busy_ = true;
    hold.unlock();
    const bool hashed = hasher_.Update(block.data(), block.size());
    hold.lock();
    busy_ = false;
    if (!hashed) failed_ = true;
    spare_.push_back(std::move(block));
    changed_.notify_all();
  }
}

std::optional<Sha256Digest> BackgroundSha256::Finish() {
  {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait(hold, [this] { return (queued_.empty() && !busy_) || failed_; });
    closing_ = true;
  }
  changed_.notify_all();
  thread_.join();
  if (failed_) return std::nullopt;
  return hasher_.Finish();
}

std::optional<Sha256Digest> Sha256Of(const void* data, std::size_t size) {
  Sha256Hasher hasher;
  if (!hasher.Update(data, size)) return std::nullopt;
  return hasher.Finish();
}

bool VerifyP256(const P256PublicKey& key, const void* message, std::size_t size,
                const P256Signature& signature) {
  const auto digest = Sha256Of(message, size);
  return digest && VerifyP256Digest(key, *digest, signature);
}

bool FileHashMatches(const FileHash& expected, const Sha256Digest& digest) {
  if (expected.present && expected.digest != digest) return false;
  if (!expected.signatures.empty()) {
    return expected.signaturesRequired > 0 &&
           KeysThatSigned(expected.signers, digest, expected.signatures) >= expected.signaturesRequired;
  }
  return expected.present;
}

std::size_t KeysThatSigned(const std::vector<P256PublicKey>& keys, const Sha256Digest& digest,
                           const std::vector<P256Signature>& signatures) {
  std::vector<P256PublicKey> counted;
  for (const P256PublicKey& key : keys) {
    if (std::find(counted.begin(), counted.end(), key) != counted.end()) continue;
    for (const P256Signature& signature : signatures) {
      if (VerifyP256Digest(key, digest, signature)) {
        counted.push_back(key);
        break;
      }
    }
  }
  return counted.size();
}

bool VerifyP256Digest(const P256PublicKey& key, const Sha256Digest& digest, const P256Signature& signature) {
  AlgorithmHandle algorithm;
  if (!Succeeded(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  // CNG's public key blob: a header, then x and y without the leading 0x04.
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::vector<UCHAR> blob(sizeof header + 64);
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.data() + 1, 64);
  KeyHandle imported;
  if (key[0] != 0x04 ||
      !Succeeded(BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, imported.put(),
                                     blob.data(), static_cast<ULONG>(blob.size()), 0))) {
    return false;
  }
  return BCryptVerifySignature(imported.get(), nullptr, const_cast<PUCHAR>(digest.data()),
                               static_cast<ULONG>(digest.size()), const_cast<PUCHAR>(signature.data()),
                               static_cast<ULONG>(signature.size()), 0) == 0;
}

FileHandle HoldChecked(const std::string& path, const FileHash& hash, bool& mismatch) {
  mismatch = false;
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file || !hash.Checked()) return file;
  // The disk is read while the blocks before are hashed on another thread,
  // so checking a large archive again costs the slower of the two, not both.
  BackgroundSha256 hasher;
  std::vector<std::uint8_t> buffer(256 << 10);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
      return FileHandle();
    if (got == 0) break;
    if (!hasher.Update(buffer.data(), got)) return FileHandle();
  }
  const std::optional<Sha256Digest> digest = hasher.Finish();
  mismatch = !digest || !FileHashMatches(hash, *digest);
  if (mismatch) return FileHandle();
  return file;
}

}  // namespace qz
