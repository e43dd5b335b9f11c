#include "publish/patch_plan.h"

#include <iconv.h>

#include <cstring>
#include <set>

#include "format/name_case.h"
#include "format/windows_names.h"
#include "publish/publish_error.h"

namespace qz::publish {

namespace {

// A path as Windows' file system compares it (a path that is not UTF-8 is
// refused by ZipName; until then its bytes stand for themselves).
std::u16string Folded(const std::string& path) {
  if (auto folded = FoldedName(path)) return *folded;
  return std::u16string(path.begin(), path.end());
}

// The launcher's own name rules; the length counts in code page 932 bytes,
// which the caller checks after converting.
void CheckPart(const std::string& part, const std::string& path) {
  const NameProblem problem = CheckNamePart(part);
  if (problem != NameProblem::None && problem != NameProblem::TooLong) {
    throw PublishError("'" + path + "': " + NameProblemText(problem));
  }
}

// Bytes that zip tools would take for UTF-8 (lead and continuation bytes in
// order, as libzip checks them).
bool ReadsAsUtf8(const std::string& bytes) {
  bool wide = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) continue;
    wide = true;
    const int more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (more < 0 || i + static_cast<std::size_t>(more) >= bytes.size()) return false;
    for (int k = 1; k <= more; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    }
    i += static_cast<std::size_t>(more);
  }
  return wide;
}

std::string Parent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Names that differ only in case are one file on Windows.
void CheckCase(const Listing& tree) {
  std::map<std::u16string, std::string> seen;
  for (const auto& [path, item] : tree) {
    auto [it, fresh] = seen.emplace(Folded(path), path);
    if (!fresh)
      throw PublishError("'" + it->second + "' and '" + path +
                         "' are one file on Windows (names differ only in case)");
  }
}

void Add(PatchPlan& plan, const std::string& path, const TreeItem& item) {
  plan.entries.push_back({path, ZipName(path, item.folder), item.folder});
}

}  // namespace

std::optional<std::string> ToCodePage932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw PublishError("this system's iconv has no code page 932");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* outPtr = &out[0];
  std::size_t outLeft = out.size();
  const std::size_t done = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  const std::size_t flushed = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  iconv_close(cd);
  // glibc counts characters it replaced as irreversible: those fail too.
  if (done != 0 || flushed == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

std::string ZipName(const std::string& path, bool folder) {
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = path.find('/', start);
    CheckPart(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start), path);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  std::optional<std::string> name = ToCodePage932(path);
  if (!name)
    throw PublishError("'" + path +
                       "': a character has no code page 932 form (Japanese Windows can't name it)");
  // libzip would mark such a name as UTF-8, and tools honouring the mark
  // would show another name than the reader, which ignores it.
  if (ReadsAsUtf8(*name))
    throw PublishError("'" + path + "': its code page 932 bytes also read as UTF-8; rename it");
  start = 0;
  while (start <= name->size()) {
    std::size_t slash = name->find('/', start);
    if (slash == std::string::npos) slash = name->size();
    if (slash - start > kMaxNamePart) {
      throw PublishError("'" + path + "': a part is longer than " + std::to_string(kMaxNamePart) + " bytes");
    }
    start = slash + 1;
  }
  // "C:\" is the shortest folder a game can have; the launcher refuses a
  // longer target than MAX_PATH before it writes anything.
  if (name->size() + 3 > kMaxPathLength) {
    throw PublishError("'" + path + "': " + std::to_string(name->size()) +
                       " bytes in code page 932 is longer than any game folder leaves room for (at most " +
                       std::to_string(kMaxPathLength - 3) + ")");
  }
  return folder ? *name + "/" : *name;
}

PatchPlan PlanPatch(const Listing& oldTree, const Listing& newTree) {
  CheckCase(newTree);
  PatchPlan plan;
  for (const auto& [path, item] : newTree) {
    auto old = oldTree.find(path);
    if (old != oldTree.end() && old->second.folder != item.folder) {
      throw PublishError("'" + path + "' is a " + (old->second.folder ? "folder" : "file") +
                         " in the old tree and a " + (item.folder ? "folder" : "file") +
                         " in the new one: a patch can't replace it");
    }
    const bool fresh = old == oldTree.end();
    if (item.folder ? (fresh && item.emptyFolder) : (fresh || old->second.digest != item.digest)) {
      Add(plan, path, item);
    }
  }
  // What the release writes or keeps is never removed, in any case Windows
  // folds alike (Ａ.txt and ａ.txt too).
  std::set<std::u16string> kept;
  for (const auto& entry : newTree) kept.insert(Folded(entry.first));
  std::vector<std::string> folders;
  for (const auto& [path, item] : oldTree) {
    if (newTree.count(path)) continue;
    const std::string parent = Parent(path);
    if (parent.empty() || newTree.count(parent)) plan.onlyInOld.push_back(path);
    if (kept.count(Folded(path))) continue;
    (item.folder ? folders : plan.removed).push_back(ZipName(path, item.folder));
  }
  // A folder after its subfolders: a longer name of the same branch sorts
  // after its parent, so the reverse order empties children first.
  plan.removed.insert(plan.removed.end(), folders.rbegin(), folders.rend());
  return plan;
}

PatchPlan PlanFull(const Listing& tree) { return PlanPatch(Listing(), tree); }

}  // namespace qz::publish
