#include "update/manifest_fetch.h"

#include <string>

namespace qz {

namespace {

// The whole manifest or nothing: a body that ends before its announced length
// or a failed read is a failed fetch, never a shorter manifest.
bool FetchManifestText(HttpClient& client, const char* url, std::string& text) {
  if (!client.OpenUrl(url, kHttpContext, kHttpFlags, nullptr, 0) || !client.IsStatusOk()) return false;
  const DWORD length = client.GetContentLength();
  if (length == 0 || length > kMaxManifestBytes) return false;
  text.assign(length, '\0');
  for (DWORD got = 0; got < length;) {
    const int n = client.Read(&text[got], length - got);
    if (n <= 0) return false;
    got += static_cast<DWORD>(n);
  }
  return true;
}

}  // namespace

std::optional<UpdatePlan> FetchUpdatePlan(HttpClient& http, const char* url,
                                          const InstallRecordLookup& lookup) {
  std::string text;
  const bool fetched = FetchManifestText(http, url, text);
  http.CloseRequest();
  if (!fetched) return std::nullopt;

  UpdatePlan plan;
  const ManifestFields fields{plan.progName,  plan.fullDnUrl,    plan.upBaseUrl,  plan.minVer,
                              plan.latestVer, plan.installedVer, plan.updateList, plan.fullDnHash};
  const ManifestOutcome outcome =
      ParseManifest(&text[0], fields, [&](const char* name, std::uint16_t& version) {
        lookup(name, version, plan.gameDir, plan.gameExe);
      });
  if (outcome == ManifestOutcome::Refused) return std::nullopt;
  return plan;
}

}  // namespace qz
