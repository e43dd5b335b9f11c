// Where the release tool and the launcher once read one text two ways: for
// each case, what the tool accepts is exactly what the launcher takes as
// meant, and what the launcher refuses the tool refuses too.
#include <gtest/gtest.h>

#include <string>

#include "format/limits.h"
#include "format/manifest.h"
#include "format/web_address.h"
#include "launcher/setup_params.h"
#include "publish/manifest_text.h"
#include "publish/patch_plan.h"
#include "publish/publish_error.h"
#include "zip/zip_archive.h"

namespace qz {
namespace {

const char kGameFolder[] = "C:\\Program Files\\Veltoworks\\Velto Demo";

template <typename F>
bool ToolRefuses(F f) {
  try {
    f();
  } catch (const publish::PublishError&) {
    return true;
  }
  return false;
}

publish::ManifestRequest Release() {
  publish::ManifestRequest r;
  r.progName = "VeltoDemo";
  r.minVer = 100;
  r.fullUrl = "https://dl.example/full/Setup.exe";
  r.fullSha256 = std::string(64, 'a');
  r.fullSize = 100;
  r.serial = 1;
  r.expires = 1751371200;
  return r;
}

// The launcher's zip reader on an entry of that name under the game folder.
bool ReaderRefuses(const std::string& entry) {
  CZipArchive zip;
  try {
    zip.CheckedTargetPath(entry.c_str(), kGameFolder, true, nullptr);
  } catch (const CZipException&) {
    return true;
  }
  return false;
}

enum Kind { Address, ArchiveName, Version, HashLine, Serial, Expires, Target };

TEST(FormatDrift, ToolAndLauncherAgree) {
  const std::string d100(100, 'd');
  const struct {
    const char* id;
    Kind kind;
    std::string value;
    bool refused;  // by both sides
  } cases[] = {
      {"https address", Address, "https://dl.example/x", false},
      {"loopback with port", Address, "http://127.0.0.1:8080/x", false},
      {"leading zero", Address, "http://127.0.0.01/", true},
      {"port out of range", Address, "http://127.0.0.1:99999/", true},
      {"query before the host ends", Address, "http://localhost?@evil.example/", true},
      {"https port out of range", Address, "https://dl.example:0/x", true},
      {"plain name", ArchiveName, "data/bgm.dat", false},
      {"console input", ArchiveName, "CONIN$", true},
      {"console output", ArchiveName, "data/CONOUT$.txt", true},
      {"device with a blank", ArchiveName, "nul .txt", true},
      {"port zero", ArchiveName, "com0.dat", true},
      {"clock", ArchiveName, "CLOCK$", true},
      {"three 100-byte folders", ArchiveName, d100 + "/" + d100 + "/" + d100 + "/file.txt", true},
      {"version 9999", Version, "9999", false},
      {"version 10000", Version, "10000", true},
      {"hash after its entry", HashLine, "UpFileList 1 a.zip SHA256 " + std::string(64, 'a'), false},
      {"hash after no entry", HashLine, "MinVer 1 SHA256 " + std::string(64, 'a'), true},
      {"size after its entry", HashLine, "UpFileList 1 a.zip Size 12", false},
      {"size after no entry", HashLine, "MinVer 1 Size 12", true},
      {"serial 1", Serial, "1", false},
      {"serial 4294967295", Serial, "4294967295", false},
      {"serial 0", Serial, "0", true},
      {"serial 4294967296", Serial, "4294967296", true},
      {"serial in hex", Serial, "0x10", true},
      {"expires to the minute", Expires, "2031-12-31T23:59Z", false},
      {"expires with seconds", Expires, "2031-12-31T23:59:00Z", true},
      {"expires at 24:00", Expires, "2031-12-31T24:00Z", true},
      {"expires in year 10000", Expires, "10000-01-01T00:00Z", true},
      {"target game", Target, "game", false},
      {"target avatar", Target, "avatar", false},
      {"target Avatar", Target, "Avatar", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    switch (c.kind) {
      case Address: {
        EXPECT_EQ(!IsFetchUrl(c.value.c_str()), c.refused) << "launcher";
        publish::ManifestRequest r = Release();
        r.fullUrl = c.value;
        EXPECT_EQ(ToolRefuses([&] { publish::CheckManifest(r); }), c.refused) << "tool";
        break;
      }
      case ArchiveName:
        EXPECT_EQ(ReaderRefuses(c.value), c.refused) << "launcher";
        EXPECT_EQ(ToolRefuses([&] { publish::ZipName(c.value, false); }), c.refused) << "tool";
        break;
      case Version:
        // The launcher reads the record's Version through a field of four digits.
        EXPECT_EQ(c.value.size() >= kVersionField, c.refused) << "launcher";
        EXPECT_EQ(ToolRefuses([&] { publish::ParseVersion(c.value, "--file"); }), c.refused) << "tool";
        break;
      case HashLine: {
        const std::string text = std::string(kManifestHeader) + " UpBaseURL https://h/ " + c.value;
        const ManifestReading reading = ReadManifest(text, [](const std::string&) { return std::uint16_t{0}; });
        EXPECT_EQ(reading.unboundFileValues > 0, c.refused) << "launcher binds it to nothing";
        EXPECT_EQ(ToolRefuses([&] { publish::ListManifestFiles(text); }), c.refused) << "tool";
        break;
      }
      case Serial:
      case Expires:
      case Target: {
        const char* key = c.kind == Serial ? "Serial " : c.kind == Expires ? "Expires " : "Target ";
        const std::string text = std::string(kManifestHeader) + " " + key + c.value;
        EXPECT_EQ(ReadManifest(text, [](const std::string&) { return std::uint16_t{0}; }).outcome ==
                      ManifestOutcome::Refused,
                  c.refused)
            << "launcher";
        EXPECT_EQ(ToolRefuses([&] {
                    if (c.kind == Serial) publish::ParseSerial(c.value);
                    if (c.kind == Expires) publish::ParseExpires(c.value, 0);
                    if (c.kind == Target) publish::ParseTarget(c.value);
                  }),
                  c.refused)
            << "tool";
        break;
      }
    }
  }
}

// A launcher from before Serial, Expires, Target and Size passes over them:
// for every installed version it takes the same plan as today's reader, and
// nothing of the new keys leaks into a value or a file list.
TEST(FormatDrift, OlderLaunchersReadTheSamePlan) {
  ManifestContent content;
  content.progName = "VeltoDemo";
  content.minVer = 100;
  content.fullUrl = "https://dl.example/full/Setup.exe";
  content.fullSize = 4096;
  content.baseUrl = "https://dl.example/patch/";
  content.files = {{101, "P-101.zip", {}, 1010}, {102, "P-102.zip", {}, 4294967295u}};
  content.target = ManifestTarget::Avatar;
  content.serial = 4294967295u;
  content.expires = 253402300740;  // 9999-12-31T23:59Z
  ASSERT_FALSE(CheckManifestContent(content));
  const std::string text = ManifestTextOf(content);
  for (std::uint16_t installed : {0, 100, 101, 102}) {
    SCOPED_TRACE(installed);
    auto record = [installed](const std::string&) { return installed; };
    const ManifestReading now = ReadManifest(text, record);
    const ManifestReading old = ReadManifest(text, record, kKeysBeforeBinding);
    ASSERT_EQ(old.outcome, ManifestOutcome::Read);
    EXPECT_EQ(old.unboundFileValues, 0u);
    EXPECT_FALSE(old.keyWithoutValues);
    EXPECT_EQ(old.plan.progName, now.plan.progName);
    EXPECT_EQ(old.plan.minVer, now.plan.minVer);
    EXPECT_EQ(old.plan.latestVer, now.plan.latestVer);
    EXPECT_EQ(old.plan.fullDnUrl, now.plan.fullDnUrl);
    EXPECT_EQ(old.plan.fullDnSha256, now.plan.fullDnSha256);
    ASSERT_EQ(old.plan.files.size(), now.plan.files.size());
    for (std::size_t i = 0; i < old.plan.files.size(); ++i) {
      EXPECT_EQ(old.plan.files[i].url, now.plan.files[i].url);
      EXPECT_EQ(old.plan.files[i].sha256, now.plan.files[i].sha256);
    }
    EXPECT_FALSE(old.plan.serial || old.plan.expires || old.plan.target) << "unknown keys are not read";
  }
}

// The setup modes name files by the same rules as archives.
TEST(FormatDrift, SetupModeFileNamesUseTheSameDeviceList) {
  for (const char* name : {"CONIN$", "conout$.exe", "nul .exe", "com0.exe", "LPT\xB9.exe", "CLOCK$"}) {
    EXPECT_FALSE(IsGameFileName(name)) << name;
    EXPECT_TRUE(ReaderRefuses(name)) << name;
  }
  EXPECT_TRUE(IsGameFileName("bin\\game.exe"));
}

}  // namespace
}  // namespace qz
