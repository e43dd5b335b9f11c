#pragma once

#include <windows.h>

namespace qz {

// Shows or hides a group of controls of one wizard page.
void ShowControls(HWND dialog, const int* ids, int count, bool show);
bool IsTicked(HWND dialog, int id);
void SetTick(HWND dialog, int id, bool ticked);
int DialogResult(INT_PTR result);

}  // namespace qz
