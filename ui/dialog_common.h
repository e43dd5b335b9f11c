#pragma once

#include <windows.h>

#include "base/run_log.h"
#include "ui/dialogs.h"

namespace qz {

// Shows or hides a group of controls of one wizard page.
void ShowControls(HWND dialog, const int* ids, int count, bool show);
bool IsTicked(HWND dialog, int id);
void SetTick(HWND dialog, int id, bool ticked);
DialogEnd DialogResult(INT_PTR result);
void EndWith(HWND dialog, DialogEnd end);

// The state a dialog procedure keeps: its request, stored at WM_INITDIALOG
// from DialogBoxParam's parameter.
template <typename T>
T* DialogState(HWND dialog, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(dialog, DWLP_USER, lParam);
  return reinterpret_cast<T*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// Nothing may unwind out of a dialog procedure into user32 (on x86 that ends
// the process): an unexpected error is logged and ends the dialog as failed.
template <typename Body>
INT_PTR Guarded(HWND dialog, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    runlog::WriteCaught("dialog");
    EndWith(dialog, DialogEnd::Failed);
    return TRUE;
  }
}

}  // namespace qz
