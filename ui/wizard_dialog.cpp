// The wizard: a confirmation page, then a progress page while the download
// worker runs.
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <cstring>

#include "launcher/folders.h"
#include "launcher/launcher_app.h"
#include "launcher/portal.h"
#include "launcher/win_handles.h"
#include "ui/dialog_common.h"
#include "ui/dialogs.h"
#include "ui/message_box.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"
#include "ui/wizard_link.h"
#include "update/download_worker.h"

namespace qz {

namespace {

const int kConfirmPage[] = {IDC_SIDE_PICTURE, IDC_CONFIRM_TEXT1, IDC_CONFIRM_TEXT2,
                            IDC_SAVE_HINT,    IDC_START_PAGE,    IDC_SAVE_SETUP};
const int kProgressPage[] = {IDC_PHASE, IDC_COUNT, IDC_ITEM, IDC_PROGRESS, IDC_POSITION, IDC_SPEED};

HICON g_wizardIcon = nullptr;  // loaded once per process

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
  if (RegQueryValueExA(key.get(), "Start Page", nullptr, nullptr, reinterpret_cast<BYTE*>(page),
                       &size) != ERROR_SUCCESS) {
    page[0] = '\0';
  }
  page[sizeof page - 1] = '\0';
  const size_t n = std::strlen(kPortalAddress) - 1;
  return _strnicmp(page, kPortalAddress, n) == 0;
}

void StartWorker(HWND dialog) {
  if (g_app->workerThread) {
    wizard::StopWorker(g_app->workerThread);
    CloseHandle(g_app->workerThread);
    g_app->workerThread = nullptr;
  }
  wizard::ClearStop();
  SetTimer(dialog, wizard::kRefreshTimer, wizard::kRefreshMs, nullptr);
  g_app->workerThread = CreateThread(nullptr, 0, DownloadWorker, dialog, 0, nullptr);
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

void OfferSaveDialog(HWND dialog) {
  char file[260] = {};
  const char* slash = std::strrchr(g_app->fullDnUrl, '/');
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
  if (GetSaveFileNameA(&ofn)) CopyCut(g_app->setupSavePath, file);
}

void OnInit(HWND dialog) {
  SetWindowLongPtrW(dialog, GWL_STYLE, GetWindowLongPtrW(dialog, GWL_STYLE) | WS_SYSMENU);
  if (!g_wizardIcon) g_wizardIcon = LoadIconW(g_instance, MAKEINTRESOURCEW(IDI_APP));
  SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_wizardIcon));
  SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_wizardIcon));
  SetWindowTextW(dialog, texts::kWizardCaption);

  if (g_app->target == TargetGame) {
    ShowControls(dialog, kConfirmPage, 6, true);
    SetTick(dialog, IDC_START_PAGE, false);
    SetTick(dialog, IDC_AUTO_RUN, true);
    if (g_app->action == ActionUpgrade) {
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
  } else if (g_app->target == TargetAvatarModule) {
    EnableWindow(GetDlgItem(dialog, IDC_AUTO_RUN), FALSE);
    ShowProgressPage(dialog, texts::kPhaseAvatar);
    StartWorker(dialog);
  }
}

void OnNext(HWND dialog) {
  if (IsTicked(dialog, IDC_SAVE_SETUP)) OfferSaveDialog(dialog);
  ShowControls(dialog, kConfirmPage, 6, false);
  ShowProgressPage(dialog, g_app->action == ActionFullInstall ? texts::kPhaseDownload
                                                              : texts::kPhaseUpgrade);
  StartWorker(dialog);
}

void OnCancel(HWND dialog) {
  if (g_app->workerThread) {
    if (ShowMessage(dialog, texts::kCancelQuestion, texts::kNoticeCaption, MB_YESNO) == IDNO) return;
  }
  EndDialog(dialog, 2);
}

void OnDestroy(HWND dialog) {
  KillTimer(dialog, wizard::kRefreshTimer);
  if (g_app->workerThread) {
    wizard::StopWorker(g_app->workerThread);
    CloseHandle(g_app->workerThread);
    g_app->workerThread = nullptr;
  }
  if (IsTicked(dialog, IDC_AUTO_RUN)) g_app->autoRun = 1;
  if (IsTicked(dialog, IDC_START_PAGE)) g_app->setStartPage = 1;
}

}  // namespace

INT_PTR CALLBACK WizardDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (!g_app) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      OnInit(dialog);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_NEXT:
          OnNext(dialog);
          break;
        case IDCANCEL:
          OnCancel(dialog);
          break;
      }
      return TRUE;
    case WM_TIMER:
      if (wParam == wizard::kRefreshTimer) wizard::ShowPending(dialog);
      return TRUE;
    case wizard::kWorkerDone:
      wizard::ShowPending(dialog);
      EndDialog(dialog, static_cast<INT_PTR>(wParam));
      return TRUE;
    case WM_DESTROY:
      OnDestroy(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

int RunWizardDialog() {
  // The progress bar's window class must exist before the template is made.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  return DialogResult(
      DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_WIZARD), nullptr, WizardDlgProc, 0));
}

}  // namespace qz
