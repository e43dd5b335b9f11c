#include "base/field_text.h"
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

ExitCode RunModes(LauncherApp& app);

ExitCode LauncherMain(LauncherApp& app, HINSTANCE instance, const char* commandLine) {
  if (!IsLauncherToken(commandLine)) return StartUpMessage(texts::kBadParameter);

  // Held, never released, for the life of the process: one launcher at a time.
  HANDLE mutex = CreateMutexA(nullptr, TRUE, kProgramName);
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) return StartUpMessage(texts::kAlreadyRunning);

  app.ResetState();
  app.instance = instance;
  if (!app.TakeOver(commandLine)) return StartUpMessage(texts::kDataReadFailed);
  app.FindCommonFilesDir();
  app.PrepareWorkDir();
  runlog::Open(std::string(app.workDir) + "Quorlynx.log");
  // Of the launch record only these: its other fields hold cookies.
  runlog::Write("start", "run mode \"" + FieldText(app.block.RunMode) + "\", program \"" +
                             FieldText(app.block.ProgName) + "\"");
  app.OpenHttpSession();
  const ExitCode code = RunModes(app);
  runlog::Write("end", "exit code " + std::to_string(static_cast<int>(code)));
  return code;
}

}  // namespace qz
