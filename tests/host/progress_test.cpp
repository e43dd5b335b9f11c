#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "base/run_log.h"
#include "update/download_pace.h"
#include "update/progress_text.h"
#include "update/version_decision.h"

namespace qz {
namespace {

TEST(VersionDecision, FirstMatchingRuleWins) {
  struct Case {
    unsigned installed, minVer, latest;
    Action action;
  } cases[] = {
      {0, 0, 0, Action::FullInstall},       {0, 100, 102, Action::FullInstall},  // not installed
      {105, 100, 102, Action::FullInstall},                                        // newer than the server knows
      {90, 100, 102, Action::FullInstall},                                         // too old for patches
      {100, 100, 102, Action::Upgrade},     {101, 100, 102, Action::Upgrade},     {102, 100, 102, Action::None},
      {65535, 0, 65535, Action::None},      {1, 2, 1, Action::FullInstall},       // below minimum beats equal
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecideVersionAction(c.installed, c.minVer, c.latest), c.action)
        << c.installed << " min " << c.minVer << " latest " << c.latest;
  }
}

TEST(Progress, PercentIsSafeForAnyTotals) {
  struct Case {
    std::uint64_t done, total;
    unsigned percent;
  } cases[] = {
      {0, 0, 0},                 // nothing to fetch
      {0, 500, 0},     {250, 500, 50},  {500, 500, 100},  // under a kilobyte
      {1536, 3072, 33},  // whole kilobytes: 1 of 3
      {3 << 20, 3 << 20, 100},
      {0xFFFFFFFFull, 0xFFFFFFFFull, 100},                 // near 4 GiB
      {0xFFFFFFFFull / 2, 0xFFFFFFFFull, 49},
      {6ull << 30, 8ull << 30, 75},                         // beyond 32 bits
      {2000, 1000, 100},                                    // more than announced
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
  }
}

TEST(Progress, CountAndSpeedLines) {
  EXPECT_EQ(CountLine(1, 3, 0, 3u << 20), L"ダウンロード中... 1/3 files (0.00/3.00 MB)");
  EXPECT_EQ(CountLine(3, 3, 3u << 20, 3u << 20), L"ダウンロード中... 3/3 files (3.00/3.00 MB)");
  EXPECT_EQ(CountLine(2, 10, 1572864, 0xFFFFFFFFull), L"ダウンロード中... 2/10 files (1.50/4096.00 MB)");
  EXPECT_EQ(SpeedLine(123456, 1000), L"転送速度: 123.5 KB");
  EXPECT_EQ(SpeedLine(5000, 0), L"転送速度: 5000.0 KB") << "no division by zero in the first millisecond";
  EXPECT_EQ(CutStatus(std::wstring(400, L'x')).size(), kStatusTextMax);
}

TEST(Progress, ReadsGrowOnAFastLinkAndShrinkOnASlowOne) {
  const struct {
    std::uint32_t asked, got;
    double ms;
    std::uint32_t next;
  } cases[] = {
      {64 << 10, 64 << 10, 1, 128 << 10},          // filled at once: twice as much
      {1 << 20, 1 << 20, 1, 1 << 20},              // never above the largest
      {64 << 10, 30 << 10, 1, 64 << 10},           // what was there: unchanged
      {64 << 10, 64 << 10, 30, 64 << 10},          // near the aim: unchanged
      {1 << 20, 1 << 20, 1000, 16 << 10},          // 1 MB/s: about 25 ms per read
      {64 << 10, 64 << 10, 100000, 4 << 10},       // a crawl: never below the smallest
      {256 << 10, 100 << 10, 200, 32 << 10},       // slow and short: in proportion
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NextReadSize(c.asked, c.got, c.ms), c.next) << c.asked << " " << c.got << " " << c.ms;
  }
}

TEST(Progress, ArchivesAreRecognisedByTheirLastExtension) {
  struct Case {
    const char* path;
    bool zip;
  } cases[] = {
      {"http://h/p/patch101.zip", true}, {"http://h/FULL.ZIP", true}, {"C:\\t\\a.Zip", true},
      {"http://h/setup.exe", false},     {"http://h/a.zip.exe", false}, {"http://h/zip", false},
      {"http://h/a.zipx", false},        {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(HasZipExtension(c.path), c.zip) << c.path;
  EXPECT_FALSE(HasZipExtension(nullptr));
}

TEST(Progress, LocalNamesStayInsideTheWorkFolder) {
  struct Case {
    const char* url;
    const char* name;
  } cases[] = {
      {"http://h/dir/setup.exe", "setup.exe"},
      {"http://h/dir/a%20b.zip", "a%20b.zip"},
      {"http://h/..\\..\\Windows\\evil.exe", "evil.exe"},
      {"http://h/file.zip?x=1#frag", "file.zip"},
      {"http://h/dir/", "download"},
      {"nourl", "nourl"},
      {"http://h/..", "download"},
      {"http://h/c:evil", "c_evil"},
      {"", "download"},
  };
  for (const Case& c : cases) EXPECT_EQ(LocalNameForUrl(c.url), c.name) << c.url;
}

// Each file of a run gets its own name, and the name it is saved under keeps
// the extension that decides "archive or program".
TEST(Progress, EveryFileOfARunGetsItsOwnName) {
  using Files = std::vector<std::pair<std::uint16_t, std::string>>;
  struct Case {
    const char* id;
    Files files;
    bool prefix;
    std::vector<std::string> names;
    std::vector<bool> archives;
  } cases[] = {
      {"full installer keeps its name", {{100, "https://h/full/VeltoSetup.exe"}}, false, {"VeltoSetup.exe"}, {false}},
      {"signed query", {{101, "https://cdn/patch.zip?sig=ab/c.exe&x=1"}}, true, {"101_patch.zip"}, {true}},
      {"fragment", {{101, "https://cdn/patch.zip#part.exe"}}, true, {"101_patch.zip"}, {true}},
      {"query hides no program", {{101, "https://cdn/get.php?f=patch.zip"}}, true, {"101_get.php"}, {false}},
      {"same last part", {{101, "https://h/v101/patch.zip"}, {102, "https://h/v102/patch.zip"}}, true,
       {"101_patch.zip", "102_patch.zip"}, {true, true}},
      {"same version and name", {{101, "https://a/p.zip"}, {101, "https://b/P.ZIP"}, {101, "https://c/p.zip?x"}},
       true, {"101_p.zip", "2_101_P.ZIP", "3_101_p.zip"}, {true, true, true}},
      {"unprefixed collision", {{0, "https://a/x.bin"}, {0, "https://b/X.bin"}}, false, {"x.bin", "2_X.bin"},
       {false, false}},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> names = LocalNamesForRun(c.files, c.prefix);
    EXPECT_EQ(names, c.names) << c.id;
    for (std::size_t i = 0; i < names.size() && i < c.archives.size(); ++i) {
      EXPECT_EQ(HasZipExtension(names[i].c_str()), c.archives[i]) << c.id << " " << names[i];
    }
  }
}

// One step is one line of the support log, and a full log is cut at a line.
TEST(SupportLog, StepsStayOneLineAndTheLogIsCutBetweenLines) {
  EXPECT_EQ(runlog::LineText("T", "download", "a\r\nb\tc"), "T [download] a  b c\r\n");
  struct Case {
    const char* content;
    std::size_t newer;
  } cases[] = {
      {"aaaa\nbbbb\ncccc\ndddd\n", 10},  // the line after the middle
      {"one line without end", 20},       // nothing to keep: all moves
      {"", 0},
      {"x\n", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(runlog::NewerHalfStart(c.content), c.newer) << c.content;
}

// A signed address's token never reaches the log: every address loses its
// query and fragment, wherever it stands in the line.
TEST(SupportLog, AddressesLoseTheirQueries) {
  const struct {
    const char* text;
    const char* logged;
  } cases[] = {
      {"GET https://cdn/p.zip?sig=abc&exp=1: status 200", "GET https://cdn/p.zip: status 200"},
      {"https://cdn/a#frag -> C:\\t\\a", "https://cdn/a -> C:\\t\\a"},
      {"\"http://127.0.0.1:8080/x?t=1\" and https://b/y?u=2", "\"http://127.0.0.1:8080/x\" and https://b/y"},
      {"HEAD https://cdn/p.zip: status 200", "HEAD https://cdn/p.zip: status 200"},
      {"no address? here#", "no address? here#"},
  };
  for (const auto& c : cases) EXPECT_EQ(runlog::WithoutQueries(c.text), c.logged) << c.text;
  EXPECT_EQ(runlog::LineText("T", "size", "GET https://h/p?k=s"), "T [size] GET https://h/p\r\n");
}

// The elevated copy's lines travel back in a room of shared memory: whole
// lines only, never past the room, whatever count the room holds.
TEST(SupportLog, RoomKeepsWholeLinesWithinItsSize) {
  char room[4 + 10] = {};
  EXPECT_EQ(runlog::RoomText(room, sizeof room), "");
  EXPECT_TRUE(runlog::AppendToRoom(room, sizeof room, "abcd\n"));
  EXPECT_TRUE(runlog::AppendToRoom(room, sizeof room, "ef\n"));
  EXPECT_FALSE(runlog::AppendToRoom(room, sizeof room, "ghij\n")) << "does not fit";
  EXPECT_TRUE(runlog::AppendToRoom(room, sizeof room, "g\n"));
  EXPECT_EQ(runlog::RoomText(room, sizeof room), "abcd\nef\ng\n");
  EXPECT_FALSE(runlog::AppendToRoom(room, sizeof room, "h"));

  std::memset(room, 0xFF, 4);  // a count no writer could have left
  EXPECT_EQ(runlog::RoomText(room, sizeof room).size(), 10u);
  EXPECT_FALSE(runlog::AppendToRoom(room, sizeof room, "x"));
  EXPECT_FALSE(runlog::AppendToRoom(room, 3, "x"));
  EXPECT_EQ(runlog::RoomText(room, 3), "");
}

// A try that crawls is a stall; only a try that leaves the file larger than
// it ever was goes on at once; the pauses and the cap end everything else.
TEST(DownloadPace, StallsAreWholeWindowsUnderThePace) {
  StallWatch watch(1000, 1024);
  watch.Start(0);
  const struct {
    double at;
    std::uint64_t bytes;
    bool stalled;
  } steps[] = {
      {500, 0, false},      // the window has not passed
      {1000, 1024, false},  // exactly the pace: the next window opens
      {1900, 1030, false},
      {2100, 1900, true},   // 876 bytes over 1.1 s
  };
  for (const auto& s : steps) EXPECT_EQ(watch.Stalled(s.at, s.bytes), s.stalled) << s.at;
  StallWatch trickle;  // a byte every 29 s, against a minute's window
  trickle.Start(0);
  EXPECT_FALSE(trickle.Stalled(29000, 1));
  EXPECT_TRUE(trickle.Stalled(87000, 3));
}

TEST(DownloadPace, OnlyGrowthBeyondTheMostHeldGoesOnAtOnce) {
  using N = TryBudget::Next;
  const struct {
    const char* name;
    std::vector<std::pair<std::uint64_t, bool>> tries;  // held after, stalled
    std::vector<N::Kind> next;
  } cases[] = {
      {"growing tries go on and start the pauses anew", {{10, false}, {10, false}, {20, false}, {20, false}},
       {N::AtOnce, N::Pause, N::AtOnce, N::Pause}},
      {"a short body from the start is never progress", {{10, false}, {10, false}, {10, false}, {10, false}},
       {N::AtOnce, N::Pause, N::Pause, N::GiveUp}},
      {"a try that starts over short of the most is no progress", {{50, false}, {40, false}, {60, false}},
       {N::AtOnce, N::Pause, N::AtOnce}},
      {"a stall that grew still pauses", {{5, true}, {6, true}, {7, true}}, {N::Pause, N::Pause, N::GiveUp}},
  };
  for (const auto& c : cases) {
    TryBudget budget(2, 100);
    for (std::size_t i = 0; i < c.tries.size(); ++i) {
      EXPECT_EQ(budget.AfterTry(c.tries[i].first, c.tries[i].second).kind, c.next[i]) << c.name << ", try " << i;
    }
  }
  TryBudget capped(2, 3);  // always growing, yet capped
  EXPECT_EQ(capped.AfterTry(1).kind, N::AtOnce);
  EXPECT_EQ(capped.AfterTry(2).kind, N::AtOnce);
  EXPECT_EQ(capped.AfterTry(3).kind, N::GiveUp);
  EXPECT_EQ(capped.Text(3), "try 3 of at most 3, the file holds 3 bytes (most 2)");
}

// What goes back to the server in If-Range: a validator it could have sent.
TEST(DownloadPace, OnlyWellFormedValidatorsAreSentBack) {
  const struct {
    const char* validator;
    bool sendable;
  } cases[] = {
      {"\"abc-123\"", true},
      {"W/\"weak\"", true},
      {"\"\"", true},
      {"Tue, 08 Dec 2026 10:00:00 GMT", true},
      {"", false},
      {"abc", true},  // a date's characters only: harmless
      {"\"a\r\nX-Evil: 1\"", false},
      {"\"a\"\r\nX-Evil: 1", false},
      {"\"a b\"", false},
      {"\"a\"b\"", false},
      {"\"open", false},
      {"W/", false},
      {"Tue, 08 Dec\r\nRange: bytes=0-", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSendableValidator(c.validator), c.sendable) << c.validator;
}

}  // namespace
}  // namespace qz

namespace qz {
namespace {

// A link far faster than the cap, read as the worker reads it: the average
// stays within 10 % of the cap and no second carries twice the cap.
TEST(DownloadPace, RateCapHoldsTheAverageWithoutBursts) {
  for (const std::uint64_t cap : {1000ull * 1024, 10000ull * 1024, 50000ull * 1024}) {
    SCOPED_TRACE(cap);
    RatePacer pacer(cap);
    const std::uint32_t read = pacer.ReadSize(1 << 20);
    double now = 0;
    std::uint64_t total = 0;
    std::vector<std::uint64_t> perSecond(1, 0);
    while (now < 20000) {
      now += 0.2;  // the link delivers each read almost at once
      total += read;
      perSecond.resize(static_cast<std::size_t>(now / 1000) + 1, 0);
      perSecond.back() += read;
      now += pacer.AfterRead(now, read);
    }
    const double average = static_cast<double>(total) / (now / 1000);
    EXPECT_NEAR(average, static_cast<double>(cap), cap * 0.1);
    for (std::uint64_t bytes : perSecond) EXPECT_LE(bytes, 2 * cap);
  }
  EXPECT_EQ(RatePacer(0).AfterRead(5, 1 << 30), 0) << "no cap, no wait";
}

TEST(Progress, TimeLeftOnlyOnceTheRateIsSteady) {
  auto at = [](double kbPerMsFirst, double kbPerMsLater, double untilMs) {
    RateWindow w;
    double bytes = 0;
    for (double t = 0; t <= untilMs; t += 100) {
      w.Add(t, static_cast<std::uint64_t>(bytes));
      bytes += 100 * 1024 * (t < untilMs / 2 ? kbPerMsFirst : kbPerMsLater);
    }
    return w.SecondsLeft(60ull * 1000 * 1024);
  };
  const struct {
    const char* id;
    std::optional<std::uint64_t> left;
  } cases[] = {
      {"steady 1 MB/s over the window", at(1, 1, 8000)},
      {"window not yet full", at(1, 1, 4000)},
      {"rate down to a third in the newer half", at(1, 0.3, 8000)},
      {"stalled in the newer half", at(1, 0, 8000)},
  };
  EXPECT_EQ(cases[0].left, std::optional<std::uint64_t>(60)) << cases[0].id;
  for (int k = 1; k < 4; ++k) EXPECT_FALSE(cases[k].left) << cases[k].id;
  EXPECT_EQ(TimeLeftLine(0), L"残り時間: 約 1 秒");
  EXPECT_EQ(TimeLeftLine(150), L"残り時間: 約 3 分");
  EXPECT_EQ(TimeLeftLine(3 * 3600 + 61), L"残り時間: 約 3 時間 2 分");
}

}  // namespace
}  // namespace qz
