// The update state of the current target, taken from its manifest.
#include "base/field_text.h"
#include "base/run_log.h"
#include "launcher/launcher_app.h"
#include "update/manifest_fetch.h"

namespace qz {

bool LauncherApp::ReadManifest(const char* url) {
  std::optional<UpdatePlan> plan =
      FetchUpdatePlan(httpClient, url,
                      [this](const char* name, std::uint16_t& version, char (&dir)[260], char (&exe)[260]) {
                        ReadInstallRecord(name, version, dir, exe);
                      },
                      LoadManifestTrust());
  runlog::Write("manifest", std::string("GET ") + url + (plan ? ": read" : ": failed"));
  if (!plan) {
    installedVer = 0;
    ClearUpdateList();
    return false;
  }
  TakePlan(std::move(*plan));
  return true;
}

// Every read starts from its own plan, so nothing of the avatar module's
// manifest carries over into the game's.
void LauncherApp::TakePlan(UpdatePlan&& plan) {
  CopyCut(progName, plan.progName);
  CopyCut(fullDnUrl, plan.fullDnUrl);
  fullDnHash = plan.fullDnHash;
  CopyCut(upBaseUrl, plan.upBaseUrl);
  minVer = plan.minVer;
  latestVer = plan.latestVer;
  installedVer = plan.installedVer;
  updateList = std::move(plan.updateList);
  CopyCut(gameDir, plan.gameDir);
  CopyCut(gameExe, plan.gameExe);
}

void LauncherApp::SortUpdateList() { SortByVersion(updateList); }

}  // namespace qz
