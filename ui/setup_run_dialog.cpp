// The setup-running dialog: runs the downloaded setup program and waits for it.
#include "launcher/handover.h"
#include "launcher/launcher_app.h"
#include "ui/dialog_common.h"
#include "ui/dialogs.h"
#include "ui/message_box.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace qz {

namespace {

bool StartSetupProgram() {
  // The path alone, quoted, so a folder with blanks starts the right program.
  std::string commandLine = QuotedCommandLine(g_app->installerPath, "");
  if (commandLine.empty()) return false;
  while (!commandLine.empty() && commandLine.back() == ' ') commandLine.pop_back();
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &info)) {
    return false;
  }
  if (g_app->installerProcess.hThread) CloseHandle(g_app->installerProcess.hThread);
  if (g_app->installerProcess.hProcess) CloseHandle(g_app->installerProcess.hProcess);
  g_app->installerProcess = info;
  return true;
}

}  // namespace

INT_PTR CALLBACK SetupRunDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (!g_app) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      SetWindowTextW(dialog, texts::kWizardCaption);
      SetTimer(dialog, TIMER_START, 1000, nullptr);
      return TRUE;
    case WM_TIMER:
      if (wParam == TIMER_START) {
        KillTimer(dialog, TIMER_START);
        if (StartSetupProgram()) {
          SetTimer(dialog, TIMER_POLL, 100, nullptr);
        } else {
          EndDialog(dialog, 2);
        }
      } else if (wParam == TIMER_POLL) {
        DWORD code = 0;
        if (GetExitCodeProcess(g_app->installerProcess.hProcess, &code) && code != STILL_ACTIVE) {
          // A setup program the player chose to keep stays where it was saved.
          if (g_app->setupSavePath[0] == '\0') DeleteFileA(g_app->installerPath);
          KillTimer(dialog, TIMER_POLL);
          EndDialog(dialog, 1);
        }
      }
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {
        if (ShowMessage(dialog, texts::kCancelQuestion, texts::kNoticeCaption, MB_YESNO) != IDYES) {
          return FALSE;
        }
        EndDialog(dialog, 2);  // the setup program is left running
      }
      return TRUE;
    default:
      return FALSE;
  }
}

int RunSetupRunDialog() {
  return DialogResult(
      DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_SETUP_RUN), nullptr, SetupRunDlgProc, 0));
}

}  // namespace qz
