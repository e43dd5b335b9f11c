// The launcher's process exit codes (the README's troubleshooting table lists
// them for whoever starts it).
#pragma once

namespace qz {

enum class ExitCode : int {
  // A rejected command line, a launcher already running, a launch record that
  // could not be read, an avatar module check that stopped, or a run mode that
  // failed or was cancelled.
  Stopped = 0,
  // The run mode completed: the game started, an installation finished, or
  // there was nothing to do.
  Done = 1,
  // Normal flow: a first pass installed a release older than the newest, and
  // the second pass, which patched it, completed. (From one pass of the
  // normal flow: "installed an older release; run again".)
  SecondPass = 2,
};

}  // namespace qz
