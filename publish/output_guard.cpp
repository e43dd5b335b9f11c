#include "publish/output_guard.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "publish/publish_error.h"
#include "publish/publish_files.h"

namespace qz::publish {

void OutputGuard::Keep(const std::string& path, const std::string& what) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) kept_.push_back({st.st_dev, st.st_ino, path, what});
}

namespace {

// The real path of an existing folder ("" when it has none).
std::string RealPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return "";
  std::string out = real;
  std::free(real);
  return out;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void OutputGuard::KeepTree(const std::string& root, const Listing& tree, const std::string& what) {
  for (const auto& [path, item] : tree) {
    if (!item.folder) Keep(root + "/" + path, what);
  }
  const std::string real = RealPath(root);
  // "a file of the old release" names the tree "the old release".
  const std::string named = what.rfind("a file of ", 0) == 0 ? what.substr(10) : what;
  if (!real.empty()) trees_.emplace_back(real, named);
}

void OutputGuard::Allow(const std::string& path) {
  CheckOutputFolder(path);
  const std::string folder = RealPath(FolderOf(path));
  for (const auto& [root, what] : trees_) {
    if (folder == root || folder.compare(0, root.size() + 1, root + "/") == 0) {
      throw PublishError(path + " is inside " + what + " (" + root +
                         "): its next release would ship it as a game "
                         "file; write it elsewhere");
    }
  }
  struct stat st;
  // A link is looked through: whatever it names is what the publisher meant.
  const bool exists = stat(path.c_str(), &st) == 0;
  if (exists) {
    for (const Kept& k : kept_) {
      if (k.device == st.st_dev && k.inode == st.st_ino) {
        const std::string same = k.path == path ? "" : " (as " + k.path + ")";
        throw PublishError(path + " is " + k.what + same + ": it is never replaced, not even with --force");
      }
    }
    if (LooksLikePrivateKey(path)) {
      throw PublishError(path + " holds a private key: a key is never replaced, not even with --force");
    }
  }
  struct stat link;
  if (!force_ && (exists || lstat(path.c_str(), &link) == 0)) {
    throw PublishError(path + " exists already: give --force to replace it");
  }
  if (exists) kept_.push_back({st.st_dev, st.st_ino, path, "another output of this command"});
}

bool LooksLikePrivateKey(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(4096, '\0');
  in.read(&head[0], static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(in.gcount()));
  // "PRIVATE KEY", "ENCRYPTED PRIVATE KEY", "EC PRIVATE KEY", ...
  const std::size_t begin = head.find("-----BEGIN ");
  return begin != std::string::npos && head.find("PRIVATE KEY-----", begin) != std::string::npos;
}

}  // namespace qz::publish
