// The launcher's one application object and its composition root: WinMain
// owns it, and the flows hand the dialogs and the download worker exactly
// what each needs. The launch record is its first member so it moves in and
// out of shared memory in one piece.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/win_handles.h"
#include "launcher/exit_code.h"
#include "record/launch_block.h"
#include "ui/dialogs.h"
#include "update/http_client.h"
#include "update/manifest.h"
#include "update/update_file.h"
#include "update/version_decision.h"

namespace qz {

// What the current check works on (None before the first).
enum class Target { None = 0, AvatarModule = 1, Game = 2 };

constexpr char kProgramName[] = "Quorlynx";  // mutex name and HTTP agent

class LauncherApp {
 public:
  LauncherApp() = default;
  ~LauncherApp();
  LauncherApp(const LauncherApp&) = delete;
  LauncherApp& operator=(const LauncherApp&) = delete;

  // Start-up, in order: zero everything, take the record over, find the
  // folders, open the HTTP session.
  void ResetState();
  bool TakeOver(const char* sectionName);
  void FindCommonFilesDir();
  void PrepareWorkDir();
  void OpenHttpSession();

  // Installation record and game start (install_record.cpp, game_start.cpp).
  // Reads the installation record of the named program into the out values;
  // a value that cannot be read leaves its out value unchanged.
  int ReadInstallRecord(const char* name, std::uint16_t& version, char (&folder)[260],
                        char (&exe)[260]);
  void WriteVersion();  // latestVer as the record's Version
  void ParseSetupParameters();
  void ReadGameLocation();
  void RefuseGameLocation();  // no game there, and the player is asked as for a missing one
  int ExecutablePresent(const char* path);
  int DirectXRequirement();
  void SetBrowserStartPage();
  int StartGameWithArguments(const char* exe, const char* dir, const char* args, bool withMutex,
                             const char* nameOfMutex);
  int StartGameWithHandOver(const char* exe, const char* dir);

  // Update manifest (manifest_read.cpp): fetches the manifest and takes its
  // plan as the update state.
  bool ReadManifest(const char* url);
  void TakePlan(UpdatePlan&& plan);
  void ClearUpdateList();
  void SortUpdateList();

  // The dialogs, each given what it needs (dialog_runs.cpp): the waiting
  // dialog around the manifest of the current target, the wizard with the
  // download worker, and the setup program's run.
  DialogEnd FetchManifestWithWait(const wchar_t* text);
  DialogEnd RunWizard();
  DialogEnd RunSetupProgram();

  // Run modes (run_modes.cpp) and the avatar module check (avatar_check.cpp).
  void DecideAction();
  ExitCode NormalFlow();
  ExitCode SetupFlow(bool link);
  int CheckAvatarModule();

  // 1. The launch record.
  LaunchBlock block{};

  // 2. Update state.
  Target target = Target::None;
  Action action = Action::None;
  char commonFilesDir[260] = {};
  char workDir[260] = {};
  char setupSavePath[260] = {};
  Handle workerThread;
  char progName[20] = {};
  char fullDnUrl[260] = {};
  char upBaseUrl[260] = {};
  std::uint16_t minVer = 0;
  std::uint16_t latestVer = 0;
  std::vector<std::unique_ptr<UpdateFile>> updateList;
  std::uint16_t installedVer = 0;
  char gameDir[260] = {};
  char gameExe[260] = {};
  ProcessHandles installerProcess;
  int autoRun = 0;
  int setStartPage = 0;
  char installerPath[260] = {};

  // 3. The HTTP client.
  HttpClient httpClient;

  // 4. Setup-mode parameters.
  std::int16_t hKeyIndex = 0;
  bool useMutex = false;
  char regPath[260] = {};
  char regName[64] = {};
  char fileName[64] = {};
  char mutexName[32] = {};
  char parm[128] = {};
  // A page named a setup location the launcher does not read from: asked
  // about like a missing program, never started.
  bool gameLocationRefused = false;

  // 5. What the manifest says the full installer's SHA-256 is.
  FileHash fullDnHash;

  // 6. The module whose resources the dialogs use.
  HINSTANCE instance = nullptr;
};

// The whole program: start-up, the avatar module check and the run mode.
// Returns the exit code.
ExitCode LauncherMain(LauncherApp& app, HINSTANCE instance, const char* commandLine);

}  // namespace qz
