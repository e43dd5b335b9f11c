// The wizard's worker thread: checks that every listed file exists, downloads
// them with live progress, unpacks the zip archives among them into the
// target's folder, and ends the wizard with 1 (done) or 2 (failed).
#pragma once

#include <windows.h>

namespace qz {

// Thread procedure; the argument is the wizard's window.
DWORD WINAPI DownloadWorker(LPVOID wizardWindow);

}  // namespace qz
