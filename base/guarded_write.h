// Writes an administrator's change makes where the player may write too (a
// game in a folder of the player's, at the root of a drive). Under the guard
// every file or folder such a change opens is checked, through the handle it
// got, to be the one its path names: reached through no link or junction on
// the way from the drive, and, for a file it writes, no second name of
// another file (a hard link). Only then is a byte written or anything
// deleted, so a link the player planted cannot send the release, or a
// deletion, anywhere else. The player's own launcher writes with the
// player's rights and needs no guard.
#pragma once

#include <windows.h>

#include <string>

namespace qz {

// Turned on for the whole process by the launcher's elevated copy.
void GuardWrites();
bool WritesGuarded();

// Whether `handle`, just opened by `path`, is what `path` names (see above);
// always true without the guard. `written`: a file about to be written,
// which must have no other name.
bool OpenedAsNamed(HANDLE handle, const std::string& path, bool written = false);

// Deletes a file (or an empty folder) through a handle opened without
// following a link, after the check above; a read-only file loses its
// attribute first. False, with the system's error set, when it could not.
bool DeleteThroughHandle(const std::string& path, bool folder);

// Makes a folder; under the guard it must then be where its path names, or
// it goes again. False, with the system's error set, when it was not made.
bool MakeFolderAsNamed(const std::string& folder);

// A new file at `path`, opened with `access` (DELETE is added): a leftover of
// that name is deleted first (through a handle, so a planted link is refused,
// not followed), and the file is made only where nothing stands. Under the
// guard a file that turns out to lie elsewhere is removed again. An invalid
// handle, with the system's error set, when it could not be made.
HANDLE CreateNewAsNamed(const std::string& path, DWORD access);

}  // namespace qz
