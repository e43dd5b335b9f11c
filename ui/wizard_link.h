// The only way the download worker talks to the wizard. The dialog's thread
// owns the dialog: the worker leaves texts and progress through these calls
// and ends the wizard by posting it a message; every call first checks
// whether the wizard asked the worker to stop, so a stopping worker never
// writes another block or changes the dialog again.
#pragma once

#include <windows.h>

namespace qz::wizard {

// Posted by the worker; wParam is the wizard's result (1 done, 2 failed).
constexpr UINT kWorkerDone = WM_APP + 1;
// The wizard's timer that shows the worker's newest figures.
constexpr UINT_PTR kRefreshTimer = 1027;
constexpr UINT kRefreshMs = 100;

// Worker side.
bool StopRequested();
// False once a stop was requested (the caller then ends at once).
bool SetText(HWND wizard, int id, const wchar_t* text);
bool SetProgress(HWND wizard, unsigned position);
void Finish(HWND wizard, int result);

// Wizard side.
void ClearStop();
// Shows the newest figures the worker left (on the refresh timer).
void ShowPending(HWND wizard);
// Asks a running worker to stop, unblocks a network read it waits on, and
// waits for the thread while still serving the messages it sends the dialog.
void StopWorker(HANDLE thread);

}  // namespace qz::wizard
