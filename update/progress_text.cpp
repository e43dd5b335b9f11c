#include "update/progress_text.h"

#include <cctype>
#include <cstring>
#include <cwchar>
#include <set>

namespace qz {

unsigned ProgressPercent(std::uint64_t downloaded, std::uint64_t total) {
  if (total == 0) return 0;
  std::uint64_t kbDone = downloaded >> 10;
  std::uint64_t kbTotal = total >> 10;
  if (kbTotal == 0) {  // under a kilobyte: count bytes instead
    kbDone = downloaded;
    kbTotal = total;
  }
  const std::uint64_t percent = kbDone * 100 / kbTotal;
  return percent > 100 ? 100u : static_cast<unsigned>(percent);
}

std::uint32_t NextReadSize(std::uint32_t asked, std::uint32_t got, double elapsedMs) {
  constexpr double kAimMs = 25;
  std::uint32_t next = asked;
  if (got == asked && elapsedMs < kAimMs / 2) {
    next = asked * 2;  // the buffer filled quickly: the link has more to give
  } else if (elapsedMs > kAimMs * 2) {
    // Slower than aimed: shrink in proportion, to a power of two.
    const double fits = asked * kAimMs / elapsedMs;
    next = kSmallestRead;
    while (next * 2 <= fits && next < kLargestRead) next *= 2;
  }
  return next < kSmallestRead ? kSmallestRead : next > kLargestRead ? kLargestRead : next;
}

std::wstring CutStatus(std::wstring text) {
  if (text.size() > kStatusTextMax) text.resize(kStatusTextMax);
  return text;
}

std::wstring CountLine(int fileNumber, int fileCount, std::uint64_t downloaded, std::uint64_t total) {
  wchar_t line[kStatusTextMax + 1];
  std::swprintf(line, kStatusTextMax + 1, L"ダウンロード中... %d/%d files (%.2f/%.2f MB)", fileNumber,
                fileCount, static_cast<double>(downloaded) / 1048576.0,
                static_cast<double>(total) / 1048576.0);
  return line;
}

std::wstring SpeedLine(std::uint64_t downloaded, std::uint32_t elapsedMs) {
  wchar_t line[64];
  const double perMs = static_cast<double>(downloaded) / static_cast<double>(elapsedMs ? elapsedMs : 1);
  std::swprintf(line, 64, L"転送速度: %.1f KB", perMs);
  return line;
}

std::wstring TimeLeftLine(std::uint64_t seconds) {
  wchar_t line[64];
  if (seconds < 120) {
    std::swprintf(line, 64, L"残り時間: 約 %u 秒", static_cast<unsigned>(seconds < 1 ? 1 : seconds));
  } else if (seconds < 3600) {
    std::swprintf(line, 64, L"残り時間: 約 %u 分", static_cast<unsigned>((seconds + 59) / 60));
  } else {
    const std::uint64_t minutes = (seconds + 59) / 60;
    std::swprintf(line, 64, L"残り時間: 約 %llu 時間 %u 分", static_cast<unsigned long long>(minutes / 60),
                  static_cast<unsigned>(minutes % 60));
  }
  return line;
}

void RateWindow::Add(double nowMs, std::uint64_t bytes) {
  if (!samples_.empty() && nowMs - samples_.back().first < 100) {
    samples_.back().second = bytes;  // the newest sample moves on
    if (samples_.size() > 1) samples_.back().first = nowMs;
    return;
  }
  samples_.emplace_back(nowMs, bytes);
  // Keep one sample older than the window, so the window is whole.
  std::size_t drop = 0;
  while (drop + 1 < samples_.size() && nowMs - samples_[drop + 1].first >= kWindowMs) ++drop;
  samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
}

double RateWindow::RateSince(double fromMs) const {
  if (samples_.size() < 2) return 0;
  std::size_t first = 0;
  while (first + 1 < samples_.size() && samples_[first + 1].first <= fromMs) ++first;
  const auto& a = samples_[first];
  const auto& b = samples_.back();
  if (b.first <= a.first) return 0;
  return static_cast<double>(b.second - a.second) / (b.first - a.first);
}

double RateWindow::Rate() const {
  return samples_.size() < 2 ? 0 : RateSince(samples_.back().first - kWindowMs);
}

std::optional<std::uint64_t> RateWindow::SecondsLeft(std::uint64_t remaining) const {
  if (samples_.size() < 2 || samples_.back().first - samples_.front().first < kWindowMs) return std::nullopt;
  const double whole = Rate();
  const double newer = RateSince(samples_.back().first - kWindowMs / 2);
  if (whole <= 0 || newer <= 0 || newer < whole * 0.75 || newer > whole * 1.25) return std::nullopt;
  return static_cast<std::uint64_t>(static_cast<double>(remaining) / whole / 1000.0 + 0.5);
}

bool HasZipExtension(const char* path) {
  if (!path) return false;
  const char* dot = std::strrchr(path, '.');
  if (!dot) return false;
  const char* ext = dot + 1;
  return std::strlen(ext) == 3 && std::tolower(static_cast<unsigned char>(ext[0])) == 'z' &&
         std::tolower(static_cast<unsigned char>(ext[1])) == 'i' &&
         std::tolower(static_cast<unsigned char>(ext[2])) == 'p';
}

std::string LocalNameForUrl(const char* url) {
  std::string name = url ? url : "";
  const size_t cut = name.find_first_of("?#");
  if (cut != std::string::npos) name.resize(cut);
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::strchr("<>:\"|?*", c)) c = '_';
  }
  // Names Windows trims or treats as folders ("", ".", "..", trailing dots or blanks).
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  if (name.empty()) name = "download";
  return name;
}

namespace {
std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}
}  // namespace

std::vector<std::string> LocalNamesForRun(const std::vector<std::pair<std::uint16_t, std::string>>& files,
                                          bool versionPrefix) {
  std::vector<std::string> names;
  std::set<std::string> taken;
  for (const auto& [version, url] : files) {
    std::string base = LocalNameForUrl(url.c_str());
    if (versionPrefix) base = std::to_string(version) + "_" + base;
    std::string name = base;
    for (int n = 2; taken.count(Lower(name)) != 0; ++n) name = std::to_string(n) + "_" + base;
    taken.insert(Lower(name));
    names.push_back(name);
  }
  return names;
}

}  // namespace qz
