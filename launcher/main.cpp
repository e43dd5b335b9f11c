#include <windows.h>

#include <memory>
#include <new>

#include "launcher/launcher_app.h"

// Nothing may unwind out of the program: an unexpected error ends it with 0,
// the code for "failed or cancelled".
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  try {
    std::unique_ptr<qz::LauncherApp> app(new (std::nothrow) qz::LauncherApp);
    if (!app) return 0;
    return qz::LauncherMain(*app, instance, commandLine ? commandLine : "");
  } catch (...) {
    return 0;
  }
}
