#include <windows.h>
#include <objbase.h>

#include <memory>
#include <new>

#include "base/run_log.h"
#include "launcher/launcher_app.h"

// Nothing may unwind out of the program: an unexpected error is logged and
// ends it as failed or cancelled.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  using qz::ExitCode;
  // The shell may hand a start (a setup program, the elevated copy, a page)
  // to extensions that need a single-threaded apartment.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  try {
    std::unique_ptr<qz::LauncherApp> app(new (std::nothrow) qz::LauncherApp(instance));
    if (!app) return static_cast<int>(ExitCode::Stopped);
    return static_cast<int>(app->Main(commandLine ? commandLine : ""));
  } catch (...) {
    qz::runlog::WriteCaught("end");
    return static_cast<int>(ExitCode::Stopped);
  }
}
