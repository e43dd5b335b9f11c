#include "base/field_text.h"
#include "base/rights.h"
#include "base/run_log.h"
#include "base/win_handles.h"
#include "launcher/launcher_app.h"
#include "launcher/link_protocol.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace qz {

namespace {

ExitCode StartUpMessage(const wchar_t* text) {
  ShowMessage(nullptr, text, nullptr, MB_OK);
  return ExitCode::Stopped;
}

}  // namespace

ExitCode LauncherApp::RegisterProtocol(bool add) {
  // Registration downloads nothing and may run unattended: without a work
  // folder of its own it only goes without its log.
  if (PrepareWorkDir(true)) runlog::Open(workDir_ + runlog::kFileName);
  const LONG status = add ? RegisterLinkProtocol(instance_) : UnregisterLinkProtocol(instance_);
  runlog::Write("protocol", std::string(add ? "registering " : "removing ") + kLinkProtocolKey + ": " +
                                (status == ERROR_SUCCESS ? "done" : runlog::ErrorText(status)));
  return status == ERROR_SUCCESS ? ExitCode::Done : ExitCode::Stopped;
}

ExitCode LauncherApp::Main(const char* commandLine) {
  if (const std::optional<ChangeLine> change = ParseChangeLine(commandLine))
    return RunElevatedChange(*change);
  const LaunchCommand command = ReadLaunchCommand(commandLine);
  switch (command.form) {
    case LaunchForm::Unreadable: return StartUpMessage(texts::kBadParameter);
    case LaunchForm::RegisterProtocol: return RegisterProtocol(true);
    case LaunchForm::UnregisterProtocol: return RegisterProtocol(false);
    default: break;
  }
  const bool fromLink = command.form != LaunchForm::Section;
  // A browser in protected mode starts us at low integrity unless the
  // control's elevation policy names us: then we could write almost nothing.
  if (OwnIntegrityLevel() < SECURITY_MANDATORY_MEDIUM_RID) {
    ShowMessage(nullptr, texts::kLowIntegrity, nullptr, MB_OK);
    return ExitCode::LowIntegrity;
  }

  // Held for the life of the process: one launcher at a time. A start that
  // is refused lets go of it before it says so, so a page that opens junk
  // links or records keeps no real start waiting behind its message.
  Handle mutex(CreateMutexA(nullptr, TRUE, kProgramName));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) return StartUpMessage(texts::kAlreadyRunning);
  auto refused = [&mutex](const wchar_t* text) {
    ReleaseMutex(mutex.get());
    mutex.reset();
    return StartUpMessage(text);
  };

  ResetState();
  if (!fromLink && !TakeOver(commandLine)) return refused(texts::kDataReadFailed);
  FindCommonFilesDir();
  if (!PrepareWorkDir()) return ExitCode::Stopped;
  runlog::Open(workDir_ + runlog::kFileName);
  if (fromLink && !TakeOverTicket(command)) return refused(texts::kTicketRefused);
  // Of the launch record only these: its other fields hold cookies.
  runlog::Write("start", std::string(fromLink ? "from a link: " : "from the control: ") + "run mode \"" +
                             FieldText(block_.RunMode) + "\", program \"" + FieldText(block_.ProgName) +
                             "\"");
  OpenHttpSession();
  const ExitCode code = RunModes();
  runlog::Write("end", "exit code " + std::to_string(static_cast<int>(code)));
  return code;
}

}  // namespace qz
