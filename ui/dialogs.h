// The launcher's three modal dialogs. Each returns 1 (done) or 2 (cancelled
// or failed); a dialog that cannot even be created counts as failed.
#pragma once

#include <windows.h>

namespace qz {

INT_PTR CALLBACK WaitDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WizardDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SetupRunDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fetches the manifest of g_app->target while showing text.
int RunWaitDialog(const wchar_t* text);
// Confirms, downloads and installs according to target and action.
int RunWizardDialog();
// Runs the downloaded setup program and waits for it.
int RunSetupRunDialog();

}  // namespace qz
