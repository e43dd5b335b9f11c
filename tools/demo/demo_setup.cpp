// The demo game's full setup program, as a publisher would ship it: it carries
// the game inside itself (resource 1), installs it under Program Files, writes
// the data file of its release and the installation record the launcher reads
// afterwards (HKLM SOFTWARE\Veltoworks\VeltoDemo: Version, RunDir,
// RunFileName). It shows a small progress window while it works and needs no
// answer from the player, so the launcher's setup-running dialog simply waits.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

namespace {

const char kProgName[] = "VeltoDemo";
const char kRelease[] = "100";
const wchar_t kClass[] = L"VeltoDemoSetup";
constexpr int kSteps = 15;  // 100 ms each: long enough to be seen

struct Install {
  std::string dir;  // trailing backslash
  std::string exe;
  std::string error;
};

bool WriteBytes(const std::string& path, const void* data, DWORD size) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, data, size, &written, nullptr) && written == size;
  return CloseHandle(file) && ok;
}

bool SetText(HKEY key, const char* name, const std::string& value) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool RunInstall(Install& install) {
  char programFiles[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles))) {
    install.error = "Program Files folder not found";
    return false;
  }
  const std::string maker = std::string(programFiles) + "\\Veltoworks";
  install.dir = maker + "\\Velto Demo\\";
  install.exe = install.dir + "VeltoDemoGame.exe";
  CreateDirectoryA(maker.c_str(), nullptr);
  CreateDirectoryA(install.dir.c_str(), nullptr);
  CreateDirectoryA((install.dir + "data").c_str(), nullptr);

  HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const void* game = loaded ? LockResource(loaded) : nullptr;
  if (!game || !WriteBytes(install.exe, game, SizeofResource(nullptr, found))) {
    install.error = "cannot write " + install.exe;
    return false;
  }
  const std::string release = std::string(kRelease) + "\r\n";
  if (!WriteBytes(install.dir + "data\\release.txt", release.data(), static_cast<DWORD>(release.size()))) {
    install.error = "cannot write the game's data";
    return false;
  }

  HKEY key;
  const std::string path = std::string("SOFTWARE\\Veltoworks\\") + kProgName;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) {
    install.error = "cannot write the installation record";
    return false;
  }
  const bool ok = SetText(key, "Version", kRelease) && SetText(key, "RunDir", install.dir) &&
                  SetText(key, "RunFileName", install.exe);
  RegCloseKey(key);
  if (!ok) install.error = "cannot write the installation record";
  return ok;
}

Install g_install;
int g_step = 0;
bool g_ok = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (++g_step < kSteps) {
        SendMessageW(GetDlgItem(window, 2), PBM_SETPOS, g_step * 100 / kSteps, 0);
        return 0;
      }
      KillTimer(window, 1);
      g_ok = RunInstall(g_install);
      SendMessageW(GetDlgItem(window, 2), PBM_SETPOS, 100, 0);
      if (!g_ok) {
        const std::string text = "Velto Demo Game could not be installed: " + g_install.error;
        MessageBoxA(window, text.c_str(), "Velto Demo Game Setup", MB_OK | MB_ICONERROR);
      }
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, kClass, L"Velto Demo Game Setup", WS_OVERLAPPED | WS_CAPTION, 420, 360,
                                420, 130, nullptr, nullptr, instance, nullptr);
  if (!window) return RunInstall(g_install) ? 0 : 1;
  const std::string caption = std::string("Installing Velto Demo Game (release ") + kRelease + ")...";
  HWND label = CreateWindowExA(0, "STATIC", caption.c_str(), WS_CHILD | WS_VISIBLE, 16, 16, 380, 20, window,
                               reinterpret_cast<HMENU>(1), instance, nullptr);
  CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 16, 44, 380, 18, window,
                  reinterpret_cast<HMENU>(2), instance, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  ShowWindow(window, show == SW_HIDE ? SW_SHOWNORMAL : show);
  SetTimer(window, 1, 100, nullptr);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return g_ok ? 0 : 1;
}
