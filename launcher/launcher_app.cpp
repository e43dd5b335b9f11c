#include "launcher/launcher_app.h"

#include "base/field_text.h"
#include "launcher/folders.h"
#include "record/handover.h"

namespace qz {

LauncherApp::~LauncherApp() {
  ClearUpdateList();
  httpClient.CloseAll();
}

void LauncherApp::ClearUpdateList() { updateList.clear(); }

void LauncherApp::ResetState() {
  std::memset(&block, 0, sizeof block);
  target = Target::None;
  action = Action::None;
  commonFilesDir[0] = workDir[0] = setupSavePath[0] = '\0';
  workerThread.reset();
  progName[0] = fullDnUrl[0] = upBaseUrl[0] = '\0';
  fullDnHash = FileHash{};
  minVer = latestVer = installedVer = 0;
  ClearUpdateList();
  gameDir[0] = gameExe[0] = installerPath[0] = '\0';
  installerProcess = ProcessHandles{};
  autoRun = setStartPage = 0;
  hKeyIndex = 0;
  useMutex = false;
  regPath[0] = regName[0] = fileName[0] = mutexName[0] = parm[0] = '\0';
}

bool LauncherApp::TakeOver(const char* sectionName) { return TakeOverBlock(sectionName, &block); }

void LauncherApp::FindCommonFilesDir() {
  std::string dir;
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ,
                    key.put()) == ERROR_SUCCESS) {
    char value[300] = {};
    DWORD size = sizeof value - 1;  // keeps room for a terminator the value may lack
    DWORD type = 0;
    if (RegQueryValueExA(key.get(), "CommonFilesDir", nullptr, &type,
                         reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS) {
      value[size < sizeof value ? size : sizeof value - 1] = '\0';
      dir = value;
    }
  }
  dir = WithTrailingBackslash(dir);
  // A folder that does not fit the field is unusable, not something to cut.
  if (dir.size() >= sizeof commonFilesDir) dir.clear();
  CopyCut(commonFilesDir, dir);
}

void LauncherApp::PrepareWorkDir() {
  char temp[260] = {};
  const DWORD n = GetTempPathA(sizeof temp, temp);
  std::string dir = WorkDirBelow(n > 0 && n < sizeof temp ? std::string(temp, n) : std::string());
  if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    dir = "c:\\";
  }
  if (dir.size() >= sizeof workDir) dir = "c:\\";
  CopyCut(workDir, dir);
}

void LauncherApp::OpenHttpSession() {
  // A failure shows up later as a failed fetch, reported there.
  httpClient.OpenSession(kProgramName);
}

}  // namespace qz
