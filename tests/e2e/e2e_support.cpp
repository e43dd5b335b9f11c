#include "tests/e2e/e2e_support.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <fstream>

#include "format/delta_archive.h"
#include "format/manifest.h"
#include "tests/common/zip_builder.h"
#include "tests/winsupport/test_signer.h"
#include "ui/texts.h"

namespace qz::e2e {

void WriteInstallRecord(const std::string& prog, const std::string& version, const std::string& dir,
                        const std::string& exe) {
  HKEY key;
  const std::string path = "SOFTWARE\\Veltoworks\\" + prog;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS) return;
  auto set = [&](const char* name, const std::string& value) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  };
  if (!version.empty()) set("Version", version);
  if (!dir.empty()) set("RunDir", dir);
  if (!exe.empty()) set("RunFileName", exe);
  RegCloseKey(key);
}

std::string RegText(HKEY root, const std::string& path, const std::string& name) {
  char value[1024] = {};
  DWORD size = sizeof value - 1;
  if (RegGetValueA(root, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return "";
  }
  return value;
}

bool KeyExists(HKEY root, const std::string& path) {
  HKEY key;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

std::string InstallGame(const std::string& dir) {
  const std::string exe = dir + "game.exe";
  CopyProgram("standin_game.exe", exe);
  return exe;
}

std::map<std::string, std::string> GameRecord(const std::string& exe, DWORD timeoutMs) {
  if (!WaitForFile(exe + ".record.txt", timeoutMs)) return {};
  return ReadRecord(exe + ".record.txt");
}

std::wstring Formatted(const wchar_t* format, const std::string& value) {
  wchar_t text[1024];
  std::swprintf(text, 1024, format, std::wstring(value.begin(), value.end()).c_str());
  return text;
}

void Publish(const std::string& relPath, const std::string& bytes) {
  std::string path = ServerRoot() + relPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  WriteFileBytes(path, bytes);
}

std::string ManifestText(const ManifestPlan& plan) {
  std::string text = "[VLTWUpdateFile]\r\n";
  if (!plan.progName.empty()) text += "ProgName " + plan.progName + "\r\n";
  text += "MinVer " + std::to_string(plan.minVer) + "\r\n";
  if (!plan.fullUrl.empty()) text += "FullDnURL " + plan.fullUrl + "\r\n";
  if (!plan.baseUrl.empty()) text += "UpBaseURL " + plan.baseUrl + "\r\n";
  for (const auto& [version, name] : plan.files) {
    text += "UpFileList " + std::to_string(version) + " " + name + "\r\n";
  }
  return text;
}

std::string PublishManifest(const std::string& relPath, const ManifestPlan& plan) {
  Publish(relPath, ManifestText(plan));
  return ServerUrl(relPath);
}

std::string PublishSignedManifest(const std::string& relPath, const ManifestPlan& plan, const TestSigner& signer,
                                  const char* target, unsigned serial, const std::string& extraLines) {
  auto facts = [](const std::string& url) {
    std::string path = url.substr(ServerUrl("").size());
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    const std::string bytes = ReadFileBytes(ServerRoot() + path);
    return "SHA256 " + Sha256Hex(bytes) + "\r\nSize " + std::to_string(bytes.size()) + "\r\n";
  };
  const std::int64_t expires = static_cast<std::int64_t>(std::time(nullptr)) + 86400;
  std::string text = "[VLTWUpdateFile]\r\nProgName " + plan.progName + "\r\nTarget " + target + "\r\nSerial " +
                     std::to_string(serial) + "\r\nExpires " + ManifestTimeText(expires) + "\r\nMinVer " +
                     std::to_string(plan.minVer) + "\r\n";
  if (!plan.fullUrl.empty()) text += "FullDnURL " + plan.fullUrl + "\r\n" + facts(plan.fullUrl);
  if (!plan.baseUrl.empty()) text += "UpBaseURL " + plan.baseUrl + "\r\n";
  const std::string base = plan.baseUrl.empty() || plan.baseUrl.back() == '/' ? plan.baseUrl : plan.baseUrl + "/";
  for (const auto& [version, name] : plan.files) {
    text += "UpFileList " + std::to_string(version) + " " + name + "\r\n" + facts(base + name);
  }
  text += extraLines;
  Publish(relPath, text);
  Publish(relPath + ".sig", signer.SignatureText(text));
  return ServerUrl(relPath);
}

namespace {
// A Zstandard frame of raw blocks: valid against any base, so the test needs
// no compressor (the release tool's frames are checked natively).
std::string RawFrame(const std::string& content) {
  std::string f("\xE0", 1);  // no magic, as the delta archive has it; one segment, 8-byte content size
  for (int i = 0; i < 8; ++i) f += static_cast<char>((static_cast<std::uint64_t>(content.size()) >> (8 * i)) & 0xFF);
  std::size_t at = 0;
  do {
    const std::size_t n = std::min<std::size_t>(content.size() - at, 1u << 17);
    const std::uint32_t header = (static_cast<std::uint32_t>(n) << 3) | (at + n == content.size() ? 1u : 0u);
    f += std::string{static_cast<char>(header), static_cast<char>(header >> 8), static_cast<char>(header >> 16)};
    f += content.substr(at, n);
    at += n;
  } while (at < content.size());
  return f;
}

Sha256Digest DigestOf(const std::string& bytes) { return *ParseSha256Hex(Sha256Hex(bytes)); }

}  // namespace

std::string DeltaArchiveOf(const std::vector<DeltaChange>& changes, const std::vector<std::string>& removed) {
  DeltaIndex index;
  std::string frames, bases, results;
  for (const DeltaChange& c : changes) {
    const std::string frame = RawFrame(c.result);
    index.patches.push_back({c.name, c.base.size(), c.result.size(), frame.size(), 0});
    frames += frame;
    bases += c.base;
    results += c.result;
  }
  index.removed = removed;
  index.basesSha256 = DigestOf(bases);
  index.resultsSha256 = DigestOf(results);
  return DeltaIndexBytes(index) + frames;
}

std::string DeltaLines(int version, const std::string& name, const std::string& bytes) {
  return "UpDeltaList " + std::to_string(version) + " " + name + "\r\nSHA256 " + Sha256Hex(bytes) + "\r\nSize " +
         std::to_string(bytes.size()) + "\r\n";
}

std::string ZipOf(const std::vector<std::pair<std::string, std::string>>& files) {
  ziptest::ZipBuilder builder;
  for (const auto& [name, data] : files) {
    if (!name.empty() && name.back() == '/') {
      builder.Folder(name);
    } else {
      builder.File(name, data);
    }
  }
  return builder.Build();
}

std::string WorkDir() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + "~qztmp\\";
}

std::string SupportLog() { return ReadFileBytes(WorkDir() + "Quorlynx.log"); }

int CountRequests(const std::string& fragment) {
  const auto lines = ServerRequests();
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.find(fragment) != std::string::npos;
  }));
}

std::string PublishAvatarManifest(std::vector<std::pair<int, std::string>> files) {
  Publish("avatar/full.zip", ZipOf({{"Veltoworks/Avatar/Mirrafig.dll", "module full"}}));
  Publish("avatar/a101.zip", ZipOf({{"Veltoworks/Avatar/Mirrafig.dll", "module 101"}}));
  Publish("avatar/a102.zip", ZipOf({{"Veltoworks/Avatar/Mirrafig.dll", "module 102"}}));
  ManifestPlan plan;
  plan.progName = "Avatar";
  plan.minVer = 100;
  plan.fullUrl = ServerUrl("avatar/full.zip");
  plan.baseUrl = ServerUrl("avatar");
  plan.files = std::move(files);
  return PublishManifest("avatar.txt", plan);
}

std::string CommonFilesDir() {
  char dir[MAX_PATH] = {};
  DWORD size = sizeof dir;
  RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", RRF_RT_REG_SZ,
               nullptr, dir, &size);
  return std::string(dir) + "\\";
}

std::string AvatarModulePath() { return CommonFilesDir() + "Veltoworks\\Avatar\\Mirrafig.dll"; }

LaunchBlock BlockWith(const std::string& autoDownUrl, const std::string& commonUrl) {
  LaunchBlock block{};
  SetField(block.AuthCookie, "auth=0123456789abcdef");
  SetField(block.AvatarCookie, "avatar=fedcba9876543210");
  SetField(block.ServIP, "192.0.2.10");
  SetField(block.ServPort, "7000");
  SetField(block.AutoDownURL, autoDownUrl);
  SetField(block.CommonURL, commonUrl);
  return block;
}

HWND WaitForDialogWithControl(DWORD pid, int controlId, DWORD timeoutMs) {
  return WaitForWindow(
      pid, [&](HWND w) { return ClassOf(w) == L"#32770" && GetDlgItem(w, controlId) != nullptr; },
      timeoutMs);
}

bool WaitUntilGone(HWND window, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (IsWindow(window)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

bool IsEnabledItem(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

bool IsTickedItem(HWND dialog, int id) {
  DWORD_PTR state = 0;
  SendMessageTimeoutW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
  return state == BST_CHECKED;
}

void Click(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(item, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
}

bool Answer(DWORD pid, const wchar_t* text, int button, DWORD timeoutMs) {
  HWND box = WaitForWindow(
      pid, [&](HWND w) { return IsMessageBox(w) && MessageText(w) == text; }, timeoutMs);
  if (!box) return false;
  Press(box, button);
  // A box that closes slowly (Wine on a busy machine) must not be taken for
  // the next question of the same text.
  WaitUntilGone(box, 10000);
  return true;
}

void Screenshot(HWND window, const std::string& name) {
  const std::string dir = BinDir() + "..\\screenshots\\";
  SaveWindowPng(window, dir + name + ".png");
}

}  // namespace qz::e2e
