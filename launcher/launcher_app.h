// The launcher's one application object and its composition root: WinMain
// owns it, and the flows hand the dialogs and the download worker exactly
// what each needs. Its state is its own: the launch record it took over, the
// plan of the current target's manifest and the page's setup parameters,
// each replaced whole, never filled in piece by piece.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/win_handles.h"
#include "format/limits.h"
#include "launcher/change_line.h"
#include "launcher/exit_code.h"
#include "launcher/launch_command.h"
#include "launcher/setup_params.h"
#include "record/launch_block.h"
#include "ui/dialogs.h"
#include "update/http_client.h"
#include "update/manifest.h"
#include "update/manifest_trust.h"
#include "update/version_decision.h"

namespace qz {

// What the current check works on (None before the first).
enum class Target { None = 0, AvatarModule = 1, Game = 2 };

constexpr char kProgramName[] = "Quorlynx";  // mutex name and HTTP agent

// What the wizard ended with, and what the player chose on its pages.
struct WizardEnd {
  DialogEnd result = DialogEnd::Failed;
  bool rightsNeeded = false;  // stopped: an archive would write where this account may not
  bool autoRun = false;       // start the game once it is installed
  bool setStartPage = false;  // make the portal the browser's start page
  std::string setupSavePath;  // where the player keeps the setup program; "" for the work folder
  std::string installerPath;  // where the full installer was saved
};

// How a change to the installation ended, with the wizard's choices when it
// was made here.
struct ChangeEnd {
  enum Kind { Made, MadeByElevatedCopy, MadeByService, Failed, Declined } kind = Failed;
  WizardEnd wizard;
};

// Where the setup modes' parameters say the game is registered: its folder
// and program, or refused (a location the launcher does not read from, asked
// about like a missing program and never started).
struct GameLocation {
  std::string dir;
  std::string exe;
  bool refused = false;
};

class LauncherApp {
 public:
  explicit LauncherApp(HINSTANCE instance = nullptr) : instance_(instance) {}
  ~LauncherApp();
  LauncherApp(const LauncherApp&) = delete;
  LauncherApp& operator=(const LauncherApp&) = delete;

  // The whole program: start-up, the avatar module check and the run mode;
  // or, started as "/change ...", the elevated copy's one change.
  ExitCode Main(const char* commandLine);

  // Start-up, in order: zero everything, take the record over (from the
  // control's section, or from a link's ticket once the log is open, which
  // names why a ticket is refused), find the folders, open the HTTP session.
  void ResetState();
  bool TakeOver(const char* sectionName);
  bool TakeOverTicket(const LaunchCommand& command);
  void FindCommonFilesDir();
  // The work folder, the player's own (MakePrivateFolder); false when there
  // is none or it is refused, after telling the player unless `quiet`:
  // nothing may be downloaded then.
  bool PrepareWorkDir(bool quiet = false);
  void OpenHttpSession();

  // Installation record and game start (install_record.cpp, game_start.cpp).
  // The plan's latest version as the record's Version (the avatar module's
  // record is made when missing). False, logged, when nothing was written.
  bool WriteVersion();
  void ParseSetupParameters();
  GameLocation ReadGameLocation() const;
  static bool ExecutablePresent(const std::string& path);
  // Whether the system's DirectX is what the page's DxMin asks for; when it
  // is not, the player was told.
  bool DirectXSufficient();
  void SetBrowserStartPage();
  bool StartGameWithArguments(const std::string& exe, const std::string& dir, const char* args,
                              bool withMutex, const char* nameOfMutex);
  bool StartGameWithHandOver(const std::string& exe, const std::string& dir);

  // Update manifest (manifest_read.cpp): fetches the manifest of the current
  // target and takes its plan whole.
  struct ManifestRead {
    bool read = false;
    bool outOfDate = false;  // refused as expired
  };
  ManifestRead ReadManifest(const std::string& url);

  // The dialogs, each given what it needs (dialog_runs.cpp): the waiting
  // dialog around the manifest of the current target, the wizard with the
  // download worker, and the setup program's run.
  ManifestRead FetchManifestWithWait(const wchar_t* text);
  // `mayWrite`: asked for every file the archives write, before the first
  // is written (see DownloadRequest).
  WizardEnd RunWizard(std::function<bool(const std::string&)> mayWrite = {});
  SetupEnd RunSetupProgram(const WizardEnd& wizard);

  // Run modes (run_modes.cpp) and the avatar module check (avatar_check.cpp).
  ExitCode NormalFlow();
  ExitCode SetupFlow(bool link);
  // Done when the start goes on to the run mode; else how the launcher ends.
  ExitCode CheckAvatarModule();

  // Rights (change_rights.cpp): the elevated copy's whole run, started as
  // "/change ..." by a launcher that may not make the change itself.
  ExitCode RunElevatedChange(const ChangeLine& line);

  const LaunchBlock& Record() const { return block_; }
  const UpdatePlan& Plan() const { return plan_; }
  const SetupParameters& Setup() const { return setup_; }

 private:
  friend class LauncherAppPeer;  // the Win32 tests and the bench set up single steps

  // The decided action's change to the installation: the wizard's downloads
  // and unpacking, then, for archives, the version. Made here when this
  // process may write every place it touches, else by the elevated copy.
  ChangeEnd MakeChange();
  bool MayMakeChange();
  // Whether this process may write a path the change touches.
  std::function<bool(const std::string&)> WriteCheck() const;
  bool ChangeWritesInstallation(
      const std::string& installerPath) const;  // unpacking and recording, not a setup program's run
  // A change this account may not make: a game's upgrade goes to the
  // maintenance service first, anything else (or what the service does not
  // take) to the elevated copy.
  ChangeEnd ChangeByAdministrator();
  // Empty when the service did not take the change (`why` says why).
  std::optional<ChangeEnd> ChangeThroughService(std::string& why);
  ChangeEnd ChangeThroughElevatedCopy();
  ExitCode ElevatedChange(bool avatar);
  // Whether an administrator's change may be made on this PC at all: only
  // with usable machine ManifestKeys (signed releases); `why` for the log.
  static bool MachineTrustsSignedReleasesOnly(std::string& why);
  ExitCode RightsDeclined();
  bool AvatarModuleMissing() const;

  // How reading a target's manifest ended.
  enum class TargetCheck {
    NoAddress,  // the page named no manifest for it: nothing to check
    Failed,     // the manifest could not be read; the player was told
    Decided,    // the plan is taken and the action decided
  };
  // The preamble both checks share: the target's manifest behind the waiting
  // dialog, then the version decision.
  TargetCheck CheckTarget(Target target);
  // --register-protocol / --unregister-protocol: no window, the exit code says.
  ExitCode RegisterProtocol(bool add);
  void DecideAction();
  // The setup modes' trust, read once per run (run_modes.cpp).
  void LoadSetupTrust();
  // With keys configured: the signature of the page's installer, fetched
  // before anything else is downloaded. False when there is none that reads.
  bool TakeInstallerSignature();
  ExitCode RunModes();

  // The launch record, moved in and out of shared memory in one piece.
  LaunchBlock block_{};

  Target target_ = Target::None;
  Action action_ = Action::None;
  std::string commonFilesDir_;
  std::string workDir_;
  // The current target's manifest (and its address) and installation record.
  UpdatePlan plan_;
  std::string manifestUrl_;
  // The page's setup-mode parameters.
  SetupParameters setup_;
  // Keys configured (ManifestKeys holds anything, or GameLocations is there
  // but unusable): then the page's installer must be signed by one of the
  // keys and only the operator's GameLocations are read.
  struct SetupTrust {
    bool required = false;
    ManifestTrust keys;
    std::vector<std::string> gameLocations;
  } setupTrust_;

  // What the wizard and the setup program leave behind.
  Handle workerThread_;
  ProcessHandles installerProcess_;

  // This process is the elevated copy: it makes one change and nothing else.
  bool elevatedCopy_ = false;

  HttpClient http_;
  // The module whose resources the dialogs use.
  HINSTANCE instance_ = nullptr;
};

}  // namespace qz
