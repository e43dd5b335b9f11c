#include <windows.h>

#include "launcher/launcher_app.h"

// Nothing may unwind out of the program: an unexpected error ends it with 0,
// the code for "failed or cancelled".
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  try {
    return qz::LauncherMain(instance, commandLine ? commandLine : "");
  } catch (...) {
    return 0;
  }
}
