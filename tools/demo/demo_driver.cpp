// Follows one demo run from the player's side. It waits for the launcher the
// page started (Quorlynx1.exe), names every dialog as it appears, saves a
// picture of each step and, when nobody watches (mode "auto"), presses Next
// and closes the demo game as a player would. In mode "watch" the player
// clicks and the driver only reports.
//
// Usage: demo_driver auto|watch PICTURE_FOLDER RESULT_FILE [TIMEOUT_SECONDS [ENTRY]]
// ENTRY names what starts the launcher: "page" (the control's Run, the
// default) or "link" (a quorlynx: link through the shell).
// RESULT_FILE receives key=value lines (launcher exit code, the game seen,
// the steps) for the demo's script and test.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/winsupport/win_test_support.h"
#include "ui/resource_ids.h"

namespace {

using namespace qz::test;

struct Driver {
  bool autoMode = true;
  std::string pictures;  // trailing backslash
  int pictureCount = 0;
  std::vector<std::string> steps;
  std::vector<std::string> pictureFiles;

  void Say(const std::string& line) {
    std::printf("  %s\n", line.c_str());
    std::fflush(stdout);
  }
  void Step(const std::string& key, const std::string& line) {
    steps.push_back(key);
    Say(line);
  }
  void Picture(HWND window, const std::string& name) {
    char file[64];
    std::snprintf(file, sizeof file, "%02d-%s.png", ++pictureCount, name.c_str());
    if (SaveWindowPng(window, pictures + file)) {
      pictureFiles.push_back(file);
    } else {
      --pictureCount;
    }
  }
};

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

DWORD FindProcess(const char* exeName, const std::set<DWORD>& skip) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  DWORD found = 0;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, exeName) == 0 && !skip.count(entry.th32ProcessID)) {
      found = entry.th32ProcessID;
      break;
    }
  }
  CloseHandle(snapshot);
  return found;
}

// A visible top-level window of that class in any process.
HWND FindWindowOfClass(const wchar_t* className) {
  HWND window = FindWindowW(className, nullptr);
  return window && IsWindowVisible(window) ? window : nullptr;
}

bool IsDialog(HWND w) { return ClassOf(w) == L"#32770"; }
bool IsWizard(HWND w) { return IsDialog(w) && GetDlgItem(w, IDC_NEXT) && GetDlgItem(w, IDC_PHASE); }
bool IsWaitDialog(HWND w) { return IsDialog(w) && GetDlgItem(w, IDC_WAIT_TEXT) && !GetDlgItem(w, IDC_NEXT); }
bool IsSetupRunDialog(HWND w) { return IsDialog(w) && GetDlgItem(w, IDC_SETUP_TEXT1); }

int ProgressOf(HWND wizard) {
  DWORD_PTR pos = 0;
  SendMessageTimeoutW(GetDlgItem(wizard, IDC_PROGRESS), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &pos);
  return static_cast<int>(pos);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: demo_driver auto|watch PICTURE_FOLDER RESULT_FILE [TIMEOUT_SECONDS [ENTRY]]\n");
    return 2;
  }
  Driver d;
  d.autoMode = std::string(argv[1]) != "watch";
  d.pictures = argv[2];
  if (!d.pictures.empty() && d.pictures.back() != '\\') d.pictures += '\\';
  const std::string resultFile = argv[3];
  const DWORD timeoutMs = (argc > 4 ? static_cast<DWORD>(std::atoi(argv[4])) : 300) * 1000;
  const bool fromLink = argc > 5 && std::string(argv[5]) == "link";
  const std::string starter = fromLink ? "the quorlynx: link, through the shell," : "the page's Run";
  MakeDirs(d.pictures);

  // The page starts the launcher; give the script host and the control time.
  const DWORD begin = GetTickCount();
  DWORD launcherPid = 0;
  while (!(launcherPid = FindProcess("Quorlynx1.exe", {}))) {
    if (GetTickCount() - begin > 60000) break;
    Sleep(50);
  }
  std::string result;
  if (!launcherPid) {
    d.Say("the launcher was not started by " + std::string(fromLink ? "the link" : "the page"));
    WriteFileBytes(resultFile, "launcher=none\r\n");
    return 1;
  }
  d.Step("launcher", starter + " started the launcher (Quorlynx1.exe, process " +
                         std::to_string(launcherPid) + ")");
  HANDLE launcher = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, launcherPid);

  std::set<HWND> waits, confirms, setups, boxes, setupPrograms;
  std::set<HWND> progressSeen, progressPictured;
  DWORD progressSince = 0;
  HWND game = nullptr;
  bool gamePictured = false, gameGone = false;
  DWORD launcherExit = STILL_ACTIVE, launcherEndedAt = 0;

  // A closed window's handle may be handed out again: forget closed ones.
  auto forgetClosed = [](std::set<HWND>& seen) {
    for (auto it = seen.begin(); it != seen.end();) it = IsWindow(*it) ? std::next(it) : seen.erase(it);
  };

  for (;;) {
    const DWORD now = GetTickCount();
    for (auto* seen : {&waits, &confirms, &setups, &boxes, &setupPrograms, &progressSeen, &progressPictured}) {
      forgetClosed(*seen);
    }
    if (now - begin > timeoutMs) {
      d.Say("time is up: the run did not finish");
      break;
    }
    for (HWND w : WindowsOf(launcherPid)) {
      if (IsMessageBox(w)) {
        if (boxes.insert(w).second) {
          d.Step("message", "the launcher says: " + Utf8(MessageText(w)));
          d.Picture(w, "message");
          if (d.autoMode) Press(w, GetDlgItem(w, IDYES) ? IDYES : IDOK);
        }
      } else if (IsWaitDialog(w)) {
        if (waits.insert(w).second) {
          const std::wstring text = ItemText(w, IDC_WAIT_TEXT);
          const bool avatar = text.find(L"アバター") != std::wstring::npos;
          d.Step(avatar ? "wait-avatar" : "wait-game",
                 std::string("waiting dialog: ") +
                     (avatar ? "checking the avatar module" : "fetching the game's update manifest") +
                     " (" + Utf8(text) + ")");
          d.Picture(w, avatar ? "waiting-avatar" : "waiting-game");
        }
      } else if (IsSetupRunDialog(w)) {
        if (setups.insert(w).second) {
          d.Step("setup-running", "setup-running dialog: the downloaded setup program runs");
          d.Picture(w, "setup-running");
        }
      } else if (IsWizard(w)) {
        if (IsShown(w, IDC_CONFIRM_TEXT1) && confirms.insert(w).second) {
          d.Step("wizard-confirm", "wizard, confirmation page: " + Utf8(ItemText(w, IDC_CONFIRM_TEXT1)));
          d.Picture(w, "wizard-confirm");
          if (d.autoMode) {
            d.Say("pressing Next as the player would");
            Press(w, IDC_NEXT);
          } else {
            d.Say("the wizard waits for you: press Next (次へ)");
          }
        }
        if (IsShown(w, IDC_PHASE)) {
          if (progressSeen.insert(w).second) {
            progressSince = now;
            d.Step("wizard-progress", "wizard, progress page: " + Utf8(ItemText(w, IDC_PHASE)));
          }
          // A picture once the transfer shows some progress.
          if (!progressPictured.count(w) && (ProgressOf(w) >= 30 || now - progressSince > 1500)) {
            progressPictured.insert(w);
            d.Picture(w, "wizard-progress");
          }
        }
      }
    }
    if (HWND setupProgram = FindWindowOfClass(L"VeltoDemoSetup")) {
      if (setupPrograms.insert(setupProgram).second) {
        d.Step("setup-program", "the demo setup program installs the game");
        d.Picture(setupProgram, "setup-program");
      }
    }
    if (!game) {
      if ((game = FindWindowOfClass(L"VeltoDemoGame"))) {
        d.Step("game", "the demo game started and shows the launch values it received");
        Sleep(500);  // let it paint
        d.Picture(game, "demo-game");
        gamePictured = true;
        if (d.autoMode) {
          PostMessageW(game, WM_CLOSE, 0, 0);
        } else {
          d.Say("close the game's window to end the demo");
        }
      }
    } else if (!gameGone && !IsWindow(game)) {
      gameGone = true;
    }
    if (launcherExit == STILL_ACTIVE && WaitForSingleObject(launcher, 0) == WAIT_OBJECT_0) {
      GetExitCodeProcess(launcher, &launcherExit);
      launcherEndedAt = now;
      d.Step("launcher-exit", "the launcher ended with exit code " + std::to_string(launcherExit));
    }
    if (launcherExit != STILL_ACTIVE) {
      // Done when the game has been seen and closed, or clearly never came.
      if (game ? gameGone : now - launcherEndedAt > 2000) break;
    }
    Sleep(25);
  }

  result += "launcher_exit=" + std::to_string(launcherExit) + "\r\n";
  result += std::string("game=") + (gamePictured ? "1" : "0") + "\r\n";
  std::string stepList, pictureList;
  for (const auto& s : d.steps) stepList += (stepList.empty() ? "" : " ") + s;
  for (const auto& p : d.pictureFiles) pictureList += (pictureList.empty() ? "" : " ") + p;
  result += "steps=" + stepList + "\r\n";
  result += "pictures=" + pictureList + "\r\n";
  WriteFileBytes(resultFile, result);
  if (launcher) CloseHandle(launcher);
  // 2: a full installation that a second pass upgraded; also a success.
  return (launcherExit == 1 || launcherExit == 2) && gamePictured ? 0 : 1;
}
