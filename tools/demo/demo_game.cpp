// The demo game: what a publisher's game does with the launch record. It takes
// the record over from the "KG" section named on its command line, shows the
// values in a small window and writes them to launch-values.txt beside itself
// (so the demo's test can compare them with what the page set). The installed
// release comes from data\release.txt, which the setup program writes and the
// patch archives replace.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "record/handover.h"
#include "record/section_name.h"
#include "record/launch_block.h"

namespace {

const wchar_t kClass[] = L"VeltoDemoGame";

std::string FolderOfSelf() {
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string s = self;
  return s.substr(0, s.find_last_of('\\') + 1);
}

// The first argument after the program path (the path may be quoted).
std::string FirstArgument(const char* line) {
  const std::string args = qz::ArgumentsAfterProgram(line);
  return args.substr(0, args.find_first_of(" \t"));
}

std::string ReadSmallFile(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[256];
    const size_t n = std::fread(buffer, 1, sizeof buffer, f);
    text.assign(buffer, n);
    std::fclose(f);
  }
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

std::wstring Wide(const std::string& ansi) {
  if (ansi.empty()) return L"";
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &out[0], n);
  return out;
}

struct Launch {
  std::string section;
  bool received = false;
  qz::LaunchBlock block{};
  std::string release;
};

// A field's text, bounded by its width (a full field has no terminator).
std::string FieldOf(const qz::LaunchBlock& block, const qz::LaunchBlockField& field) {
  const char* start = reinterpret_cast<const char*>(&block) + field.offset;
  const void* zero = std::memchr(start, '\0', field.width);
  return std::string(start, zero ? static_cast<const char*>(zero) - start : field.width);
}

// name=value lines in the block's own encoding; the field order of the record.
std::string ValuesText(const Launch& launch) {
  std::string text = "section=" + launch.section + "\r\n";
  text += std::string("block=") + (launch.received ? "ok" : "none") + "\r\n";
  text += "release=" + launch.release + "\r\n";
  if (launch.received) {
    for (const auto& field : qz::kLaunchBlockFields) {
      text += std::string(field.name) + "=" + FieldOf(launch.block, field) + "\r\n";
    }
  }
  return text;
}

std::wstring WindowText(const Launch& launch) {
  std::wstring text = L"Velto Demo Game - release " + Wide(launch.release) + L"\r\n\r\n";
  if (!launch.received) {
    text += L"No launch record was handed over (section \"" + Wide(launch.section) + L"\").\r\n";
    text += L"Start the game through the launcher, from the portal page.\r\n";
    return text;
  }
  text += L"Launch record taken over from section " + Wide(launch.section) + L":\r\n\r\n";
  for (const auto& field : qz::kLaunchBlockFields) {
    std::wstring name = Wide(field.name);
    name.resize(14, L' ');
    text += L"  " + name + Wide(FieldOf(launch.block, field)) + L"\r\n";
  }
  text += L"\r\nA real game would now log in to " + Wide(qz::FieldText(launch.block.ServIP)) + L":" +
          Wide(qz::FieldText(launch.block.ServPort)) + L" with the cookies above.\r\n";
  text += L"Close this window to end the demo.";
  return text;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE: {
      HWND edit = GetDlgItem(window, 1);
      if (edit) MoveWindow(edit, 8, 8, LOWORD(lParam) - 16, HIWORD(lParam) - 16, TRUE);
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
  const std::string folder = FolderOfSelf();
  Launch launch;
  launch.section = FirstArgument(GetCommandLineA());
  // Taken over first and at once: the launcher keeps the section only briefly.
  launch.received = !launch.section.empty() && qz::TakeOverBlock(launch.section.c_str(), &launch.block);
  launch.release = ReadSmallFile(folder + "data\\release.txt");
  if (launch.release.empty()) launch.release = "?";

  const std::string values = ValuesText(launch);
  const std::string valuesPath = folder + "launch-values.txt";
  const std::string tmp = valuesPath + ".tmp";
  if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
    const bool ok = std::fwrite(values.data(), 1, values.size(), f) == values.size();
    std::fclose(f);
    if (ok) MoveFileExA(tmp.c_str(), valuesPath.c_str(), MOVEFILE_REPLACE_EXISTING);
  }

  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kClass;
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, kClass, L"Velto Demo Game", WS_OVERLAPPEDWINDOW, 60, 60, 760, 420,
                                nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  HWND edit = CreateWindowExW(0, L"EDIT", WindowText(launch).c_str(),
                              WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY,
                              8, 8, 728, 364, window, reinterpret_cast<HMENU>(1), instance, nullptr);
  HFONT font = CreateFontW(-13, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"MS Gothic");
  if (font) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  ShowWindow(window, show == SW_HIDE ? SW_SHOWNORMAL : show);
  UpdateWindow(window);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (font) DeleteObject(font);
  return 0;
}
