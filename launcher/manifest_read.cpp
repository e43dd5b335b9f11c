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
  const ManifestTrust trust = LoadManifestTrust();
  // A channel other than the main one reads its own manifest beside the
  // main one's; only when that one is not there at all is the main one read.
  // The elevated side follows the machine's channel only.
  std::string at = url;
  FetchedPlan fetched;
  if (check.target == ManifestTarget::Game) {
    const std::string channel = settings::ReadChannel(elevatedCopy_);
    if (channel != kMainChannel) {
      check.channel = channel;
      at = ChannelAddress(url, channel);
      fetched = FetchUpdatePlan(http_, at, trust, check);
      if (!fetched.plan && fetched.notFetched) {
        runlog::Write("manifest", "GET " + at + ": not there; the main channel's instead");
        check.channel = kMainChannel;
        at = url;
      }
    }
  }
  if (check.channel == kMainChannel) fetched = FetchUpdatePlan(http_, at, trust, check);
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
