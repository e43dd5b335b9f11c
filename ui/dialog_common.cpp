#include "ui/dialog_common.h"

namespace qz {

void ShowControls(HWND dialog, const int* ids, int count, bool show) {
  for (int i = 0; i < count; ++i) ShowWindow(GetDlgItem(dialog, ids[i]), show ? SW_SHOW : SW_HIDE);
}

bool IsTicked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void SetTick(HWND dialog, int id, bool ticked) {
  CheckDlgButton(dialog, id, ticked ? BST_CHECKED : BST_UNCHECKED);
}

// DialogBoxParam gives -1 or 0 when the dialog could not be made; the flows
// must not take that for success.
DialogEnd DialogResult(INT_PTR result) {
  return result == static_cast<INT_PTR>(DialogEnd::Done) ? DialogEnd::Done : DialogEnd::Failed;
}

void EndWith(HWND dialog, DialogEnd end) { EndDialog(dialog, static_cast<INT_PTR>(end)); }

}  // namespace qz
