// The setup-running dialog: runs the downloaded setup program and waits for it.
#include "base/run_log.h"
#include "base/shell_start.h"
#include "ui/dialog_common.h"
#include "ui/dialogs.h"
#include "ui/message_box.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"

namespace qz {

namespace {

// Nearly every setup program asks for administrator rights; only the shell
// starts such a program (asking the player first), and it runs in its own
// folder, where nothing else lies that it could load.
SetupEnd StartSetupProgram(HWND dialog, const SetupRunRequest& request) {
  const std::size_t slash = request.programPath.find_last_of('\\');
  ShellStart start;
  start.owner = dialog;
  start.program = request.programPath;
  start.directory = slash == std::string::npos ? std::string() : request.programPath.substr(0, slash + 1);
  Handle process;
  const DWORD error = StartThroughShell(start, process);
  runlog::Write("setup", error == 0 ? std::string("started through the shell")
                                    : "not started: " + runlog::ErrorText(error));
  if (error != 0) return error == ERROR_CANCELLED ? SetupEnd::Declined : SetupEnd::Failed;
  request.process->process = std::move(process);
  return SetupEnd::Done;
}

INT_PTR OnTimer(HWND dialog, WPARAM timer, const SetupRunRequest& request) {
  if (timer == TIMER_START) {
    KillTimer(dialog, TIMER_START);
    const SetupEnd started = StartSetupProgram(dialog, request);
    if (started == SetupEnd::Done) {
      SetTimer(dialog, TIMER_POLL, 100, nullptr);
    } else {
      EndDialog(dialog, static_cast<INT_PTR>(started));
    }
  } else if (timer == TIMER_POLL) {
    DWORD code = 0;
    if (GetExitCodeProcess(request.process->process.get(), &code) && code != STILL_ACTIVE) {
      // A setup program the player chose to keep stays where it was saved.
      if (!request.keepProgram) DeleteFileA(request.programPath.c_str());
      KillTimer(dialog, TIMER_POLL);
      EndWith(dialog, DialogEnd::Done);
    }
  }
  return TRUE;
}

}  // namespace

INT_PTR CALLBACK SetupRunDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto* request = DialogState<const SetupRunRequest>(dialog, message, lParam);
  if (!request || !request->process) return FALSE;
  return Guarded(dialog, [&]() -> INT_PTR {
    switch (message) {
      case WM_INITDIALOG:
        SetWindowTextW(dialog, texts::kWizardCaption);
        SetTimer(dialog, TIMER_START, 1000, nullptr);
        return TRUE;
      case WM_TIMER: return OnTimer(dialog, wParam, *request);
      case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
          if (ShowMessage(dialog, texts::kCancelQuestion, texts::kNoticeCaption, MB_YESNO) != IDYES) {
            return FALSE;
          }
          EndWith(dialog, DialogEnd::Failed);  // the setup program is left running
        }
        return TRUE;
      default: return FALSE;
    }
  });
}

SetupEnd RunSetupRunDialog(HINSTANCE instance, const SetupRunRequest& request) {
  const INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SETUP_RUN), nullptr, SetupRunDlgProc,
                                         reinterpret_cast<LPARAM>(&request));
  if (result == static_cast<INT_PTR>(SetupEnd::Declined)) return SetupEnd::Declined;
  return DialogResult(result) == DialogEnd::Done ? SetupEnd::Done : SetupEnd::Failed;
}

}  // namespace qz
