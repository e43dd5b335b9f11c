// Reaches into the launcher's state so a Win32 test (or the bench) can set up
// one step of a flow without running the flows before it.
#pragma once

#include "launcher/launcher_app.h"

namespace qz {

class LauncherAppPeer {
 public:
  explicit LauncherAppPeer(LauncherApp& app) : app_(app) {}

  LaunchBlock& block() { return app_.block_; }
  UpdatePlan& plan() { return app_.plan_; }
  SetupParameters& setup() { return app_.setup_; }
  Target& target() { return app_.target_; }
  Action& action() { return app_.action_; }
  std::string& workDir() { return app_.workDir_; }
  HttpClient& http() { return app_.http_; }

 private:
  LauncherApp& app_;
};

}  // namespace qz
