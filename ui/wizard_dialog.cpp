// The wizard: a confirmation page, then a progress page while the download
// worker runs.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cstring>

#include "base/field_text.h"
#include "base/portal.h"
#include "base/run_log.h"
#include "base/win_handles.h"
#include "ui/dialog_common.h"
#include "ui/dialogs.h"
#include "ui/message_box.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"
#include "ui/wizard_link.h"

namespace qz {

namespace {

const int kConfirmPage[] = {IDC_SIDE_PICTURE, IDC_CONFIRM_TEXT1, IDC_CONFIRM_TEXT2,
                            IDC_SAVE_HINT,    IDC_START_PAGE,    IDC_SAVE_SETUP};
const int kProgressPage[] = {IDC_PHASE,    IDC_COUNT, IDC_ITEM,     IDC_PROGRESS,
                             IDC_POSITION, IDC_SPEED, IDC_TIME_LEFT};

HICON g_wizardIcon = nullptr;  // loaded once per process

// What one wizard works on: the caller's request and the result it gets back.
struct WizardState {
  HINSTANCE instance;
  const WizardRequest& request;
  WizardResult result;
};

// True when the browser's start page already is the portal (compared without
// the portal address's final "/"). Reports whether the key could be read.
bool StartPageIsPortal(bool* keyOpened) {
  *keyOpened = false;
  RegKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Internet Explorer\\Main", 0, KEY_READ,
                    key.put()) != ERROR_SUCCESS) {
    return false;
  }
  *keyOpened = true;
  char page[300] = {};
  DWORD size = sizeof page - 1;
  if (RegQueryValueExA(key.get(), "Start Page", nullptr, nullptr, reinterpret_cast<BYTE*>(page), &size) !=
      ERROR_SUCCESS) {
    page[0] = '\0';
  }
  page[sizeof page - 1] = '\0';
  const size_t n = std::strlen(kPortalAddress) - 1;
  return _strnicmp(page, kPortalAddress, n) == 0;
}

void StartWorker(HWND dialog, WizardState& state) {
  WizardTask* task = state.request.task;
  if (!task) return;
  if (task->Running()) task->Stop();
  wizard::ClearStop();
  SetTimer(dialog, wizard::kRefreshTimer, wizard::kRefreshMs, nullptr);
  task->Start(dialog, state.result.setupSavePath);
}

void ShowProgressPage(HWND dialog, const wchar_t* phase) {
  SetDlgItemTextW(dialog, IDC_PHASE, phase);
  SetDlgItemTextW(dialog, IDC_COUNT, texts::kSizeChecking);
  SetDlgItemTextW(dialog, IDC_ITEM, texts::kPleaseWait);
  SetDlgItemTextW(dialog, IDC_POSITION, texts::kPositionLabel);
  SetDlgItemTextW(dialog, IDC_SPEED, texts::kSpeedLabel);
  ShowControls(dialog, kProgressPage, 6, true);
  HWND next = GetDlgItem(dialog, IDC_NEXT);
  ShowWindow(next, SW_HIDE);
  EnableWindow(next, FALSE);
}

void OfferSaveDialog(HWND dialog, WizardState& state) {
  char file[260] = {};
  const char* slash = std::strrchr(state.request.installerUrl, '/');
  CopyCut(file, slash ? slash + 1 : "");
  char desktop[MAX_PATH] = {};
  const bool haveDesktop = SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOP, FALSE) != FALSE;
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = dialog;
  ofn.lpstrFilter = texts::kExeFilter;
  ofn.lpstrFile = file;
  ofn.nMaxFile = sizeof file;
  ofn.lpstrInitialDir = haveDesktop ? desktop : nullptr;
  if (GetSaveFileNameA(&ofn)) state.result.setupSavePath = file;
}

void OnInit(HWND dialog, WizardState& state) {
  SetWindowLongPtrW(dialog, GWL_STYLE, GetWindowLongPtrW(dialog, GWL_STYLE) | WS_SYSMENU);
  if (!g_wizardIcon) g_wizardIcon = LoadIconW(state.instance, MAKEINTRESOURCEW(IDI_APP));
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_wizardIcon));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_wizardIcon));
  SetWindowTextW(dialog, texts::kWizardCaption);

  if (state.request.page == WizardRequest::Confirm || state.request.page == WizardRequest::ConfirmUpgrade) {
    ShowControls(dialog, kConfirmPage, 6, true);
    SetTick(dialog, IDC_START_PAGE, false);
    SetTick(dialog, IDC_AUTO_RUN, true);
    if (state.request.page == WizardRequest::ConfirmUpgrade) {
      SetDlgItemTextW(dialog, IDC_CONFIRM_TEXT1, texts::kUpgradeText1);
      SetDlgItemTextW(dialog, IDC_CONFIRM_TEXT2, texts::kUpgradeText2);
      EnableWindow(GetDlgItem(dialog, IDC_SAVE_HINT), FALSE);
      EnableWindow(GetDlgItem(dialog, IDC_SAVE_SETUP), FALSE);
      SendMessageW(dialog, WM_COMMAND, IDC_NEXT, 0);  // upgrades start at once
    } else {
      bool keyOpened = false;
      const bool portal = StartPageIsPortal(&keyOpened);
      if (keyOpened && portal) {
        SetTick(dialog, IDC_START_PAGE, false);
        SendMessageW(dialog, WM_COMMAND, IDC_NEXT, 0);
      } else if (keyOpened) {
        SetTick(dialog, IDC_START_PAGE, true);
      }
    }
  } else {
    EnableWindow(GetDlgItem(dialog, IDC_AUTO_RUN), FALSE);
    const wchar_t* phase = state.request.page == WizardRequest::ProgressAvatar ? texts::kPhaseAvatar
                           : state.request.fullInstall                         ? texts::kPhaseDownload
                                                                               : texts::kPhaseUpgrade;
    ShowProgressPage(dialog, phase);
    StartWorker(dialog, state);
  }
}

void OnNext(HWND dialog, WizardState& state) {
  if (IsTicked(dialog, IDC_SAVE_SETUP)) OfferSaveDialog(dialog, state);
  ShowControls(dialog, kConfirmPage, 6, false);
  ShowProgressPage(dialog, state.request.fullInstall ? texts::kPhaseDownload : texts::kPhaseUpgrade);
  StartWorker(dialog, state);
}

void OnCancel(HWND dialog, const WizardState& state) {
  if (state.request.task && state.request.task->Running()) {
    if (ShowMessage(dialog, texts::kCancelQuestion, texts::kNoticeCaption, MB_YESNO) == IDNO) return;
  }
  runlog::Write("wizard", "cancelled by the player");
  EndWith(dialog, DialogEnd::Failed);
}

void OnDestroy(HWND dialog, WizardState& state) {
  runlog::Write("wizard", "closing");
  KillTimer(dialog, wizard::kRefreshTimer);
  if (state.request.task && state.request.task->Running()) state.request.task->Stop();
  if (IsTicked(dialog, IDC_AUTO_RUN)) state.result.autoRun = true;
  if (IsTicked(dialog, IDC_START_PAGE)) state.result.setStartPage = true;
}

}  // namespace

INT_PTR CALLBACK WizardDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = DialogState<WizardState>(dialog, message, lParam);
  if (!state) return FALSE;
  return Guarded(dialog, [&]() -> INT_PTR {
    switch (message) {
      case WM_INITDIALOG: OnInit(dialog, *state); return FALSE;
      case WM_COMMAND:
        switch (LOWORD(wParam)) {
          case IDC_NEXT: OnNext(dialog, *state); break;
          case IDCANCEL: OnCancel(dialog, *state); break;
        }
        return TRUE;
      case WM_TIMER:
        if (wParam == wizard::kRefreshTimer) wizard::ShowPending(dialog);
        return TRUE;
      case wizard::kWorkerDone:
        wizard::ShowPending(dialog);
        EndWith(dialog, wParam == static_cast<WPARAM>(DialogEnd::Done) ? DialogEnd::Done : DialogEnd::Failed);
        return TRUE;
      case WM_DESTROY: OnDestroy(dialog, *state); return TRUE;
      default: return FALSE;
    }
  });
}

WizardResult RunWizardDialog(HINSTANCE instance, const WizardRequest& request) {
  // The progress bar's window class must exist before the template is made.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  WizardState state{instance, request, {}};
  state.result.result = DialogResult(DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_WIZARD), nullptr,
                                                     WizardDlgProc, reinterpret_cast<LPARAM>(&state)));
  return state.result;
}

}  // namespace qz
