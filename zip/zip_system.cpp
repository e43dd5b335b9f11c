// The platform-neutral parts of ZipSystem.
#include "zip/zip_system.h"

#include <atomic>

#include "zip/zip_path_parts.h"

namespace ZipSystem {

namespace {
std::atomic<uint64_t> pathCalls{0};
}  // namespace

uint64_t PathCallCount() { return pathCalls.load(std::memory_order_relaxed); }
void CountPathCall() { pathCalls.fetch_add(1, std::memory_order_relaxed); }

bool CreatePath(const std::string& folder, std::set<std::string>* known) {
  // Either separator may end the folder: a "/" left at the end would make
  // the folder its own parent, and nothing below it would ever be made.
  std::string d = ZipPathTrimTrailing(folder, true);
  if (known != nullptr && known->count(d) != 0) return true;
  std::string parent = CZipPathParts(d).GetFolderPath();
  // A bare drive or an empty path ends the climb; so does a parent that
  // does not get shorter, which would otherwise recurse forever.
  if (parent == d || parent.size() >= d.size()) return true;
  if (PathKind(d) != -1) {
    if (!CreatePath(parent, known) || !MakeFolder(d)) return false;
  }
  if (known != nullptr) known->insert(d);
  return true;
}

}  // namespace ZipSystem
