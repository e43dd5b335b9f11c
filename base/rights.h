// What this process's own token allows: its integrity level, and whether it
// may write a file or folder. Asked before anything is changed, so a change
// this account may not make goes to a process that may, instead of failing
// half-way.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "base/win_handles.h"

namespace qz {

// The token's integrity level (SECURITY_MANDATORY_*_RID); 0 when it cannot be
// read, which counts as the lowest.
DWORD OwnIntegrityLevel();

// Whether the token may write a path: replace the file it names, add files
// and folders to the folder it names, or, when nothing is there yet, create it
// in the nearest folder above it that exists. False when that cannot be told.
// One object asks for many paths (every file of a patch): the token is taken
// once, and each folder is asked once.
class WriteRights {
 public:
  WriteRights();
  bool May(const std::string& path);

 private:
  bool Allows(const std::string& path, DWORD desired) const;
  bool MayCreateIn(const std::string& folder);

  struct Folder {
    bool exists = false;
    bool may = false;  // to add to it, or (not there) to make it
  };
  Handle token_;                           // an impersonation copy of our own token
  std::map<std::string, Folder> folders_;  // by path without a final backslash
};

bool MayWritePath(const std::string& path);

}  // namespace qz
