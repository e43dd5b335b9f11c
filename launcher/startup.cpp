#include <new>

#include "launcher/launcher_app.h"
#include "launcher/section_name.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace qz {

namespace {

int StartUpMessage(const wchar_t* text) {
  ShowMessage(nullptr, text, nullptr, MB_OK);
  return 0;
}

// Destroys the application object however the run ends.
struct AppOwner {
  ~AppOwner() {
    delete g_app;
    g_app = nullptr;
  }
};

}  // namespace

int RunModes(LauncherApp& app);

int LauncherMain(HINSTANCE instance, const char* commandLine) {
  g_instance = instance;
  if (!IsLauncherToken(commandLine)) return StartUpMessage(texts::kBadParameter);

  // Held, never released, for the life of the process: one launcher at a time.
  HANDLE mutex = CreateMutexA(nullptr, TRUE, kProgramName);
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) return StartUpMessage(texts::kAlreadyRunning);

  g_app = new (std::nothrow) LauncherApp;
  if (!g_app) return 0;
  AppOwner owner;
  LauncherApp& app = *g_app;

  app.ResetState();
  if (!app.TakeOver(commandLine)) return StartUpMessage(texts::kDataReadFailed);
  app.FindCommonFilesDir();
  app.PrepareWorkDir();
  app.OpenHttpSession();
  return RunModes(app);
}

}  // namespace qz
