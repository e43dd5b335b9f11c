// The update state of the current target, taken from its manifest.
#include "base/field_text.h"
#include "base/run_log.h"
#include "launcher/launcher_app.h"
#include "update/manifest_fetch.h"

namespace qz {

bool LauncherApp::ReadManifest(const char* url) {
  ManifestCheck check;
  check.target = target_ == Target::AvatarModule ? ManifestTarget::Avatar : ManifestTarget::Game;
  if (check.target == ManifestTarget::Game) check.pageProgName = FieldText(block_.ProgName);
  check.now = UtcNow();
  check.machineFloor = elevatedCopy_;
  FetchedPlan fetched = FetchUpdatePlan(
      http_, url,
      [this](const char* name, std::uint16_t& version, char (&dir)[kPathField], char (&exe)[kPathField]) {
        ReadInstallRecord(name, version, dir, exe);
      },
      LoadManifestTrust(), check);
  std::optional<UpdatePlan>& plan = fetched.plan;
  manifestOutOfDate_ = fetched.outOfDate;
  manifestUrl_ = plan ? url : "";
  runlog::Write("manifest", std::string("GET ") + url + (plan ? ": read" : ": refused") +
                                (fetched.why.empty() ? "" : ": " + fetched.why));
  // Every read starts from its own plan, so nothing of the avatar module's
  // manifest carries over into the game's, nor of a failed read into the next.
  TakePlan(plan ? std::move(*plan) : UpdatePlan{});
  return plan.has_value();
}

void LauncherApp::TakePlan(UpdatePlan&& plan) { plan_ = std::move(plan); }

}  // namespace qz
