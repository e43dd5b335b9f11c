#include "base/field_text.h"
#include "base/rights.h"
#include "base/run_log.h"
#include "launcher/launcher_app.h"
#include "record/section_name.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace qz {

namespace {

ExitCode StartUpMessage(const wchar_t* text) {
  ShowMessage(nullptr, text, nullptr, MB_OK);
  return ExitCode::Stopped;
}

}  // namespace

ExitCode LauncherApp::Main(const char* commandLine) {
  if (const std::optional<ChangeLine> change = ParseChangeLine(commandLine)) return RunElevatedChange(*change);
  if (!IsLauncherToken(commandLine)) return StartUpMessage(texts::kBadParameter);
  // A browser in protected mode starts us at low integrity unless the
  // control's elevation policy names us: then we could write almost nothing.
  if (OwnIntegrityLevel() < SECURITY_MANDATORY_MEDIUM_RID) {
    ShowMessage(nullptr, texts::kLowIntegrity, nullptr, MB_OK);
    return ExitCode::LowIntegrity;
  }

  // Held, never released, for the life of the process: one launcher at a time.
  HANDLE mutex = CreateMutexA(nullptr, TRUE, kProgramName);
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) return StartUpMessage(texts::kAlreadyRunning);

  ResetState();
  if (!TakeOver(commandLine)) return StartUpMessage(texts::kDataReadFailed);
  FindCommonFilesDir();
  PrepareWorkDir();
  runlog::Open(std::string(workDir_) + "Quorlynx.log");
  // Of the launch record only these: its other fields hold cookies.
  runlog::Write("start", "run mode \"" + FieldText(block_.RunMode) + "\", program \"" +
                             FieldText(block_.ProgName) + "\"");
  OpenHttpSession();
  const ExitCode code = RunModes();
  runlog::Write("end", "exit code " + std::to_string(static_cast<int>(code)));
  return code;
}

}  // namespace qz
