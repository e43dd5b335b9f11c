// The update manifest read from text against a stand-in installation record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "format/limits.h"
#include "format/manifest.h"
#include "update/manifest.h"

namespace qz {
namespace {

struct State {
  std::map<std::string, std::uint16_t> records;  // installed versions by program name
  std::vector<std::string> lookups;
  ManifestReading reading;

  ManifestOutcome Parse(const std::string& text) {
    reading = ReadManifest(text, [this](const std::string& name) {
      lookups.push_back(name);
      auto it = records.find(name);
      return it == records.end() ? std::uint16_t{0} : it->second;
    });
    return reading.outcome;
  }
  const ManifestPlan& plan() const { return reading.plan; }
  std::string Files() const {  // "version:url" in list order
    std::string out;
    for (const auto& f : plan().files) out += (out.empty() ? "" : " ") + std::to_string(f.version) + ":" + f.url;
    return out;
  }
};

const std::string kHead = "[VLTWUpdateFile]\r\n";
const std::string kBase = "UpBaseURL http://dl.example/g/\r\n";

TEST(Manifest, VersionsAndFiles) {
  struct Case {
    const char* id;
    std::string text;
    int installed;  // record of "game", -1 for none
    int latest;
    const char* files;
  } cases[] = {
      {"newer entries taken out of order", kHead + "ProgName game " + kBase +
           "UpFileList 102 p102.zip UpFileList 101 p101.zip",
       100, 102, "102:http://dl.example/g/p102.zip 101:http://dl.example/g/p101.zip"},
      {"nothing newer", kHead + "ProgName game " + kBase + "UpFileList 101 a UpFileList 102 b", 105, 105, ""},
      {"equal version skipped", kHead + "ProgName game " + kBase + "UpFileList 100 a UpFileList 101 b",
       100, 101, "101:http://dl.example/g/b"},
      {"no record takes everything", kHead + "ProgName game " + kBase + "UpFileList 7 a UpFileList 3 b",
       -1, 7, "7:http://dl.example/g/a 3:http://dl.example/g/b"},
      {"entries before ProgName judged against its record as well",
       kHead + kBase + "UpFileList 50 a UpFileList 200 b ProgName game UpFileList 101 c", 100, 200,
       "200:http://dl.example/g/b 101:http://dl.example/g/c"},
      {"70000 counts as 4464", kHead + "ProgName game " + kBase + "UpFileList 70000 a", 4463, 4464,
       "4464:http://dl.example/g/a"},
      {"16-bit comparison is unsigned", kHead + "ProgName game " + kBase + "UpFileList 65535 a", 32768,
       65535, "65535:http://dl.example/g/a"},
      {"braces separate like blanks", kHead + "ProgName{game}UpBaseURL{http://h/}UpFileList{101}{x.zip}",
       100, 101, "101:http://h/x.zip"},
      {"a skipped entry's file name is looked at as a key",
       kHead + "ProgName game " + kBase + "UpFileList 90 UpFileList 101 b", 100, 101,
       "101:http://dl.example/g/b"},
      {"an entry without its file name is ignored", kHead + "ProgName game " + kBase + "UpFileList 101",
       100, 100, ""},
      {"the base is the one known at the entry",
       kHead + "ProgName game UpBaseURL http://a/ UpFileList 101 x UpBaseURL http://b UpFileList 102 y",
       100, 102, "101:http://a/x 102:http://b/y"},
      {"a full address needs no base", kHead + "ProgName game UpFileList 101 https://c.example/z.zip", 100,
       101, "101:https://c.example/z.zip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    State s;
    if (c.installed >= 0) s.records["game"] = static_cast<std::uint16_t>(c.installed);
    ASSERT_EQ(s.Parse(c.text), ManifestOutcome::Read);
    EXPECT_EQ(s.plan().installedVer, c.installed < 0 ? 0 : c.installed);
    EXPECT_EQ(s.plan().latestVer, c.latest);
    EXPECT_EQ(s.Files(), c.files);
  }
}

TEST(Manifest, KeysAndValues) {
  State s;
  s.records["game"] = 100;
  ASSERT_EQ(s.Parse(kHead + "[Later] note ProgNameX game MinVer=5 7 FullDnURL http://dl.example/setup.exe"
                            " UpBaseURL http://dl.example/p"),
            ManifestOutcome::Read);
  EXPECT_EQ(s.plan().progName, "game") << "a token beginning with a key's name is that key";
  EXPECT_EQ(s.plan().minVer, 7) << "\"MinVer=5\" is one token: the value is the next token";
  EXPECT_EQ(s.plan().fullDnUrl, "http://dl.example/setup.exe");
  EXPECT_EQ(s.plan().upBaseUrl, "http://dl.example/p/");
  EXPECT_EQ(s.lookups, std::vector<std::string>{"game"});

  struct Num {
    const char* token;
    int minVer;
  } numbers[] = {{"70000", 4464}, {"-1", 65535}, {"12abc", 12}, {"abc", 0}, {"+3", 3}};
  for (const Num& n : numbers) {
    SCOPED_TRACE(n.token);
    State t;
    t.Parse(kHead + "MinVer " + n.token);
    EXPECT_EQ(t.plan().minVer, n.minVer);
  }

  // A base that ends in "/" stays as it is.
  State u;
  u.Parse(kHead + "UpBaseURL https://dl.example/p/");
  EXPECT_EQ(u.plan().upBaseUrl, "https://dl.example/p/");
}

TEST(Manifest, WithoutHeaderNothingIsTaken) {
  for (const char* text : {"", "   ", "[vltwupdatefile] MinVer 5", "x [VLTWUpdateFile] MinVer 5",
                           "VLTWUpdateFile MinVer 5"}) {
    SCOPED_TRACE(text);
    State s;
    EXPECT_EQ(s.Parse(text), ManifestOutcome::NoHeader);
    EXPECT_EQ(s.plan().minVer, 0);
    EXPECT_EQ(s.plan().progName, "");
    EXPECT_TRUE(s.lookups.empty());
  }
  State s;
  EXPECT_EQ(s.Parse("\r\n\t[VLTWUpdateFile]extra MinVer 5"), ManifestOutcome::Read);
  EXPECT_EQ(s.plan().minVer, 5);
}

TEST(Manifest, KeyAsLastTokenIsIgnored) {
  for (const char* key : {"ProgName", "FullDnURL", "UpBaseURL", "MinVer", "UpFileList"}) {
    SCOPED_TRACE(key);
    State s;
    EXPECT_EQ(s.Parse(kHead + "ProgName kept UpBaseURL http://kept/ MinVer 9 " + key), ManifestOutcome::Read);
    EXPECT_TRUE(s.reading.keyWithoutValues);
    EXPECT_EQ(s.plan().minVer, 9);
    EXPECT_EQ(s.plan().progName, "kept");
    EXPECT_EQ(s.plan().upBaseUrl, "http://kept/");
    EXPECT_TRUE(s.plan().files.empty());
  }
}

TEST(Manifest, OneProgNameDecidesWhereverItStands) {
  State s;
  s.records["other"] = 0;
  s.Parse(kHead + "ProgName other");
  EXPECT_EQ(s.plan().installedVer, 0) << "a program without a record";
  // The same plan whatever the order of its lines; a second program, even
  // hidden as a skipped entry's file name, refuses the text.
  const std::string files = kBase + "UpFileList 101 a UpFileList 105 b ";
  State first, last, twice, hidden;
  first.records["game"] = last.records["game"] = twice.records["game"] = hidden.records["game"] = 103;
  ASSERT_EQ(first.Parse(kHead + "ProgName game " + files), ManifestOutcome::Read);
  ASSERT_EQ(last.Parse(kHead + files + "ProgName game"), ManifestOutcome::Read);
  EXPECT_EQ(first.Files(), "105:http://dl.example/g/b");
  EXPECT_EQ(last.Files(), first.Files());
  EXPECT_EQ(last.plan().latestVer, 105);
  EXPECT_EQ(twice.Parse(kHead + "ProgName game " + files + "ProgName game"), ManifestOutcome::Refused);
  EXPECT_EQ(hidden.Parse(kHead + "ProgName game " + kBase + "UpFileList 90 ProgName other"),
            ManifestOutcome::Refused);
}

TEST(Manifest, ValuesThatDoNotFitOrAreNotWebAddressesFailTheFetch) {
  const std::string url259 = "http://h/" + std::string(250, 'u');
  struct Case {
    const char* id;
    std::string text;
    ManifestOutcome outcome;
  } cases[] = {
      {"program name of 19", "ProgName " + std::string(19, 'n'), ManifestOutcome::Read},
      {"program name of 20", "ProgName " + std::string(20, 'n'), ManifestOutcome::Refused},
      {"installer address of 259", "FullDnURL " + url259, ManifestOutcome::Read},
      {"installer address of 260", "FullDnURL " + url259 + "x", ManifestOutcome::Refused},
      {"base of 259 with its slash", "UpBaseURL " + url259.substr(0, 258), ManifestOutcome::Read},
      {"base of 260 with its slash", "UpBaseURL " + url259, ManifestOutcome::Refused},
      {"base plus name of 259", "UpBaseURL http://h/ UpFileList 1 " + std::string(250, 'f'),
       ManifestOutcome::Read},
      {"base plus name of 260", "UpBaseURL http://h/ UpFileList 1 " + std::string(251, 'f'),
       ManifestOutcome::Refused},
      {"too long but skipped entry", "UpBaseURL http://h/ ProgName game UpFileList 100 " +
           std::string(300, 'f'), ManifestOutcome::Read},
      {"local installer", "FullDnURL file:///C:/Windows/notepad.exe", ManifestOutcome::Refused},
      {"installer by path", "FullDnURL C:\\setup.exe", ManifestOutcome::Refused},
      {"other scheme base", "UpBaseURL ftp://h/", ManifestOutcome::Refused},
      {"file without base is a path", "UpFileList 101 C:\\patch.zip", ManifestOutcome::Refused},
      {"file under a local base", "UpBaseURL file:///C:/ UpFileList 101 p.zip", ManifestOutcome::Refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    State s;
    s.records["game"] = 100;
    EXPECT_EQ(s.Parse(kHead + c.text), c.outcome);
    // Whatever happens, every text fits its field.
    EXPECT_LT(s.plan().progName.size(), kProgNameField);
    EXPECT_LT(s.plan().fullDnUrl.size(), kPathField);
    EXPECT_LT(s.plan().upBaseUrl.size(), kPathField);
  }
}

TEST(Manifest, SortIsStableByVersion) {
  auto sorted = [](const std::string& text) {
    State s;
    s.Parse(text);
    UpdateList list = PlanOf(s.plan()).updateList;
    SortByVersion(list);
    return list;
  };
  std::string files;
  for (const auto& f : sorted(kHead + kBase + "UpFileList 5 e UpFileList 4 first4 UpFileList 3 c UpFileList 4 second4")) {
    files += (files.empty() ? "" : " ") + std::to_string(f.version) + ":" + f.url;
  }
  EXPECT_EQ(files,
            "3:http://dl.example/g/c 4:http://dl.example/g/first4 4:http://dl.example/g/second4 "
            "5:http://dl.example/g/e");

  // Long enough that an unstable sort would reorder equal versions.
  std::string text = kHead + kBase;
  for (int i = 0; i < 64; ++i) text += "UpFileList " + std::to_string(3 - i % 3) + " f" + std::to_string(i) + " ";
  const UpdateList big = sorted(text);
  for (std::size_t i = 1; i < big.size(); ++i) {
    const UpdateFile& a = big[i - 1];
    const UpdateFile& b = big[i];
    ASSERT_LE(a.version, b.version) << i;
    if (a.version == b.version) {
      ASSERT_LT(std::atoi(a.url.c_str() + a.url.rfind('f') + 1), std::atoi(b.url.c_str() + b.url.rfind('f') + 1)) << i;
    }
  }
}

TEST(Manifest, HashesBindToTheEntryBeforeThem) {
  const std::string h1(64, 'a'), h2 = std::string(63, '0') + "F";
  struct Case {
    const char* id;
    std::string text;
    ManifestOutcome outcome;
    const char* hashed;  // per listed file then the installer: 1 hashed, 0 not
  } cases[] = {
      {"installer and entry", kHead + "ProgName game FullDnURL http://h/s.exe SHA256 " + h1 + " " + kBase +
           "UpFileList 101 a.zip SHA256 " + h2, ManifestOutcome::Read, "1 1"},
      {"entry without one", kHead + "ProgName game " + kBase + "UpFileList 101 a UpFileList 102 b SHA256 " + h1,
       ManifestOutcome::Read, "0 1 0"},
      {"after a skipped entry binds to nothing", kHead + "ProgName game " + kBase +
           "UpFileList 101 a UpFileList 90 old SHA256 " + h1, ManifestOutcome::Read, "0 0"},
      {"after another key binds to nothing", kHead + "ProgName game FullDnURL http://h/s.exe MinVer 1 SHA256 " + h1,
       ManifestOutcome::Read, "0"},
      {"63 digits", kHead + "FullDnURL http://h/s.exe SHA256 " + h1.substr(1), ManifestOutcome::Refused, ""},
      {"65 digits", kHead + "FullDnURL http://h/s.exe SHA256 " + h1 + "a", ManifestOutcome::Refused, ""},
      {"not hex", kHead + "FullDnURL http://h/s.exe SHA256 " + std::string(63, 'a') + "g",
       ManifestOutcome::Refused, ""},
      {"malformed even when unbound", kHead + "SHA256 xyz", ManifestOutcome::Refused, ""},
      {"two for one file", kHead + "FullDnURL http://h/s.exe SHA256 " + h1 + " SHA256 " + h2,
       ManifestOutcome::Refused, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    State s;
    s.records["game"] = 100;
    ASSERT_EQ(s.Parse(c.text), c.outcome);
    if (c.outcome != ManifestOutcome::Read) continue;
    std::string hashed;
    for (const auto& f : s.plan().files) hashed += std::string(hashed.empty() ? "" : " ") + (f.sha256 ? "1" : "0");
    hashed += std::string(hashed.empty() ? "" : " ") + (s.plan().fullDnSha256 ? "1" : "0");
    EXPECT_EQ(hashed, c.hashed);
  }
  State s;
  s.Parse(kHead + "FullDnURL http://h/s.exe SHA256 " + h2);
  EXPECT_EQ((*s.plan().fullDnSha256)[31], 0x0F);
  EXPECT_EQ((*s.plan().fullDnSha256)[0], 0x00);
}

TEST(Manifest, OlderLaunchersPassOverHashes) {
  // A launcher that knows only the five keys treats a token as a key when it
  // begins with the key's name: neither "SHA256" nor any hash value does.
  for (const char* key : {"ProgName", "FullDnURL", "UpBaseURL", "MinVer", "UpFileList"}) {
    SCOPED_TRACE(key);
    EXPECT_NE(std::string("SHA256").rfind(key, 0), 0u);
    EXPECT_LT(std::strspn(key, "0123456789abcdefABCDEF"), std::strlen(key))
        << "a hash value could begin with this key";
  }
  // And what the known keys say is the same with or without the hashes.
  const std::string h(64, 'c');
  State with, without;
  with.records["game"] = without.records["game"] = 100;
  with.Parse(kHead + "ProgName game FullDnURL http://h/s.exe SHA256 " + h + " " + kBase +
             "UpFileList 90 old SHA256 " + h + " UpFileList 101 a SHA256 " + h);
  without.Parse(kHead + "ProgName game FullDnURL http://h/s.exe " + kBase + "UpFileList 90 old UpFileList 101 a");
  EXPECT_EQ(with.Files(), without.Files());
  EXPECT_EQ(with.plan().fullDnUrl, without.plan().fullDnUrl);
  EXPECT_EQ(with.plan().latestVer, without.plan().latestVer);
}

}  // namespace
}  // namespace qz

namespace qz {
namespace {

const std::string kSha(64, 'e');
// A bound manifest for the game "game", release 2025-06-01, valid a month.
const std::string kBound = kHead + "ProgName game Target game Serial 1748779200 Expires 2025-07-01T12:00Z " + kBase +
                           "UpFileList 101 a.zip SHA256 " + kSha + " Size 1010 ";

TEST(Manifest, BindingKeysAreReadOnceAndStrictly) {
  struct Case {
    const char* id;
    std::string text;
    ManifestOutcome outcome;
  } cases[] = {
      {"bound", kBound, ManifestOutcome::Read},
      {"size before hash", kHead + kBase + "UpFileList 101 a.zip Size 7 SHA256 " + kSha, ManifestOutcome::Read},
      {"largest serial and size", kHead + "Serial 4294967295 " + kBase + "UpFileList 1 a Size 4294967295",
       ManifestOutcome::Read},
      {"serial 0", kHead + "Serial 0", ManifestOutcome::Refused},
      {"serial over 32 bits", kHead + "Serial 4294967296", ManifestOutcome::Refused},
      {"serial with a sign", kHead + "Serial +5", ManifestOutcome::Refused},
      {"serial twice", kHead + "Serial 5 Serial 5", ManifestOutcome::Refused},
      {"expires with seconds", kHead + "Expires 2025-07-01T12:00:00Z", ManifestOutcome::Refused},
      {"expires without zone", kHead + "Expires 2025-07-01T12:00", ManifestOutcome::Refused},
      {"expires on 30 February", kHead + "Expires 2025-02-30T12:00Z", ManifestOutcome::Refused},
      {"expires twice", kHead + "Expires 2025-07-01T12:00Z Expires 2026-07-01T12:00Z", ManifestOutcome::Refused},
      {"target in capitals", kHead + "Target GAME", ManifestOutcome::Refused},
      {"target twice", kHead + "Target game Target avatar", ManifestOutcome::Refused},
      {"size 0", kHead + kBase + "UpFileList 1 a Size 0", ManifestOutcome::Refused},
      {"mirror with a query", kHead + "MirrorURL https://m.example/?s=1", ManifestOutcome::Refused},
      {"rollout over 100", kHead + "Rollout 101 101", ManifestOutcome::Refused},
      {"channel in capitals", kHead + "Channel Beta", ManifestOutcome::Refused},
      {"channel twice", kHead + "Channel beta Channel beta", ManifestOutcome::Refused},
      {"rollout twice", kHead + "Rollout 101 5 Rollout 101 6", ManifestOutcome::Refused},
      {"rollout share with a sign", kHead + "Rollout 101 +5", ManifestOutcome::Refused},
      {"mirror by path", kHead + "MirrorURL C:\\mirror\\", ManifestOutcome::Refused},
      {"nine mirrors", kHead + [] {
         std::string m;
         for (int k = 0; k < 9; ++k) m += "MirrorURL https://m" + std::to_string(k) + ".example/ ";
         return m;
       }(),
       ManifestOutcome::Refused},
      {"size twice", kHead + kBase + "UpFileList 1 a Size 5 SHA256 " + kSha + " Size 5", ManifestOutcome::Refused},
      {"size malformed after a skipped entry", kHead + "ProgName game " + kBase + "UpFileList 90 a Size x",
       ManifestOutcome::Refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    State s;
    s.records["game"] = 100;
    EXPECT_EQ(s.Parse(c.text), c.outcome);
  }
  State s;
  ASSERT_EQ(s.Parse(kBound), ManifestOutcome::Read);
  EXPECT_EQ(s.plan().serial, 1748779200u);
  EXPECT_EQ(s.plan().expires, 1751371200);
  EXPECT_EQ(s.plan().target, ManifestTarget::Game);
  ASSERT_EQ(s.plan().files.size(), 1u);
  EXPECT_EQ(s.plan().files[0].size, 1010u);
  EXPECT_EQ(PlanOf(s.plan()).updateList[0].size, 1010u);
  // A size after a skipped entry binds nothing and counts as nothing unbound.
  State skipped;
  skipped.records["game"] = 100;
  ASSERT_EQ(skipped.Parse(kHead + "ProgName game " + kBase + "UpFileList 90 a SHA256 " + kSha + " Size 9"),
            ManifestOutcome::Read);
  EXPECT_EQ(skipped.reading.unboundFileValues, 0u);
}

TEST(Manifest, SignedManifestIsBoundToCheckProgramOrderAndTime) {
  const std::int64_t june = 1749000000;  // 2025-06-04, before Expires
  struct Case {
    const char* id;
    std::string text;
    ManifestTarget target;
    const char* pageProg;
    std::optional<std::uint32_t> highest;
    std::int64_t now;
    BindingProblem problem;
  } cases[] = {
      {"bound", kBound, ManifestTarget::Game, "game", std::nullopt, june, BindingProblem::None},
      {"page named no program", kBound, ManifestTarget::Game, "", std::nullopt, june, BindingProblem::None},
      {"page's name in other case", kBound, ManifestTarget::Game, "GAME", std::nullopt, june, BindingProblem::None},
      {"same serial again", kBound, ManifestTarget::Game, "game", 1748779200u, june, BindingProblem::None},
      {"game's manifest at the avatar address", kBound, ManifestTarget::Avatar, "", std::nullopt, june,
       BindingProblem::WrongTarget},
      {"another game's manifest", kBound, ManifestTarget::Game, "other", std::nullopt, june,
       BindingProblem::OtherProgram},
      {"rollback", kBound, ManifestTarget::Game, "game", 1748779201u, june, BindingProblem::Rollback},
      {"expired", kBound, ManifestTarget::Game, "game", std::nullopt, 1751371200, BindingProblem::Expired},
      {"no serial", kHead + "ProgName game Target game Expires 2025-07-01T12:00Z", ManifestTarget::Game, "",
       std::nullopt, june, BindingProblem::Missing},
      {"no target", kHead + "ProgName game Serial 1 Expires 2025-07-01T12:00Z", ManifestTarget::Game, "",
       std::nullopt, june, BindingProblem::Missing},
      {"no program", kHead + "Target game Serial 1 Expires 2025-07-01T12:00Z", ManifestTarget::Game, "",
       std::nullopt, june, BindingProblem::Missing},
      {"installer without size", kBound + "FullDnURL http://h/s.exe SHA256 " + kSha, ManifestTarget::Game, "",
       std::nullopt, june, BindingProblem::Missing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    State s;
    s.records["game"] = 100;
    ASSERT_EQ(s.Parse(c.text), ManifestOutcome::Read);
    ManifestExpectation expect;
    expect.target = c.target;
    expect.progName = c.pageProg;
    expect.highestSerial = c.highest;
    expect.now = c.now;
    const BindingProblem problem = CheckManifestBinding(s.plan(), expect);
    EXPECT_EQ(problem, c.problem) << BindingProblemText(problem);
  }
}

}  // namespace
ManifestContent ReleaseWithDeltas() {
  ManifestContent c;
  c.progName = "game";
  c.minVer = 1;
  c.fullUrl = "https://dl.example/g/setup.exe";
  c.baseUrl = "https://dl.example/g/";
  c.fullSize = 1000;
  c.serial = 1;
  c.files = {{101, "p101.zip", Sha256Digest{1}, 10}, {102, "p102.zip", Sha256Digest{2}, 20}};
  c.deltas = {{101, "p101.qzd", Sha256Digest{3}, 5369}, {102, "p102.qzd", Sha256Digest{4}, 77}};
  return c;
}

TEST(Manifest, DeltasBindTheirHashAndSizeAndOlderLaunchersPassOverThem) {
  ManifestContent c = ReleaseWithDeltas();
  c.mirrors = {"https://m1.example/velto/", "https://m2.example/"};
  ASSERT_FALSE(CheckManifestContent(c));
  const std::string text = ManifestTextOf(c);
  State now;
  now.records["game"] = 100;
  ASSERT_EQ(now.Parse(text), ManifestOutcome::Read);
  ASSERT_EQ(now.plan().deltas.size(), 2u);
  EXPECT_EQ(now.plan().deltas[1].url, "https://dl.example/g/p102.qzd");
  EXPECT_EQ(*now.plan().deltas[0].sha256, Sha256Digest{3});
  EXPECT_EQ(*now.plan().deltas[0].size, 5369u);
  EXPECT_EQ(*now.plan().files[1].sha256, Sha256Digest{2});
  EXPECT_EQ(now.plan().latestVer, 102);
  EXPECT_EQ(now.plan().mirrors, c.mirrors);

  // A launcher that predates the keys reads them as words it does not know.
  std::string old = text;
  for (const std::string key : {"UpDeltaList", "Size", "Serial", "Expires", "Target", "MirrorURL"}) {
    for (std::size_t at = old.find(key); at != std::string::npos; at = old.find(key, at + 2)) old.insert(at, "X");
  }
  ManifestContent plain = c;
  plain.deltas.clear();
  plain.mirrors.clear();
  State before, without;
  before.records["game"] = without.records["game"] = 100;
  ASSERT_EQ(before.Parse(old), ManifestOutcome::Read);
  without.Parse(ManifestTextOf(plain));
  EXPECT_EQ(before.Files(), without.Files());
  for (std::size_t k = 0; k < 2; ++k) EXPECT_EQ(before.plan().files[k].sha256, without.plan().files[k].sha256);
  EXPECT_EQ(before.plan().latestVer, 102);
}

// Over 10,000 PCs of random identity, each share is taken by that share of
// them, within a point; outside it a PC reads the version before as newest.
TEST(Manifest, RolloutSharesAndWhatAPcOutsideReads) {
  std::mt19937_64 random(2026);
  std::vector<std::uint32_t> buckets;
  for (int k = 0; k < 10000; ++k) {
    char guid[40];
    std::snprintf(guid, sizeof guid, "%08llx-%04llx-%04llx-%04llx-%012llx",
                  static_cast<unsigned long long>(random() & 0xffffffff), static_cast<unsigned long long>(random() & 0xffff),
                  static_cast<unsigned long long>(random() & 0xffff), static_cast<unsigned long long>(random() & 0xffff),
                  static_cast<unsigned long long>(random() & 0xffffffffffffull));
    buckets.push_back(RolloutBucketOf(guid));
  }
  for (unsigned percent : {0u, 1u, 5u, 25u, 50u, 99u, 100u}) {
    const auto in = std::count_if(buckets.begin(), buckets.end(), [&](std::uint32_t b) { return InRollout(b, percent); });
    EXPECT_NEAR(in / 100.0, percent, 1.0) << percent;
  }
  ManifestContent c = ReleaseWithDeltas();
  c.rollout = ManifestRollout{102, 5};
  ASSERT_FALSE(CheckManifestContent(c));
  State now;
  now.records["game"] = 100;
  ASSERT_EQ(now.Parse(ManifestTextOf(c)), ManifestOutcome::Read);
  ManifestPlan plan = now.plan();
  ASSERT_TRUE(plan.rollout && plan.rollout->version == 102 && plan.rollout->percent == 5);
  HoldBackRollout(plan);
  EXPECT_EQ(plan.latestVer, 101);
  ASSERT_EQ(plan.files.size(), 1u);
  EXPECT_EQ(plan.deltas.size(), 1u);
  c.rollout = ManifestRollout{103, 5};
  EXPECT_TRUE(CheckManifestContent(c)) << "a rollout of a version no file lists";
}

TEST(Manifest, DeltaEntriesAndSizes) {
  const std::string h(64, 'a');
  struct Case {
    const char* id;
    std::string text;
    ManifestOutcome outcome;
    const char* deltas;  // "version:size" of each delta taken, size - when none
  } cases[] = {
      {"older than the record skipped", kHead + "ProgName game " + kBase + "UpDeltaList 99 d SHA256 " + h +
           " Size 5 UpDeltaList 101 e Size 7", ManifestOutcome::Read, "101:7"},
      {"size without hash", kHead + "ProgName game " + kBase + "UpDeltaList 101 d Size 9", ManifestOutcome::Read,
       "101:9"},
      {"size after another key binds nothing", kHead + "ProgName game " + kBase + "UpDeltaList 101 d MinVer 1 Size 9",
       ManifestOutcome::Read, "101:-"},
      {"two sizes", kHead + "ProgName game " + kBase + "UpDeltaList 101 d Size 1 Size 2", ManifestOutcome::Refused,
       ""},
      {"size not a number", kHead + "ProgName game " + kBase + "UpDeltaList 101 d Size 1k", ManifestOutcome::Refused,
       ""},
      {"size too large", kHead + "ProgName game " + kBase + "UpDeltaList 101 d Size 99999999999999999999",
       ManifestOutcome::Refused, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    State s;
    s.records["game"] = 100;
    ASSERT_EQ(s.Parse(c.text), c.outcome);
    std::string got;
    for (const auto& d : s.plan().deltas) {
      got += std::string(got.empty() ? "" : " ") + std::to_string(d.version) + ":" +
             (d.size ? std::to_string(*d.size) : "-");
    }
    if (c.outcome == ManifestOutcome::Read) EXPECT_EQ(got, c.deltas);
  }
  // Attached to its file only when the stated sizes say it saves something.
  const struct {
    const char* id;
    std::string entries;  // after the base address
    bool attached;
    const char* note;
  } plans[] = {
      {"smaller", "UpDeltaList 101 d SHA256 " + h + " Size 9 UpFileList 101 f Size 10", true, ""},
      {"no size of the patch", "UpDeltaList 101 d SHA256 " + h + " Size 9 UpFileList 101 f", true, ""},
      {"as large", "UpDeltaList 101 d SHA256 " + h + " Size 10 UpFileList 101 f Size 10", false,
       "version 101: delta not taken (its 10 bytes would save nothing against the whole-file patch's 10)"},
      {"no hash", "UpDeltaList 101 d Size 9 UpFileList 101 f Size 10", false,
       "version 101: delta not taken (it has no SHA256)"},
  };
  for (const auto& c : plans) {
    SCOPED_TRACE(c.id);
    State s;
    s.records["game"] = 100;
    ASSERT_EQ(s.Parse(kHead + "ProgName game " + kBase + c.entries), ManifestOutcome::Read);
    const UpdatePlan plan = PlanOf(s.plan());
    ASSERT_EQ(plan.updateList.size(), 1u);
    EXPECT_EQ(!plan.updateList[0].deltaUrl.empty(), c.attached);
    EXPECT_EQ(plan.notes.empty() ? "" : plan.notes[0], c.note);
  }
  ManifestContent orphan = ReleaseWithDeltas();
  orphan.deltas[0].version = 103;
  EXPECT_EQ(CheckManifestContent(orphan).field, ManifestField::Delta) << "a delta needs the file it stands in for";
}

}  // namespace qz
