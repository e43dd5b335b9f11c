// The update state of the current target, taken from its manifest.
#include "base/field_text.h"
#include "base/run_log.h"
#include "base/settings.h"
#include "launcher/launcher_app.h"
#include "update/manifest_fetch.h"

namespace qz {

LauncherApp::ManifestRead LauncherApp::ReadManifest(const std::string& url) {
  ManifestCheck check;
  check.target = target_ == Target::AvatarModule ? ManifestTarget::Avatar : ManifestTarget::Game;
  if (check.target == ManifestTarget::Game) check.pageProgName = FieldText(block_.ProgName);
  check.now = UtcNow();
  check.machineFloor = elevatedCopy_;
  // The elevated side follows the machine's channel only.
  const std::string channel =
      check.target == ManifestTarget::Game ? settings::ReadChannel(elevatedCopy_) : std::string(kMainChannel);
  std::string at;
  const FetchedPlan fetched = FetchChannelPlan(http_, url, LoadManifestTrust(), check, channel, at);
  const bool read = fetched.plan.has_value();
  manifestUrl_ = read ? at : "";
  runlog::Write("manifest", "GET " + at + (read ? ": read" : ": refused") +
                                (fetched.why.empty() ? "" : ": " + fetched.why));
  // Every read starts from its own plan, so nothing of the avatar module's
  // manifest carries over into the game's, nor of a failed read into the next.
  plan_ = read ? std::move(*fetched.plan) : UpdatePlan{};
  return ManifestRead{read, fetched.outOfDate};
}

}  // namespace qz
