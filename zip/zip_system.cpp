// The platform-neutral parts of ZipSystem.
#include "zip/zip_system.h"

#include "zip/zip_path_parts.h"

namespace ZipSystem {

bool CreatePath(const std::string& folder) {
    std::string d = ZipPathTrimTrailing(folder, false);
    std::string parent = CZipPathParts(d).GetFolderPath();
    // A bare drive or an empty path ends the climb; so does a parent that
    // does not get shorter, which would otherwise recurse forever.
    if (parent == d || parent.size() >= d.size() || PathKind(d) == -1) return true;
    if (!CreatePath(parent)) return false;
    return MakeFolder(d);
}

}  // namespace ZipSystem
