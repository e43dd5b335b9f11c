// What every change made with administrator rights shares, whichever process
// makes it (the launcher's elevated copy or the maintenance service): one
// change at a time on the PC, and a work folder of its own that nothing
// running with a player's rights can reach.
#pragma once

#include <windows.h>

#include <string>

#include "base/win_handles.h"

namespace qz {

// The system's own Windows folder with its final backslash (on a terminal
// server a program may be shown a private one of the user's); "" when unknown.
std::string SystemWindowsFolder();

// The PC's one lock of administrators' changes, held for the life of its
// owner. Only a lock made by another administrator's change (nobody but
// SYSTEM and the administrators may change it) means one runs: a lock of the
// same name that a player's process made first is passed over, so making it
// stops nobody.
class ChangeLock {
 public:
  ChangeLock();
  ChangeLock(const ChangeLock&) = delete;
  ChangeLock& operator=(const ChangeLock&) = delete;
  bool Busy() const { return busy_; }
  bool PassedOverForeign() const { return foreign_; }

 private:
  Handle mutex_;
  bool busy_ = false;
  bool foreign_ = false;
};

// A new folder under the system's temporary folder that only SYSTEM and the
// administrators may change, held open while the change works and emptied
// and removed at the end: nothing running with a player's rights can swap an
// archive after its check, or a folder in its path, before it is unpacked.
class AdminWorkFolder {
 public:
  AdminWorkFolder();
  ~AdminWorkFolder();
  AdminWorkFolder(const AdminWorkFolder&) = delete;
  AdminWorkFolder& operator=(const AdminWorkFolder&) = delete;
  // "" when none could be made (the system's error is set).
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  FileHandle hold_;
};

}  // namespace qz
