// The maintenance service's channel: one named pipe on this PC that only its
// interactive users may open. Network logons and anonymous callers are
// denied by its access list, remote clients by the pipe's mode, and no caller
// may add a server instance of its own. A caller, in turn, talks only to a
// pipe that only SYSTEM and the administrators may change: one a player's
// process made first under the same name is never used.
#pragma once

#include <windows.h>

#include <string>

#include "base/win_handles.h"

namespace qz {

// The service's name with the service control manager.
inline constexpr char kServiceName[] = "QuorlynxMaintenance";
inline constexpr char kServicePipeName[] = "\\\\.\\pipe\\Quorlynx.Maintenance";
// Denied first: network logons (NU) and anonymous callers (AN), whatever else
// they hold. Interactive users (IU) may read and write messages and set the
// read mode, never create an instance (FILE_CREATE_PIPE_INSTANCE) nor change
// the pipe's list. OWNER RIGHTS leaves its owner, whoever made it, nothing
// but reading the list: only SYSTEM and the administrators may change it.
inline constexpr char kServicePipeSddl[] =
    "D:P(D;;GA;;;NU)(D;;GA;;;AN)(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x12018b;;;IU)(A;;RC;;;OW)";
// What makes a pipe another's: rewriting its list or owner, or adding an
// instance that would answer callers in its place.
inline constexpr DWORD kPipeOwningRights = WRITE_DAC | WRITE_OWNER | FILE_CREATE_PIPE_INSTANCE;
// The longest message either side sends.
inline constexpr DWORD kServiceMessageBytes = 4096;

// One server instance, message mode, remote clients rejected; `first` makes
// it fail when any instance of the name exists already.
FileHandle CreateServicePipe(bool first);

// The caller's end, after at most `waitMs` for a free instance; empty when
// the service is absent or the pipe is not one only the trusted accounts may
// change (logged by the caller from `why`).
FileHandle ConnectServicePipe(DWORD waitMs, std::string& why);

// The channel of a running service; a stopped one is started first (it
// starts on demand) and waited for up to `startMs`. Empty when the service
// is not installed, may not be started, or is not what answers (`why`).
FileHandle OpenServiceChannel(DWORD startMs, std::string& why);

bool WriteServiceMessage(HANDLE pipe, const std::string& message);
// One whole message; false at the end of the channel or on a longer one.
bool ReadServiceMessage(HANDLE pipe, std::string& message);

}  // namespace qz
