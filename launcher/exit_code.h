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
  // The player declined the rights a change needed (the launcher's own
  // prompt or a setup program's): nothing was changed or recorded, and the
  // game was not started.
  Declined = 3,
  // Started below medium integrity (a browser in protected mode without our
  // elevation policy): nothing was changed.
  LowIntegrity = 4,
  // The elevated copy (started with "/change ..."): the change is made, or
  // its target was already current.
  ChangeMade = 5,
  // The elevated copy: the change failed, was cancelled or is not one it
  // makes; the player was told.
  ChangeFailed = 6,
};

}  // namespace qz
