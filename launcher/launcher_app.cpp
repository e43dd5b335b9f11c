#include "launcher/launcher_app.h"

#include <cwchar>

#include "base/field_text.h"
#include "base/folders.h"
#include "base/private_folder.h"
#include "base/win_text.h"
#include "record/handover.h"
#include "ui/message_box.h"
#include "ui/texts.h"

namespace qz {

LauncherApp::~LauncherApp() { http_.CloseAll(); }

void LauncherApp::ResetState() {
  std::memset(&block_, 0, sizeof block_);
  target_ = Target::None;
  action_ = Action::None;
  commonFilesDir_.clear();
  workDir_.clear();
  plan_ = UpdatePlan{};
  manifestUrl_.clear();
  setup_ = SetupParameters{};
  workerThread_.reset();
  installerProcess_ = ProcessHandles{};
  elevatedCopy_ = false;
}

bool LauncherApp::TakeOver(const char* sectionName) { return TakeOverBlock(sectionName, &block_); }

void LauncherApp::FindCommonFilesDir() {
  std::string dir;
  RegKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ,
                    key.put()) == ERROR_SUCCESS) {
    char value[300] = {};
    DWORD size = sizeof value - 1;  // keeps room for a terminator the value may lack
    DWORD type = 0;
    if (RegQueryValueExA(key.get(), "CommonFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(value),
                         &size) == ERROR_SUCCESS) {
      value[size < sizeof value ? size : sizeof value - 1] = '\0';
      dir = value;
    }
  }
  dir = WithTrailingBackslash(dir);
  // A folder that does not fit a Windows path is unusable, not something to cut.
  if (dir.size() >= kPathField) dir.clear();
  commonFilesDir_ = dir;
}

bool LauncherApp::PrepareWorkDir(bool quiet) {
  // Downloads are run and unpacked from here: a folder anyone could have
  // made (a drive's root) is no fallback.
  const std::string dir = PlayerWorkFolder();
  if (dir.empty() || dir.size() >= kPathField) {
    if (!quiet) ShowMessage(nullptr, texts::kNoTempFolder, nullptr, MB_OK);
    return false;
  }
  const FolderVerdict verdict = MakePrivateFolder(dir);
  if (verdict != FolderVerdict::Private && !quiet) {
    wchar_t text[1024];
    std::swprintf(text, sizeof text / sizeof text[0], texts::kWorkFolderRefusedFormat,
                  AnsiToWide(dir).c_str());
    ShowMessage(nullptr, text, nullptr, MB_OK);
  }
  if (verdict != FolderVerdict::Private) return false;
  workDir_ = dir;
  return true;
}

void LauncherApp::OpenHttpSession() {
  // A failure shows up later as a failed fetch, reported there.
  http_.OpenSession(kProgramName);
}

}  // namespace qz
