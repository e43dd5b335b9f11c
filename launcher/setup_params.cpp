#include "launcher/setup_params.h"

#include <vector>

#include "base/folders.h"
#include "base/param_text.h"
#include "format/ascii_case.h"
#include "format/windows_names.h"

namespace qz {

namespace {

// Walks key/value tokens: the first key in `keys` that a token begins with
// takes the next token as its value; any other token is passed over.
template <std::size_t N, typename Apply>
void TakeKeys(char* field, std::size_t width, const char* const (&keys)[N], Apply apply) {
  const std::vector<std::string_view> tokens =
      SplitInPlace(field, BoundedLength(field, width), "=&", SplitRule::EachSeparator);
  for (std::size_t i = 0; i < tokens.size();) {
    std::size_t key = 0;
    while (key < N && !StartsWith(tokens[i], keys[key])) ++key;
    if (key == N) {
      ++i;
      continue;
    }
    if (i + 1 >= tokens.size()) break;  // a key at the very end has no value
    apply(key, tokens[i + 1]);
    i += 2;
  }
}

enum LocationKey { kHKey, kRegPath, kRegName, kFileName };
constexpr const char* kLocationKeys[] = {"HKey", "RegPath", "RegName", "FileName"};
enum StartKey { kMutex, kParm };
constexpr const char* kStartKeys[] = {"Mutex", "Parm"};

// The first blank-separated word of the game's arguments.
std::string FirstWord(std::string_view text) {
  constexpr std::string_view blanks = " \t\n\v\f\r";
  const std::size_t begin = text.find_first_not_of(blanks);
  if (begin == std::string_view::npos) return {};
  const std::size_t end = text.find_first_of(blanks, begin);
  return std::string(text.substr(begin, end == std::string_view::npos ? end : end - begin));
}

std::vector<std::string_view> Parts(std::string_view path) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t slash = path.find('\\');
    parts.push_back(path.substr(0, slash));
    if (slash == std::string_view::npos) return parts;
    path.remove_prefix(slash + 1);
  }
}

// One part of a file path that names exactly itself (see CheckNamePart).
bool IsPlainPart(std::string_view part) { return CheckNamePart(part) == NameProblem::None; }

bool AllPlain(const std::vector<std::string_view>& parts) {
  for (std::string_view part : parts) {
    if (!IsPlainPart(part)) return false;
  }
  return true;
}

}  // namespace

bool IsGameRegistryPath(std::string_view regPath) {
  const std::vector<std::string_view> parts = Parts(regPath);
  for (std::string_view part : parts) {
    if (part.empty()) return false;
  }
  if (parts.size() < 2 || !SameAsciiCase(parts[0], "SOFTWARE")) return false;
  std::size_t vendor = 1;
  if (SameAsciiCase(parts[1], "WOW6432Node")) {
    if (parts.size() < 3) return false;
    vendor = 2;
  }
  for (const char* system : {"Microsoft", "Classes", "Policies", "AppDataLow"}) {
    if (SameAsciiCase(parts[vendor], system)) return false;
  }
  return true;
}

bool IsListedGameLocation(int hKeyIndex, std::string_view regPath, const std::vector<std::string>& listed) {
  const char* const roots[][2] = {{"HKCU", "HKEY_CURRENT_USER"}, {"HKLM", "HKEY_LOCAL_MACHINE"}};
  if (hKeyIndex < 1 || hKeyIndex > 2 || regPath.empty()) return false;
  for (const std::string& entry : listed) {
    const std::size_t slash = entry.find('\\');
    if (slash == std::string::npos) continue;
    const std::string_view root = std::string_view(entry).substr(0, slash);
    const char* const* names = roots[hKeyIndex - 1];
    if ((SameAsciiCase(root, names[0]) || SameAsciiCase(root, names[1])) &&
        SameAsciiCase(std::string_view(entry).substr(slash + 1), regPath)) {
      return true;
    }
  }
  return false;
}

bool IsGameProgram(std::string_view path) {
  constexpr std::string_view kExe = ".exe";
  const std::size_t slash = path.find_last_of('\\');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return name.size() > kExe.size() && SameAsciiCase(name.substr(name.size() - kExe.size()), kExe);
}

bool IsGameFileName(std::string_view fileName) { return AllPlain(Parts(fileName)); }

bool IsFullLocalPath(std::string_view path) {
  if (path.size() < 4 || AsciiLower(path[0]) < 'a' || AsciiLower(path[0]) > 'z' || path[1] != ':' ||
      path[2] != '\\') {
    return false;
  }
  return AllPlain(Parts(path.substr(3)));
}

bool IsInsideFolder(std::string_view path, std::string_view folder) {
  while (!folder.empty() && folder.back() == '\\') folder.remove_suffix(1);
  return path.size() > folder.size() && path[folder.size()] == '\\' &&
         SameAsciiCase(path.substr(0, folder.size()), folder);
}

SetupParameters ParseSetupParameters(LaunchBlock& block) {
  SetupParameters out;
  TakeKeys(block.AutoDownURL, sizeof block.AutoDownURL, kLocationKeys,
           [&](std::size_t key, std::string_view value) {
             switch (key) {
               case kHKey: out.hKeyIndex = static_cast<std::int16_t>(LeadingDecimal(value)); break;
               case kRegPath: CopyCut(out.regPath, std::string(value)); break;
               case kRegName: CopyCut(out.regName, std::string(value)); break;
               case kFileName:
                 if (!value.empty()) CopyCut(out.fileName, std::string(value));
                 break;
             }
           });
  TakeKeys(block.DataCookie, sizeof block.DataCookie, kStartKeys,
           [&](std::size_t key, std::string_view value) {
             switch (key) {
               case kMutex: out.useMutex = LeadingDecimal(value) != 0; break;
               case kParm:
                 CopyCut(out.parm, std::string(value));
                 // The name is taken only now, so "Mutex" must come first.
                 if (out.useMutex) CopyCut(out.mutexName, FirstWord(value));
                 break;
             }
           });
  return out;
}

bool GameLocationFromValue(const std::string& value, const char* fileName, std::string& dir,
                           std::string& exe) {
  std::string newDir;
  std::string newExe;
  if (*fileName == '\0') {
    newExe = value;
    const std::size_t slash = value.find_last_of('\\');
    if (slash != std::string::npos) newDir = value.substr(0, slash);
  } else {
    newDir = WithTrailingBackslash(value);
    newExe = newDir + fileName;
  }
  // A cut path would name another file; such a location is not used at all.
  if (!FitsField(newDir.size(), kPathField) || !FitsField(newExe.size(), kPathField)) return false;
  dir = newDir;
  exe = newExe;
  return true;
}

}  // namespace qz
