// A folder that is its player's own: made with access for the user, SYSTEM
// and the administrators only (a protected access list, nothing inherited),
// or, when it is there already, checked to be owned by one of them and
// writable by no one else. The launcher's work folder is one: what it saves
// there is run and unpacked, often with administrator rights.
#pragma once

#include <windows.h>

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
// Only checks it, for a module that may use the folder but never makes it
// (the browser control): one that is not there is Unreadable.
FolderVerdict CheckPrivateFolder(const std::string& folder);
// The verdict in the support log's words.
const char* FolderVerdictText(FolderVerdict verdict);

// A folder that a program is started from with administrator rights (a
// setup program's own folder), sealed once its program is in: SYSTEM and the
// administrators may change it, the player (its owner too) may only read and
// run what is there, and it must hold `onlyFile` and nothing else, so nothing
// planted beside the program can be loaded with those rights. `folder` is an
// open handle with READ_CONTROL, WRITE_DAC and FILE_LIST_DIRECTORY, held
// without FILE_SHARE_DELETE so the folder cannot be moved away meanwhile.
// False, with `why` for the support log, when it could not be sealed or holds
// anything else.
bool SealFolder(HANDLE folder, const std::string& path, const std::string& onlyFile, std::string& why);
// The access list SealFolder sets, for the player `userSid`.
std::string SealedFolderSddl(const std::string& userSid);

}  // namespace qz
