// A folder that is its player's own: made with access for the user, SYSTEM
// and the administrators only (a protected access list, nothing inherited),
// or, when it is there already, checked to be owned by one of them and
// writable by no one else. The launcher's work folder is one: what it saves
// there is run and unpacked, often with administrator rights.
#pragma once

#include <string>

namespace qz {

enum class FolderVerdict {
  Private,         // ours: usable
  NotMade,         // could not be made
  Unreadable,      // its owner or access list cannot be read
  NotAFolder,      // a file, or a link to somewhere else
  OtherOwner,      // owned by another account
  OthersMayWrite,  // another account may write or change it
};

// Makes `folder` private when it is not there yet, then checks it.
FolderVerdict MakePrivateFolder(const std::string& folder);
// The verdict in the support log's words.
const char* FolderVerdictText(FolderVerdict verdict);

}  // namespace qz
