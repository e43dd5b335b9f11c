// The launcher's three modal dialogs. Each takes its request through
// DialogBoxParam's parameter and returns how it ended; a dialog that cannot
// even be created counts as failed.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/win_handles.h"

namespace qz {

// How a dialog ended; the values are its EndDialog results.
enum class DialogEnd { Done = 1, Failed = 2 };  // Failed: cancelled or failed

INT_PTR CALLBACK WaitDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK WizardDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SetupRunDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The waiting dialog shows `text` and, once it is on screen, runs `work` on
// the dialog's thread (the dialog does not repaint meanwhile); it ends Done
// when the work succeeded.
struct WaitRequest {
  const wchar_t* text = nullptr;
  std::function<bool()> work;
};
DialogEnd RunWaitDialog(HINSTANCE instance, const WaitRequest& request);

// What the wizard's progress page shows: a worker thread the wizard starts,
// asks to stop and waits for. The wizard never learns what the work is.
class WizardTask {
 public:
  virtual ~WizardTask() = default;
  // Starts the work for this wizard window (ended later with wizard::Finish).
  // `setupSavePath` is where the player chose to keep the setup program
  // ("" for the work folder).
  virtual bool Start(HWND wizard, const std::string& setupSavePath) = 0;
  virtual bool Running() const = 0;
  // Asks the work to stop, unblocks it and waits for its thread.
  virtual void Stop() = 0;
};

struct WizardRequest {
  // ProgressGame: the game's change at once, without the questions (the
  // launcher's elevated copy, which the player already agreed to).
  enum Page { Confirm, ConfirmUpgrade, ProgressAvatar, ProgressGame };
  Page page = Confirm;
  bool fullInstall = false;       // the progress page's phase line: download or upgrade
  const char* installerUrl = "";  // offered as the name when the setup program is saved
  WizardTask* task = nullptr;
};
struct WizardResult {
  DialogEnd result = DialogEnd::Failed;
  bool autoRun = false;
  bool setStartPage = false;
  std::string setupSavePath;
};
WizardResult RunWizardDialog(HINSTANCE instance, const WizardRequest& request);

// Runs the downloaded setup program through the shell (so Windows asks the
// player for the rights it wants) from its own folder, and waits for it; the
// program is deleted afterwards unless the player chose to keep it.
struct SetupRunRequest {
  std::string programPath;
  bool keepProgram = false;
  ProcessHandles* process = nullptr;  // receives the started program
};
// How it ended: Declined when the player declined its rights prompt.
enum class SetupEnd { Done = 1, Failed = 2, Declined = 3 };
SetupEnd RunSetupRunDialog(HINSTANCE instance, const SetupRunRequest& request);

}  // namespace qz
