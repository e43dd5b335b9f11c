// The world around the launcher for end-to-end tests: installation records,
// a published manifest and files on the test server, stand-in game and setup
// programs, and a player who reads dialogs, ticks boxes, presses buttons and
// takes screenshots.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "record/launch_block.h"
#include "tests/winsupport/test_signer.h"
#include "tests/winsupport/win_test_support.h"

namespace qz::e2e {

using namespace qz::test;

// Registry
void WriteInstallRecord(const std::string& prog, const std::string& version, const std::string& dir,
                        const std::string& exe);
std::string RegText(HKEY root, const std::string& path, const std::string& name);
bool KeyExists(HKEY root, const std::string& path);

// Installs the stand-in game as dir\game.exe; returns its path.
std::string InstallGame(const std::string& dir);
// A record file the stand-in game wrote, waited for.
std::map<std::string, std::string> GameRecord(const std::string& exe, DWORD timeoutMs = kWait);

// Files on the test server.
void Publish(const std::string& relPath, const std::string& bytes);
struct ManifestPlan {
  std::string progName;
  int minVer = 0;
  std::string fullUrl;
  std::string baseUrl;
  std::vector<std::pair<int, std::string>> files;  // version, file name
};
std::string ManifestText(const ManifestPlan& plan);
// Publishes the manifest as relPath and returns its URL.
std::string PublishManifest(const std::string& relPath, const ManifestPlan& plan);
// The same bound and signed as a publisher releases it: Target, Serial and an
// expiry a day ahead, each file (already published) with its SHA256 and
// Size, `extraLines` at the end, and `relPath`.sig by `signer`.
std::string PublishSignedManifest(const std::string& relPath, const ManifestPlan& plan, const TestSigner& signer,
                                  const char* target = "game", unsigned serial = 1000,
                                  const std::string& extraLines = "");
// A delta archive changing each file (zip name, base, result; an empty base
// for a new file) and removing the names listed. Its frames are raw blocks,
// valid against any base, so no compressor is needed here.
struct DeltaChange {
  std::string name, base, result;
};
std::string DeltaArchiveOf(const std::vector<DeltaChange>& changes, const std::vector<std::string>& removed);
// The manifest lines listing a delta archive with its SHA256 and Size.
std::string DeltaLines(int version, const std::string& name, const std::string& bytes);
// A zip archive of (name, contents) pairs.
std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& files);

// The player's work folder ("%TEMP%\~qztmp\") and the launcher's support log there.
std::string WorkDir();
std::string SupportLog();
// How many requests in the test server's log hold `fragment`.
int CountRequests(const std::string& fragment);

// The avatar module: its manifest at "avatar.txt" with the full archive
// (module "module full", version 100 at least) and patches 101 and 102
// published, the common files folder and the module's place in it.
std::string PublishAvatarManifest(std::vector<std::pair<int, std::string>> files);
std::string CommonFilesDir();
std::string AvatarModulePath();

LaunchBlock BlockWith(const std::string& autoDownUrl, const std::string& commonUrl = "");

// A product text with one value (ASCII data) put in, as the launcher shows it.
std::wstring Formatted(const wchar_t* format, const std::string& value);

// Dialogs
HWND WaitForDialogWithControl(DWORD pid, int controlId, DWORD timeoutMs = kWait);
bool WaitUntilGone(HWND window, DWORD timeoutMs = kWait);
bool IsEnabledItem(HWND dialog, int id);
bool IsTickedItem(HWND dialog, int id);
// Clicks a check box as the player would.
void Click(HWND dialog, int id);
// Answers the next message box of the process with that text; returns false
// when none came.
bool Answer(DWORD pid, const wchar_t* text, int button, DWORD timeoutMs = kWait);
// Saves a PNG of the window under <build>/screenshots/<name>.png.
void Screenshot(HWND window, const std::string& name);

}  // namespace qz::e2e
