// What the wizard's progress page shows while files arrive, computed without
// the system so the figures can be checked exactly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qz {

// Percent of the run's bytes received, 0..100. Whole kilobytes as the product
// always counted them; totals under one kilobyte and received counts above
// the total are handled.
unsigned ProgressPercent(std::uint64_t downloaded, std::uint64_t total);

// "ダウンロード中... 1/3 files (0.00/3.00 MB)"
std::wstring CountLine(int fileNumber, int fileCount, std::uint64_t downloaded, std::uint64_t total);
// "転送速度: 12.3 KB": bytes per millisecond over the time given.
std::wstring SpeedLine(std::uint64_t downloaded, std::uint32_t elapsedMs);

// "残り時間: 約 25 分": whole minutes (seconds under two minutes, hours and
// minutes from an hour on), rounded up.
std::wstring TimeLeftLine(std::uint64_t seconds);

// The rate of a run over its last few seconds (not since its start, which a
// size pass and pauses drag down), and the time left at that rate once it is
// steady: the window is full and its newer half ran within a quarter of the
// whole window's rate.
class RateWindow {
 public:
  static constexpr double kWindowMs = 6000;
  // The run had received `bytes` (counting up) at `nowMs`.
  void Add(double nowMs, std::uint64_t bytes);
  // Bytes a millisecond over the window; 0 before it has two samples.
  double Rate() const;
  // Seconds for `remaining` bytes at that rate; nothing while it is not steady.
  std::optional<std::uint64_t> SecondsLeft(std::uint64_t remaining) const;

 private:
  double RateSince(double fromMs) const;
  std::vector<std::pair<double, std::uint64_t>> samples_;  // oldest first, one per 100 ms at most
};

// How many bytes the next network read asks for. Reads follow the link: on a
// fast one each asks for up to kLargestRead, so a large file costs few calls;
// on a slow one they shrink, so no read keeps the progress page unchanged
// much longer than its 100 ms refresh. `got` bytes of `asked` took `elapsedMs`.
constexpr std::uint32_t kFirstRead = 64u << 10;
constexpr std::uint32_t kSmallestRead = 4u << 10;
constexpr std::uint32_t kLargestRead = 1u << 20;
std::uint32_t NextReadSize(std::uint32_t asked, std::uint32_t got, double elapsedMs);

// A status text longer than the line can hold is cut, never overrun.
constexpr std::size_t kStatusTextMax = 259;
std::wstring CutStatus(std::wstring text);

// The file's extension (after the last ".") is "zip" in any letter case.
bool HasZipExtension(const char* pathOrUrl);

// The local file name for a download: the URL's last part, made safe to use
// inside the work folder (no folder parts, no characters Windows refuses, no
// query); "download" when nothing usable is left.
std::string LocalNameForUrl(const char* url);

// The local names of one run's files (version, URL), in order, each unique
// within the run in any letter case, so no download overwrites another. With
// versionPrefix each name starts with its file's version ("101_patch.zip"):
// patches of different releases often share their last URL part. A name still
// taken gets a number in front ("2_101_patch.zip"). The extension is kept, so
// "archive or program" (HasZipExtension) is decided from the saved name.
std::vector<std::string> LocalNamesForRun(const std::vector<std::pair<std::uint16_t, std::string>>& files,
                                          bool versionPrefix);

}  // namespace qz
