#include "control/control_log.h"

#include "base/folders.h"
#include "base/private_folder.h"
#include "base/run_log.h"

namespace qz::control {
namespace {

constexpr char kPhase[] = "control";

// Asked before every line: the player may make, remove or lose the folder
// while a page holds the control.
std::string LogPath() {
  const std::string folder = PlayerWorkFolder();
  if (folder.empty() || CheckPrivateFolder(folder) != FolderVerdict::Private) return std::string();
  return folder + runlog::kFileName;
}

}  // namespace

void Log(const std::string& text) noexcept {
  try {
    runlog::OpenEachTime(LogPath);
    runlog::Write(kPhase, text);
  } catch (...) {
  }
}

void LogCaught() noexcept {
  runlog::OpenEachTime(LogPath);
  runlog::WriteCaught(kPhase);
}

}  // namespace qz::control
