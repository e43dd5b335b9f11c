#pragma once

#include <windows.h>

namespace qz {

// A message box with the product's texts. A null caption shows the system's
// default title; a null owner shows it on its own.
int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);

}  // namespace qz
