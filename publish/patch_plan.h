// Which files a patch or full archive holds, and the names they get in it.
// Works on listings of two build trees, so it never touches the disk.
#pragma once

#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qz::publish {

struct TreeItem {
  bool folder = false;
  bool emptyFolder = false;
  std::string digest;  // of a file's content
  std::time_t modified = 0;
};

// Relative paths ('/' between parts, UTF-8 as the build tree names them).
using Listing = std::map<std::string, TreeItem>;

struct ArchiveEntry {
  std::string path;     // in the tree
  std::string zipName;  // code page 932, '/' between parts, a folder ends in '/'
  bool folder = false;
};

struct PatchPlan {
  std::vector<ArchiveEntry> entries;
  // Paths of the old tree the new one lacks (a patch can't delete them); the
  // topmost only, so a removed folder is named once.
  std::vector<std::string> onlyInOld;
  // Zip names of every file and folder the new tree no longer has, files
  // before the folders that held them (deepest first). A name the new tree
  // has in another case is the same file on Windows: not removed.
  std::vector<std::string> removed;
};

// Every file of newTree that is new or whose content differs, and every new
// empty folder. Throws PublishError for a path that is a file in one tree and
// a folder in the other, for names Windows can't hold, and for two names
// that differ only in case.
PatchPlan PlanPatch(const Listing& oldTree, const Listing& newTree);
// The whole tree: every file and every empty folder.
PatchPlan PlanFull(const Listing& tree);

// A UTF-8 name as code page 932 bytes, or nothing when a character has no
// code page 932 form (or the text is not UTF-8).
std::optional<std::string> ToCodePage932(const std::string& utf8);

// The zip name of a relative path; throws PublishError naming the path when a
// part can't be a Windows file name as the launcher's reader rebuilds it.
std::string ZipName(const std::string& path, bool folder);

}  // namespace qz::publish
