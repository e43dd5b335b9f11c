#include "record/handover.h"

#include "base/win_handles.h"

namespace qz {

void HoldFor(DWORD delayMs) {
  Handle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (event) {
    WaitForSingleObject(event.get(), delayMs);
  } else {
    // Without an event the receiver still needs its time.
    Sleep(delayMs);
  }
}

bool HandOverBlock(const LaunchBlock& block, const std::string& exePath, const char* workDir,
                   SectionForm form, DWORD delayMs) {
  const DWORD t1 = GetTickCount();
  const DWORD t2 = GetTickCount();
  const std::string name = SectionName(form, t1, t2);

  Handle section(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    static_cast<DWORD>(sizeof(LaunchBlock)), name.c_str()));
  if (!section) return false;
  MappedView view(MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (!view) return false;
  std::memcpy(view.get(), &block, sizeof(LaunchBlock));

  std::string commandLine = QuotedCommandLine(exePath, name);
  if (commandLine.empty()) return false;

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, workDir,
                      &startup, &process)) {
    return false;
  }
  // The receiver is not waited for; only the section must outlive its start.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  HoldFor(delayMs);
  return true;
}

bool TakeOverBlock(const char* sectionName, LaunchBlock* out) {
  Handle section(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, sectionName));
  if (!section) return false;
  MappedView view(MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return false;
  // A foreign section of the same name may be smaller than the record.
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view.get(), &info, sizeof info) == 0 || info.RegionSize < sizeof(LaunchBlock)) {
    return false;
  }
  std::memcpy(out, view.get(), sizeof(LaunchBlock));
  return true;
}

}  // namespace qz
