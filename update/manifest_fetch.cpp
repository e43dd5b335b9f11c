// Fetching and reading the update manifest of the current target.
#include <string>

#include "launcher/launcher_app.h"
#include "update/manifest.h"

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

bool LauncherApp::ReadManifest(const char* url) {
  installedVer = 0;
  ClearUpdateList();
  std::string text;
  const bool fetched = FetchManifestText(httpClient, url, text);
  httpClient.CloseRequest();
  if (!fetched) return false;

  const ManifestFields fields{progName, fullDnUrl, upBaseUrl, minVer, latestVer, installedVer, updateList};
  const ManifestOutcome outcome =
      ParseManifest(&text[0], fields, [this](const char* name, std::uint16_t& version) {
        ReadInstallRecord(name, version, gameDir, gameExe);
      });
  if (outcome == ManifestOutcome::Refused) {
    ClearUpdateList();
    return false;
  }
  return true;
}

void LauncherApp::SortUpdateList() { SortByVersion(updateList); }

}  // namespace qz
