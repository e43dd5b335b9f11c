// The product's folders on a player's PC: the work folder below the temporary
// folder, which the launcher and the control share (downloads, the support
// log), and the installed launcher in the system's Windows folder. The rules
// are pure; on Windows also the system calls that feed them.
#pragma once

#include <string>

namespace qz {

// The launcher's name as installed (by the package, into the system's
// Windows folder).
constexpr char kInstalledLauncherName[] = "Quorlynx1.exe";

// "dir" -> "dir\"; an empty text stays empty.
std::string WithTrailingBackslash(const std::string& dir);

// The work folder below the temporary folder: "<temp>\~qztmp\"; "" when the
// temporary folder is unknown (empty): there is no other place for it.
std::string WorkDirBelow(const std::string& tempDir);

#ifdef _WIN32
// The work folder below this process's temporary folder; "" when that folder
// cannot be told or is not a folder. Nothing is made or checked here: the
// launcher makes it its player's own (MakePrivateFolder), the control only
// checks it (CheckPrivateFolder).
std::string PlayerWorkFolder();

// The system's Windows folder, where the package installs the launcher for
// every account, as GetSystemWindowsDirectory names it: without a trailing
// backslash unless it is a drive's root. Not GetWindowsDirectory, which on a
// terminal server names a private folder of each user for a program not
// marked as aware of terminal services, where no launcher is installed.
// ANSI, as the programs pass paths on; "" when it cannot be told.
std::string InstalledLauncherFolder();
// "<system Windows folder>\Quorlynx1.exe": the launcher the control starts,
// the link protocol names and the elevated copy runs as. "" when unknown.
std::string InstalledLauncherPath();

// Whether an installed program is there: one file by that exact name (no
// search pattern), not empty.
bool ExecutablePresent(const std::string& path);
#endif

}  // namespace qz
