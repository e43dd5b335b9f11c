#include "update/manifest_fetch.h"

#include <string>

#include "base/field_text.h"
#include "update/digest.h"

namespace qz {

namespace {

// A signature file is one line of base64; anything much longer is not one.
constexpr DWORD kMaxSignatureBytes = 1024;

// The whole text or nothing: a body that ends before its announced length or
// a failed read is a failed fetch, never a shorter text.
bool FetchText(HttpClient& client, const std::string& url, DWORD maxBytes, std::string& text) {
  const bool fetched = [&] {
    if (!client.Get(url.c_str()) || !client.IsStatusOk()) return false;
    const DWORD length = client.ContentLength();
    if (length == 0 || length > maxBytes) return false;
    text.assign(length, '\0');
    for (DWORD got = 0; got < length;) {
      const int n = client.Read(&text[got], length - got);
      if (n <= 0) return false;
      got += static_cast<DWORD>(n);
    }
    return true;
  }();
  client.CloseRequest();
  return fetched;
}

// The manifest's bytes are the publisher's when one configured key verifies
// the signature published beside them.
bool SignedByTrustedKey(HttpClient& http, const std::string& url, const std::string& manifest,
                        const ManifestTrust& trust) {
  const std::optional<P256Signature> signature = FetchSignature(http, url);
  if (!signature) return false;
  for (const P256PublicKey& key : trust.keys) {
    if (VerifyP256(key, manifest.data(), manifest.size(), *signature)) return true;
  }
  return false;
}

}  // namespace

std::optional<P256Signature> FetchSignature(HttpClient& http, const std::string& url) {
  std::string text;
  if (!FetchText(http, url + ".sig", kMaxSignatureBytes, text)) return std::nullopt;
  return ParseSignatureText(text);
}

std::optional<UpdatePlan> FetchUpdatePlan(HttpClient& http, const char* url, const InstallRecordLookup& lookup,
                                          const ManifestTrust& trust) {
  std::string text;
  if (!FetchText(http, url, kMaxManifestBytes, text)) return std::nullopt;
  if (trust.signatureRequired && !SignedByTrustedKey(http, url, text, trust)) return std::nullopt;

  char gameDir[kPathField] = {};
  char gameExe[kPathField] = {};
  const ManifestReading reading = ReadManifest(text, [&](const std::string& name) {
    std::uint16_t version = 0;
    lookup(name.c_str(), version, gameDir, gameExe);
    return version;
  });
  if (reading.outcome == ManifestOutcome::Refused) return std::nullopt;
  // A signature vouches for the files only through their hashes.
  if (trust.signatureRequired && !EveryFileHashed(reading.plan)) return std::nullopt;
  UpdatePlan plan = PlanOf(reading.plan);
  CopyCut(plan.gameDir, FieldText(gameDir));
  CopyCut(plan.gameExe, FieldText(gameExe));
  return plan;
}

}  // namespace qz
