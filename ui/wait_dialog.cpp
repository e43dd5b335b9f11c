// The waiting dialog: shown while the update manifest is fetched.
#include "launcher/launcher_app.h"
#include "ui/dialog_common.h"
#include "ui/dialogs.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace qz {

INT_PTR CALLBACK WaitDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!g_app) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextW(dialog, texts::kWizardCaption);
      // The fetch blocks this thread: let the dialog appear first.
      SetTimer(dialog, TIMER_START, 1000, nullptr);
      SetDlgItemTextW(dialog, IDC_WAIT_TEXT, reinterpret_cast<const wchar_t*>(lParam));
      return TRUE;
    case WM_TIMER:
      if (wParam == TIMER_START) {
        KillTimer(dialog, TIMER_START);
        const char* url = g_app->target == TargetAvatarModule ? g_app->block.CommonURL
                                                              : g_app->block.AutoDownURL;
        // The block field may fill its width: take it bounded.
        char bounded[261] = {};
        std::memcpy(bounded, url, 260);
        EndDialog(dialog, g_app->ReadManifest(bounded) ? 1 : 2);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

int RunWaitDialog(const wchar_t* text) {
  return DialogResult(DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_WAIT), nullptr, WaitDlgProc,
                                      reinterpret_cast<LPARAM>(text)));
}

}  // namespace qz
