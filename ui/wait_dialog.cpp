// The waiting dialog: shown while the update manifest is fetched.
#include "ui/dialog_common.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace qz {

INT_PTR CALLBACK WaitDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto* request = DialogState<const WaitRequest>(dialog, message, lParam);
  if (!request) return FALSE;
  return Guarded(dialog, [&]() -> INT_PTR {
    switch (message) {
      case WM_INITDIALOG:
        SetWindowTextW(dialog, texts::kWizardCaption);
        // The fetch blocks this thread: let the dialog appear first.
        SetTimer(dialog, TIMER_START, 1000, nullptr);
        SetDlgItemTextW(dialog, IDC_WAIT_TEXT, request->text);
        return TRUE;
      case WM_TIMER:
        if (wParam == TIMER_START) {
          KillTimer(dialog, TIMER_START);
          EndWith(dialog, request->work && request->work() ? DialogEnd::Done : DialogEnd::Failed);
        }
        return TRUE;
      default: return FALSE;
    }
  });
}

DialogEnd RunWaitDialog(HINSTANCE instance, const WaitRequest& request) {
  return DialogResult(DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_WAIT), nullptr, WaitDlgProc,
                                      reinterpret_cast<LPARAM>(&request)));
}

}  // namespace qz
