#include "tests/winsupport/win_test_support.h"

#include <aclapi.h>
#include <sddl.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "record/handover.h"
#include "record/section_name.h"

namespace qz::test {

std::string BinDir() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s = path;
  return s.substr(0, s.find_last_of('\\') + 1);
}

bool MakeDirs(const std::string& path) {
  std::string p = path;
  while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.pop_back();
  if (p.empty() || GetFileAttributesA(p.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const size_t slash = p.find_last_of("\\/");
  if (slash != std::string::npos && slash > 2) MakeDirs(p.substr(0, slash));
  return CreateDirectoryA(p.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool MakeFolderWithAccess(const std::string& path, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!CreateDirectoryA(path.c_str(), nullptr) ||
      !ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  HANDLE folder = CreateFileA(path.c_str(), READ_CONTROL | WRITE_DAC, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool set = folder != INVALID_HANDLE_VALUE &&
                   SetSecurityInfo(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                                   nullptr) == ERROR_SUCCESS;
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  LocalFree(descriptor);
  return set;
}

std::string NewTempDir(const std::string& stem) {
  static int counter = 0;
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string dir;
  do {
    dir = std::string(temp) + "qztest\\" + stem + std::to_string(GetCurrentProcessId()) + "_" +
          std::to_string(++counter) + "\\";
  } while (GetFileAttributesA(dir.c_str()) != INVALID_FILE_ATTRIBUTES);
  MakeDirs(dir);
  return dir;
}

static std::string Env(const char* name) {
  char value[1024] = {};
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n && n < sizeof value ? std::string(value) : std::string();
}

std::string ServerUrl(const std::string& path, ServerListener listener) {
  const char* names[] = {"QZ_HTTP_BASE", "QZ_HTTP_PLAIN_BASE", "QZ_HTTP_OTHER_NAME_BASE",
                         "QZ_HTTP_UNKNOWN_CA_BASE", "QZ_HTTP_SILENT_BASE"};
  return Env(names[static_cast<int>(listener)]) + path;
}

std::string ServerRoot() {
  std::string root = Env("QZ_HTTP_ROOT");
  if (!root.empty() && root.back() != '\\') root += '\\';
  return root;
}

std::vector<std::string> ServerRequests() {
  std::vector<std::string> lines;
  std::istringstream in(ReadFileBytes(ServerRoot() + ".requests"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

static const char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

ProxyThroughTestServer::ProxyThroughTestServer() {
  const std::string plain = ServerUrl("", ServerListener::PlainHttp);  // http://127.0.0.1:PORT/
  const std::string server = plain.substr(7, plain.size() - 8);
  const DWORD on = 1;
  if (RegCreateKeyA(HKEY_CURRENT_USER, kInternetSettings, &key_) != ERROR_SUCCESS) return;
  RegSetValueExA(key_, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                 static_cast<DWORD>(server.size() + 1));
  RegSetValueExA(key_, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
}

ProxyThroughTestServer::~ProxyThroughTestServer() {
  if (!key_) return;
  RegDeleteValueA(key_, "ProxyEnable");
  RegDeleteValueA(key_, "ProxyServer");
  RegCloseKey(key_);
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  const size_t slash = path.find_last_of('\\');
  if (slash != std::string::npos) MakeDirs(path.substr(0, slash));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitForFile(const std::string& path, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!FileExists(path)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
  return true;
}

std::map<std::string, std::string> ReadRecord(const std::string& path) {
  std::map<std::string, std::string> values;
  std::istringstream in(ReadFileBytes(path));
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

bool CopyProgram(const std::string& name, const std::string& dest) {
  const size_t slash = dest.find_last_of('\\');
  if (slash != std::string::npos) MakeDirs(dest.substr(0, slash));
  return CopyFileA((BinDir() + name).c_str(), dest.c_str(), FALSE) != 0;
}

DWORD Process::Wait(DWORD timeoutMs) const {
  if (!handle_) return STILL_ACTIVE;
  if (WaitForSingleObject(handle_.get(), timeoutMs) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(handle_.get(), &code);
  return code;
}

void Process::Kill() const {
  if (handle_) TerminateProcess(handle_.get(), 99);
}

Process StartProcess(const std::string& commandLine, const char* cwd) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, cwd, &startup, &info)) {
    return {};
  }
  CloseHandle(info.hThread);
  return Process(info.hProcess, info.dwProcessId);
}

namespace {

struct WindowSearch {
  DWORD pid;
  std::vector<HWND> found;
};

// A named CALLBACK: on x86 a lambda would have the wrong calling convention.
BOOL CALLBACK CollectWindowOf(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<WindowSearch*>(p);
  DWORD owner = 0;
  GetWindowThreadProcessId(w, &owner);
  if (owner == s->pid && IsWindowVisible(w)) s->found.push_back(w);
  return TRUE;
}

}  // namespace

std::vector<HWND> WindowsOf(DWORD pid) {
  WindowSearch search{pid, {}};
  EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForWindow(DWORD pid, const std::function<bool(HWND)>& match, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    for (HWND w : WindowsOf(pid)) {
      if (match(w)) return w;
    }
    if (GetTickCount() - start > timeoutMs) return nullptr;
    Sleep(50);
  }
}

std::wstring TextOf(HWND window) {
  wchar_t text[2048] = {};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      5000, &result);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

bool IsMessageBox(HWND window) {
  return ClassOf(window) == L"#32770" && GetDlgItem(window, 0xFFFF) != nullptr;
}

std::wstring MessageText(HWND box) { return TextOf(GetDlgItem(box, 0xFFFF)); }

HWND WaitForMessageBox(DWORD pid, DWORD timeoutMs) {
  return WaitForWindow(pid, IsMessageBox, timeoutMs);
}

void Press(HWND dialog, int id) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

namespace {

void PutBe32(std::string& out, uint32_t v) {
  const char b[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
  out.append(b, 4);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
  PutBe32(png, static_cast<uint32_t>(data.size()));
  const std::string body = std::string(type, 4) + data;
  png += body;
  PutBe32(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                           static_cast<uInt>(body.size()))));
}

}  // namespace

bool SaveWindowPng(HWND window, const std::string& path) {
  RECT r{};
  if (!GetWindowRect(window, &r)) return false;
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return false;
  SetForegroundWindow(window);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();

  std::string raw;
  raw.reserve(static_cast<size_t>(h) * (w * 3 + 1));
  const auto* px = static_cast<const unsigned char*>(bits);
  for (int y = 0; y < h; ++y) {
    raw.push_back(0);
    for (int x = 0; x < w; ++x) {
      const unsigned char* p = px + (static_cast<size_t>(y) * w + x) * 4;
      raw.push_back(static_cast<char>(p[2]));
      raw.push_back(static_cast<char>(p[1]));
      raw.push_back(static_cast<char>(p[0]));
    }
  }
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);

  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &packedSize,
            reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), 6);
  packed.resize(packedSize);

  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBe32(header, static_cast<uint32_t>(w));
  PutBe32(header, static_cast<uint32_t>(h));
  header += std::string("\x08\x02\x00\x00\x00", 5);
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", packed);
  Chunk(png, "IEND", "");
  return WriteFileBytes(path, png);
}

std::wstring ItemText(HWND dialog, int id) { return TextOf(GetDlgItem(dialog, id)); }
bool IsShown(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }

static std::string LauncherExe(const std::string& exe) {
  return exe.empty() ? BinDir() + "Quorlynx.exe" : exe;
}

LauncherRun StartLauncher(const LaunchBlock& block, const std::string& exe) {
  LauncherRun run;
  const DWORD t = GetTickCount();
  run.name = SectionName(SectionForm::Launcher, t, t ^ GetCurrentProcessId());
  run.section.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       sizeof(LaunchBlock), run.name.c_str()));
  if (!run.section) return run;
  run.view.reset(MapViewOfFile(run.section.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (!run.view) return run;
  std::memcpy(run.view.get(), &block, sizeof block);
  run.process = StartProcess(QuotedCommandLine(LauncherExe(exe), run.name));
  return run;
}

LauncherRun StartLauncherWithToken(const std::string& token, const std::string& exe) {
  LauncherRun run;
  run.name = token;
  run.process = StartProcess("\"" + LauncherExe(exe) + "\" " + token);
  return run;
}

}  // namespace qz::test
