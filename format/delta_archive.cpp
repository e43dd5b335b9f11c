#include "format/delta_archive.h"

#include <set>
#include <utility>

namespace qz {

namespace {

// Longer than any name a game folder can hold; bounds a hostile index.
constexpr std::uint64_t kMaxDeltaNameBytes = 1024;

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

void PutNumber(std::string& out, std::uint64_t value) {
  do {
    const auto low = static_cast<char>(value & 0x7F);
    value >>= 7;
    out.push_back(static_cast<char>(low | (value ? 0x80 : 0)));
  } while (value);
}

void PutName(std::string& out, const std::string& name, std::string& previous) {
  std::size_t shared = 0;
  while (shared < name.size() && shared < previous.size() && name[shared] == previous[shared]) ++shared;
  PutNumber(out, shared);
  PutNumber(out, name.size() - shared);
  out.append(name, shared, std::string::npos);
  previous = name;
}

// Reads the index front to back; any read past its end fails the cursor.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : rest_(bytes), size_(bytes.size()) {}
  bool ok() const { return ok_; }
  std::size_t used() const { return size_ - rest_.size(); }
  bool done() const { return rest_.empty(); }
  std::uint64_t Number() {
    std::uint64_t value = 0;
    for (unsigned shift = 0; ok_; shift += 7) {
      if (rest_.empty() || shift > 63) return Fail();
      const auto byte = static_cast<unsigned char>(rest_.front());
      rest_.remove_prefix(1);
      if (shift == 63 && byte > 1) return Fail();
      value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if (!(byte & 0x80)) return value;
    }
    return 0;
  }
  Sha256Digest Digest() {
    Sha256Digest digest{};
    if (!ok_ || rest_.size() < digest.size()) return Fail(), digest;
    for (std::size_t k = 0; k < digest.size(); ++k) digest[k] = static_cast<std::uint8_t>(rest_[k]);
    rest_.remove_prefix(digest.size());
    return digest;
  }
  // A front-coded name: shared bytes of the one before, then its own.
  std::string Name(std::string& previous) {
    const std::uint64_t shared = Number();
    const std::uint64_t own = Number();
    if (!ok_ || shared > previous.size() || own > kMaxDeltaNameBytes || own > rest_.size()) return Fail(), "";
    previous = previous.substr(0, static_cast<std::size_t>(shared)) +
               std::string(rest_.substr(0, static_cast<std::size_t>(own)));
    rest_.remove_prefix(static_cast<std::size_t>(own));
    return previous;
  }

 private:
  std::uint64_t Fail() {
    ok_ = false;
    return 0;
  }
  std::string_view rest_;
  std::size_t size_;
  bool ok_ = true;
};

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

std::string DeltaIndexBytes(const DeltaIndex& index) {
  std::string body;
  PutNumber(body, index.patches.size());
  PutNumber(body, index.removed.size());
  for (const Sha256Digest* d : {&index.basesSha256, &index.resultsSha256}) {
    body.append(reinterpret_cast<const char*>(d->data()), d->size());
  }
  std::string previous;
  for (const DeltaPatch& p : index.patches) {
    PutNumber(body, p.baseBytes);
    PutNumber(body, p.resultBytes);
    PutNumber(body, p.frameBytes);
    PutName(body, p.name, previous);
  }
  for (const std::string& name : index.removed) PutName(body, name, previous);
  std::string out = kDeltaMagicPrefix + std::to_string(kDeltaVersion) + "\n";
  PutNumber(out, body.size());
  return out + body;
}

DeltaReading ReadDeltaIndex(std::string_view archive, std::uint64_t archiveBytes) {
  DeltaReading reading;
  auto refuse = [&reading](std::string why) {
    reading.problem = std::move(why);
    return reading;
  };
  constexpr std::string_view prefix = kDeltaMagicPrefix;
  if (archive.substr(0, prefix.size()) != prefix) return refuse("not a delta archive");
  const std::size_t lineEnd = archive.find('\n');
  const std::string_view version =
      archive.substr(prefix.size(), lineEnd == std::string_view::npos ? 0 : lineEnd - prefix.size());
  if (version != std::to_string(kDeltaVersion)) {
    return refuse("its index version " + std::string(version.substr(0, 10)) +
                  " is not known to this launcher (it reads " + std::to_string(kDeltaVersion) + ")");
  }
  Cursor head(archive.substr(lineEnd + 1, 10));
  const std::uint64_t indexBytes = head.Number();
  const std::uint64_t indexStart = lineEnd + 1 + head.used();
  if (!head.ok() || indexBytes > kMaxDeltaIndexBytes || indexStart + indexBytes > archive.size()) {
    return refuse("the index is cut short or too large");
  }
  Cursor in(archive.substr(static_cast<std::size_t>(indexStart), static_cast<std::size_t>(indexBytes)));
  const std::uint64_t patches = in.Number(), removals = in.Number();
  if (!in.ok() || patches > kMaxDeltaNames || removals > kMaxDeltaNames)
    return refuse("more than " + std::to_string(kMaxDeltaNames) + " names");
  DeltaIndex index;
  index.basesSha256 = in.Digest();
  index.resultsSha256 = in.Digest();
  std::set<std::string> seen;
  std::string previous;
  std::uint64_t frames = 0, runFiles = 0, runBases = 0, runResults = 0;
  bool runLarge = false;
  for (std::uint64_t k = 0; k < patches; ++k) {
    DeltaPatch p;
    p.baseBytes = in.Number();
    p.resultBytes = in.Number();
    p.frameBytes = in.Number();
    p.name = in.Name(previous);
    if (!in.ok()) return refuse("the index is cut short");
    if (p.frameBytes == 0 && index.patches.empty()) return refuse("a patch in no frame: " + p.name);
    if (!p.name.empty() && p.name.back() == '/') return refuse("a patch of a folder: " + p.name);
    if (!TakeName(p.name, seen, reading.problem)) return reading;
    if (p.frameBytes > archiveBytes - frames) return refuse("the frames are longer than the archive");
    frames += p.frameBytes;
    if (p.frameBytes > 0) runFiles = runBases = runResults = 0, runLarge = false;
    ++runFiles;
    runBases += p.baseBytes;
    runResults += p.resultBytes;
    runLarge = runLarge || p.baseBytes > kMaxDeltaRunFile || p.resultBytes > kMaxDeltaRunFile;
    // A run of several files is decoded in memory: only small ones, and not too many.
    if (runFiles > 1 && (runLarge || runBases > kMaxDeltaRunBytes || runResults > kMaxDeltaRunBytes)) {
      return refuse("a run of files over the limits of one decoded in memory: " + p.name);
    }
    index.patches.push_back(std::move(p));
  }
  for (std::uint64_t k = 0; k < removals; ++k) {
    std::string name = in.Name(previous);
    if (!in.ok()) return refuse("the index is cut short");
    if (!TakeName(name, seen, reading.problem)) return reading;
    index.removed.push_back(std::move(name));
  }
  if (!in.done()) return refuse("the index is longer than its entries");
  const std::uint64_t at = indexStart + indexBytes;
  if (archiveBytes < at || archiveBytes - at != frames) return refuse("the frames do not fill the archive");
  std::uint64_t offset = at, frameStart = at;
  for (DeltaPatch& p : index.patches) {
    if (p.frameBytes > 0) frameStart = offset;
    p.frameOffset = frameStart;
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
