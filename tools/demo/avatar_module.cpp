// The demo's avatar module: the launcher only places it under the common
// files folder and checks that it is there, so any small library serves.
#include <windows.h>

extern "C" __declspec(dllexport) int AvatarModuleRelease() { return 1; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
