// The cost of the rights check an upgrade makes before it writes anything:
// every file a patch replaces is asked for (its access list read and checked
// against our token), every new file by its folder. Compared with what
// unpacking costs anyway: opening each file for writing once.
// Usage: rights_bench FOLDER FILES   (prints "name=milliseconds" lines)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/rights.h"

namespace {

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 64;
  std::string folder = argv[1];
  if (folder.back() != '\\') folder += '\\';
  const int files = std::atoi(argv[2]);
  CreateDirectoryA(folder.c_str(), nullptr);
  for (int i = 0; i < files; ++i) {
    HANDLE file = CreateFileA((folder + "f" + std::to_string(i)).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(file);
  }
  LARGE_INTEGER a, b, c, d;
  qz::WriteRights rights;
  int may = 0;
  QueryPerformanceCounter(&a);
  for (int i = 0; i < files; ++i) may += rights.May(folder + "f" + std::to_string(i));
  QueryPerformanceCounter(&b);
  for (int i = 0; i < files; ++i) may += rights.May(folder + "new\\sub\\n" + std::to_string(i));
  QueryPerformanceCounter(&c);
  for (int i = 0; i < files; ++i) {
    HANDLE file = CreateFileA((folder + "f" + std::to_string(i)).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  QueryPerformanceCounter(&d);
  if (may != 2 * files) return 2;
  std::printf("replaced=%.1f\nnew=%.1f\nopens=%.1f\n", Milliseconds(a, b), Milliseconds(b, c),
              Milliseconds(c, d));
  return 0;
}
