#include "zip/zip_path_parts.h"

#include <cstdint>

#include "format/windows_names.h"
#include "zip/zip_system.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Calls visit(index, isSingleByte) for each character of s.
template <typename Visit>
void ForEachChar(const std::string& s, Visit visit) {
  for (size_t i = 0; i < s.size();) {
    if (ZipSystem::IsLeadByte(static_cast<uint8_t>(s[i])) && i + 1 < s.size()) {
      visit(i, false);
      i += 2;
    } else {
      visit(i, true);
      ++i;
    }
  }
}

bool HasClimbingPart(const std::string& path, bool byteWise) {
  size_t start = 0;
  auto endPart = [&](size_t end) {
    if (qz::IsClimbingPart(path.substr(start, end - start))) return true;
    start = end + 1;
    return false;
  };
  bool climbs = false;
  if (byteWise) {
    for (size_t i = 0; i < path.size() && !climbs; ++i)
      if (IsSeparator(path[i])) climbs = endPart(i);
  } else {
    ForEachChar(path, [&](size_t i, bool single) {
      if (!climbs && single && IsSeparator(path[i])) climbs = endPart(i);
    });
  }
  return climbs || endPart(path.size());
}

// Calls visit(part) for each part between separators.
template <typename Visit>
void ForEachPart(const std::string& path, bool byteWise, Visit visit) {
  size_t start = 0;
  auto cut = [&](size_t end) {
    visit(path.substr(start, end - start));
    start = end + 1;
  };
  if (byteWise) {
    for (size_t i = 0; i < path.size(); ++i)
      if (IsSeparator(path[i])) cut(i);
  } else {
    ForEachChar(path, [&](size_t i, bool single) {
      if (single && IsSeparator(path[i])) cut(i);
    });
  }
  cut(path.size());
}

}  // namespace

void CZipPathParts::Split(const std::string& path) {
  prefix.clear();
  drive.clear();
  directory.clear();
  title.clear();
  extension.clear();

  static const char kLongUnc[] = "\\\\?\\unc\\";
  size_t run = 0;
  while (run < 8 && run < path.size()) {
    char c = path[run];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kLongUnc[run]) break;
    ++run;
  }
  size_t start = (run == 2 || run == 4 || run == 8) ? run : 0;
  prefix = path.substr(0, start);
  std::string rest = path.substr(start);

  if (rest.size() >= 2 && rest[1] == ':') {
    drive = rest.substr(0, 2);
    rest.erase(0, 2);
  }

  size_t nameStart = 0;
  ForEachChar(rest, [&](size_t i, bool single) {
    if (single && IsSeparator(rest[i])) nameStart = i + 1;
  });
  std::string dir = rest.substr(0, nameStart);
  std::string name = rest.substr(nameStart);
  size_t dot = std::string::npos;
  ForEachChar(name, [&](size_t i, bool single) {
    if (single && name[i] == '.') dot = i;
  });
  std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
  // Nothing is cut: a cut name would be another file. Lengths are checked
  // where a target is accepted.
  title = name.substr(0, dot == std::string::npos ? name.size() : dot);

  size_t lead = 0;
  while (lead < dir.size() && dir[lead] == '\\') ++lead;
  directory = ZipPathTrimTrailing(dir.substr(lead), false);
  size_t dots = 0;
  while (dots < ext.size() && ext[dots] == '.') ++dots;
  extension = ext.substr(dots);
}

std::string CZipPathParts::GetFolderPath() const {
  std::string folder = prefix + drive;
  if (!drive.empty() && !directory.empty()) folder += '\\';
  return folder + directory;
}

std::string CZipPathParts::GetFileName() const { return extension.empty() ? title : title + "." + extension; }

std::string CZipPathParts::GetFullPath() const {
  std::string file = GetFileName();
  std::string full = GetFolderPath();
  // A bare file name stays relative rather than becoming rooted.
  if (!file.empty()) full += full.empty() ? file : "\\" + file;
  return full;
}

std::string CZipPathParts::GetPathWithoutDrive() const {
  std::string file = GetFileName();
  std::string path = directory;
  if (!directory.empty() && !file.empty()) path += '\\';
  return path + file;
}

std::string ZipPathTrimTrailing(const std::string& path, bool alsoSlash) {
  size_t keep = 0;
  ForEachChar(path, [&](size_t i, bool single) {
    bool trimmable = single && (path[i] == '\\' || (alsoSlash && path[i] == '/'));
    if (!trimmable) keep = single ? i + 1 : i + 2;
  });
  return path.substr(0, keep);
}

bool ZipPathStaysInside(const std::string& relative) {
  if (relative.empty()) return true;
  if (IsSeparator(relative[0])) return false;
  if (relative.size() >= 2 && relative[1] == ':') return false;
  // Checked both as characters and as bytes, so a lead byte before a
  // separator cannot hide a ".." part from either reading of the name.
  return !HasClimbingPart(relative, false) && !HasClimbingPart(relative, true);
}

bool ZipPathNamesOrdinaryTarget(const std::string& relative) {
  // ":" is never the second byte of a double-byte character: any byte counts.
  if (relative.find(':') != std::string::npos) return false;
  bool named = false;
  bool device = false;
  // Read as characters and as bytes, as for the climbing rule.
  for (bool byteWise : {false, true}) {
    ForEachPart(relative, byteWise, [&](const std::string& part) {
      if (qz::IsDeviceName(part)) device = true;
      if (!byteWise && !qz::TrimDotsAndBlanks(part).empty()) named = true;
    });
  }
  return named && !device;
}

bool ZipPathFits(const std::string& target, const std::string& relative, bool folderEntry) {
  if (target.size() > qz::kMaxPathLength) return false;
  const size_t folder = folderEntry ? target.size() : CZipPathParts(target).GetFolderPath().size();
  if (folder > qz::kMaxFolderPathLength) return false;
  bool fits = true;
  for (bool byteWise : {false, true})
    ForEachPart(relative, byteWise, [&](const std::string& part) {
      if (part.size() > qz::kMaxNamePart) fits = false;
    });
  return fits;
}

std::string ZipCheckedTarget(const std::string& name, const std::string& folder, bool keepFolders) {
  if (name.empty()) return std::string();
  const std::string base = folder.empty() ? folder : ZipPathTrimTrailing(folder, true) + "\\";
  CZipPathParts parts(ZipPathTrimTrailing(name, true));
  const std::string relative = keepFolders ? parts.GetPathWithoutDrive() : parts.GetFileName();
  const bool folderEntry = name.back() == '/' || name.back() == '\\';
  if (!ZipPathStaysInside(relative) || !ZipPathNamesOrdinaryTarget(relative) ||
      !ZipPathFits(base + relative, relative, folderEntry))
    return std::string();
  return base + relative;
}
