#include "format/delta_archive.h"

#include <set>

namespace qz {

namespace {

// Whole decimal numbers only, at most 19 digits (no overflow).
std::optional<std::uint64_t> NumberOf(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// The next blank-separated field of a line; the line keeps the rest.
std::string_view Field(std::string_view& line) {
  const std::size_t blank = line.find(' ');
  const std::string_view field = line.substr(0, blank);
  line = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
  return field;
}

std::string LowerAscii(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// One name per line, each by the name rules and given once whatever its
// case (Windows would take two spellings for one file).
bool TakeName(std::string_view name, std::set<std::string>& seen, std::string& problem) {
  if (!IsDeltaName(name)) {
    problem = "a name that may not be used: " + std::string(name);
    return false;
  }
  if (!seen.insert(LowerAscii(name)).second) {
    problem = "a name given twice: " + std::string(name);
    return false;
  }
  if (seen.size() > kMaxDeltaNames) {
    problem = "more than " + std::to_string(kMaxDeltaNames) + " names";
    return false;
  }
  return true;
}

}  // namespace

bool IsDeltaName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  if (name.size() > 1 && name[1] == ':') return false;
  if (name == kRemovedListName) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  // A folder's name ends in one '/'; no part is empty, "." or "..".
  std::string_view rest = name.back() == '/' ? name.substr(0, name.size() - 1) : name;
  for (;;) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string_view::npos) return true;
    rest = rest.substr(slash + 1);
  }
}

std::string DeltaIndexText(const DeltaIndex& index) {
  std::string text = kDeltaMagic;
  for (const DeltaPatch& p : index.patches) {
    text += "patch " + std::to_string(p.baseBytes) + " " + ToHex(p.baseSha256) + " " + std::to_string(p.resultBytes) +
            " " + ToHex(p.resultSha256) + " " + std::to_string(p.frameBytes) + " " + p.name + "\n";
  }
  for (const std::string& name : index.removed) text += "remove " + name + "\n";
  return text + "end\n";
}

DeltaReading ReadDeltaIndex(std::string_view archive, std::uint64_t archiveBytes) {
  DeltaReading reading;
  auto refuse = [&reading](std::string why) {
    reading.problem = std::move(why);
    return reading;
  };
  constexpr std::string_view magic = kDeltaMagic;
  if (archive.substr(0, magic.size()) != magic) return refuse("not a delta archive");
  DeltaIndex index;
  std::set<std::string> seen;
  std::size_t at = magic.size();
  std::uint64_t frames = 0;
  for (;;) {
    const std::size_t end = archive.find('\n', at);
    if (end == std::string_view::npos || end >= kMaxDeltaIndexBytes) return refuse("the index has no end");
    std::string_view line = archive.substr(at, end - at);
    at = end + 1;
    if (line == "end") break;
    const std::string_view kind = Field(line);
    if (kind == "remove") {
      if (!TakeName(line, seen, reading.problem)) return reading;
      index.removed.emplace_back(line);
    } else if (kind == "patch") {
      if (!index.removed.empty()) return refuse("a patch line after the removals");
      DeltaPatch p;
      const auto baseBytes = NumberOf(Field(line));
      const auto baseSha = ParseSha256Hex(Field(line));
      const auto resultBytes = NumberOf(Field(line));
      const auto resultSha = ParseSha256Hex(Field(line));
      const auto frameBytes = NumberOf(Field(line));
      if (!baseBytes || !baseSha || !resultBytes || !resultSha || !frameBytes || *frameBytes == 0) {
        return refuse("a malformed patch line");
      }
      if (!line.empty() && line.back() == '/') return refuse("a patch of a folder: " + std::string(line));
      if (!TakeName(line, seen, reading.problem)) return reading;
      p.name = std::string(line);
      p.baseBytes = *baseBytes;
      p.baseSha256 = *baseSha;
      p.resultBytes = *resultBytes;
      p.resultSha256 = *resultSha;
      p.frameBytes = *frameBytes;
      if (*frameBytes > archiveBytes - frames) return refuse("the frames are longer than the archive");
      frames += *frameBytes;
      index.patches.push_back(std::move(p));
    } else {
      return refuse("an unknown line: " + std::string(kind));
    }
  }
  if (archiveBytes < at || archiveBytes - at != frames) return refuse("the frames do not fill the archive");
  std::uint64_t offset = at;
  for (DeltaPatch& p : index.patches) {
    p.frameOffset = offset;
    offset += p.frameBytes;
  }
  reading.index = std::move(index);
  return reading;
}

std::string RemovedListText(const std::vector<std::string>& removed) {
  std::string text;
  for (const std::string& name : removed) text += name + "\n";
  return text;
}

std::optional<std::vector<std::string>> ReadRemovedList(std::string_view text, std::string* problem) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  std::string why;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (!TakeName(line, seen, why)) {
      if (problem) *problem = why;
      return std::nullopt;
    }
    names.emplace_back(line);
  }
  return names;
}

}  // namespace qz
