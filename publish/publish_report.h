// What a command wrote, for a build machine to read (--json): one JSON
// object on standard output with every file's path, size and SHA-256.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace qz::publish {

class WriteReport {
 public:
  explicit WriteReport(std::string command) : command_(std::move(command)) {}
  // A file now written; its size and digest are read when printed.
  void Wrote(const std::string& path) { written_.push_back(path); }
  void Removed(const std::string& path) { removed_.push_back(path); }
  // A further text member, such as the public key of a new key.
  void Add(const std::string& name, const std::string& value) { extra_.emplace_back(name, value); }

  // {"command":"...","written":[{"path":"...","size":N,"sha256":"..."}],"removed":["..."],...}
  void PrintJson(std::ostream& out) const;

 private:
  std::string command_;
  std::vector<std::string> written_, removed_;
  std::vector<std::pair<std::string, std::string>> extra_;
};

// A JSON string: quotes, backslashes and control characters escaped; other
// bytes as they are (paths are the file system's bytes).
std::string JsonString(const std::string& text);

}  // namespace qz::publish
