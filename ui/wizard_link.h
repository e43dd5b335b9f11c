// The only way a worker talks to the wizard. The dialog's thread owns the
// dialog: the worker leaves texts and progress through these calls and ends
// the wizard by posting it a message; every call first checks whether the
// wizard asked the worker to stop, so a stopping worker never writes another
// block or changes the dialog again.
#pragma once

#include <windows.h>

#include "ui/dialogs.h"

namespace qz::wizard {

// Posted by the worker; wParam is how the wizard ends (a DialogEnd).
constexpr UINT kWorkerDone = WM_APP + 1;
// The wizard's timer that shows the worker's newest figures.
constexpr UINT_PTR kRefreshTimer = 1027;
constexpr UINT kRefreshMs = 100;

// Worker side.
bool StopRequested();
// Leave the newest text of a control or the bar's position for the next
// refresh. False once a stop was requested (the caller then ends at once).
bool SetText(int id, const wchar_t* text);
bool SetProgress(unsigned position);
// Returns once the wizard has shown everything left so far and kept it on
// screen until its next refresh (at most about a second): the last figures
// of a download are seen before the page moves on. False once a stop was
// requested.
bool Settle();
void Finish(HWND wizard, DialogEnd end);

// Wizard side.
void ClearStop();
// Shows the newest figures the worker left (on the refresh timer).
void ShowPending(HWND wizard);
// Asks a running worker to stop; its owner then unblocks what it waits on.
void RequestStop();
// Waits at most timeoutMs for the worker's thread while still serving the
// messages sent to this one (a message box the worker shows is its own).
// True when the thread ended.
bool WaitForWorker(HANDLE thread, DWORD timeoutMs);

}  // namespace qz::wizard
