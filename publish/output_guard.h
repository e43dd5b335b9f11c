// Which files a command of the release tool may write. One place decides it
// for every command: an existing file is replaced only with --force, and a
// private key or a file the command reads (its trees, its files, its signing
// key) is never replaced, not even with --force. Files are compared as the
// files they are (device and inode), so another name for the same file, a
// link or "./x" for "x", is caught too.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "publish/patch_plan.h"

namespace qz::publish {

class OutputGuard {
 public:
  explicit OutputGuard(bool force) : force_(force) {}

  // A file the command reads, named in refusals as `what` ("the signing
  // key"). A missing file is passed over: reading it fails on its own.
  void Keep(const std::string& path, const std::string& what);
  // Every file of a tree the command reads; an output inside the tree is
  // refused too (the next release of that tree would ship it as a game file).
  void KeepTree(const std::string& root, const Listing& tree, const std::string& what);

  // Throws PublishError unless path may be written: its folder exists, it is
  // no folder, and it is new, or replaceable with --force. Once allowed it is
  // kept, so no two outputs of one command are the same file.
  void Allow(const std::string& path);

 private:
  struct Kept {
    dev_t device;
    ino_t inode;
    std::string path, what;
  };
  bool force_;
  std::vector<Kept> kept_;
  std::vector<std::pair<std::string, std::string>> trees_;  // real path, what
};

// Whether a file begins like a PEM private key (plain or protected).
bool LooksLikePrivateKey(const std::string& path);

}  // namespace qz::publish
