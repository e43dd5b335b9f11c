// qzpublish's commands end to end, in-process: keys, signed manifests and
// their verification, and the refusals that leave no output behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include "format/manifest.h"
#include "format/ticket.h"
#include "publish/publish_commands.h"
#include "publish/publish_crypto.h"
#include "publish/publish_text.h"
#include "tests/host/zip_test_support.h"

namespace qz::publish {
namespace {

using ziptest::Exists;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;

struct Result {
  int rc;
  std::string out, err;
};

Result Publish(const std::vector<std::string>& args) {
  std::ostringstream o, e;
  const int rc = RunPublish(args, o, e);
  return {rc, o.str(), e.str()};
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

class PublishCommands : public ::testing::Test {
protected:
  void SetUp() override {
    mkdir((dir / "www").c_str(), 0755);
    mkdir((dir / "www/full").c_str(), 0755);
    mkdir((dir / "www/patch").c_str(), 0755);
    WriteFile(dir / "www/full/Setup.exe", "MZ setup");
    WriteFile(dir / "www/patch/P-101.zip", "patch 101");
    const Result made = Publish({"keygen", key});
    ASSERT_EQ(made.rc, 0) << made.err;
    publicKey = FirstLine(made.out);
  }
  std::vector<std::string> ManifestArgs(const std::string& out) const {
    return {"manifest", "--prog", "VeltoDemo", "--minver", "100",
            "--full", "https://dl.example/full/Setup.exe", dir / "www/full/Setup.exe",
            "--base", "https://dl.example/patch/", "--file", "101", dir / "www/patch/P-101.zip",
            "--sign", key, out};
  }
  Result Verify(const std::string& keyArg) { return Publish({"verify", manifest, "--key", keyArg, "--files", dir / "www"}); }

  TempDir dir;
  std::string key = dir / "demo.key";
  std::string manifest = dir / "VeltoDemo.txt";
  std::string publicKey;
};

TEST_F(PublishCommands, KeyIsPrivateAndNeverOverwritten) {
  struct stat st;
  ASSERT_EQ(stat(key.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(publicKey.size(), 88u) << "base64 of 65 bytes";
  const auto point = FromBase64(publicKey);
  ASSERT_TRUE(point.has_value());
  EXPECT_EQ(point->size(), 65u);
  EXPECT_EQ((*point)[0], '\x04') << "an uncompressed point";
  EXPECT_EQ(FirstLine(Publish({"pubkey", key}).out), publicKey);
  const std::string before = ReadFile(key);
  EXPECT_EQ(Publish({"keygen", key}).rc, 2);
  EXPECT_EQ(ReadFile(key), before);
}

TEST_F(PublishCommands, VerifyPassesOnlyWhenSignatureAndEveryFileMatch) {
  ASSERT_EQ(Publish(ManifestArgs(manifest)).rc, 0);
  WriteFile(dir / "public.txt", publicKey + "\n");
  Result ok = Verify(publicKey);
  EXPECT_EQ(ok.rc, 0) << ok.out << ok.err;
  // Unless told otherwise: a game's manifest, the release time as its serial, 30 days valid.
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_NE(ok.out.find("Target game, Serial " + std::to_string(now).substr(0, 6)), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("expires " + ManifestTimeText(now + 30 * 86400).substr(0, 10)), std::string::npos);
  EXPECT_EQ(Verify(dir / "public.txt").rc, 0) << "the key line may come in a file";

  const std::string other = dir / "other.key";
  std::string otherPublic = FirstLine(Publish({"keygen", other}).out);
  const std::string text = ReadFile(manifest);
  const struct {
    const char* id;
    std::function<void()> spoil, repair;
    const char* says;
  } cases[] = {
      {"changed file", [&] { WriteFile(dir / "www/patch/P-101.zip", "patch 1O1"); },
       [&] { WriteFile(dir / "www/patch/P-101.zip", "patch 101"); }, "DIFFERS"},
      {"missing file", [&] { rename((dir / "www/full/Setup.exe").c_str(), (dir / "Setup.exe").c_str()); },
       [&] { rename((dir / "Setup.exe").c_str(), (dir / "www/full/Setup.exe").c_str()); }, "MISSING"},
      {"changed manifest", [&] { WriteFile(manifest, text + " "); }, [&] { WriteFile(manifest, text); }, "BAD"},
      {"missing signature", [&] { rename((manifest + ".sig").c_str(), (dir / "sig").c_str()); },
       [&] { rename((dir / "sig").c_str(), (manifest + ".sig").c_str()); }, "MISSING"},
      {"wrong key", [&] { publicKey.swap(otherPublic); }, [&] { publicKey.swap(otherPublic); }, "BAD"},
  };
  for (const auto& c : cases) {
    c.spoil();
    const Result r = Verify(publicKey);
    EXPECT_EQ(r.rc, 1) << c.id << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << c.id << "\n" << r.out;
    c.repair();
    EXPECT_EQ(Verify(publicKey).rc, 0) << c.id << " repaired";
  }
}

TEST_F(PublishCommands, TicketLinkIsSignedByTheKeyAndCarriesTheFieldsOnce) {
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  const std::vector<std::string> args = {"ticket", "--key", key, "--field", "RunMode=Normal",
                                         "--field", "AuthCookie=a=b; c=\"d\" %", "--valid", "120"};
  const Result r = Publish(args);
  ASSERT_EQ(r.rc, 0) << r.err;
  ASSERT_EQ(r.out.back(), '\n');
  const TicketLink link = ParseTicketLink(FirstLine(r.out));
  ASSERT_EQ(link.problem, TicketProblem::None) << r.out;
  const std::string signature(reinterpret_cast<const char*>(link.signature.data()), link.signature.size());
  EXPECT_TRUE(publish::Verify(*FromBase64(publicKey), link.ticket, signature));
  const TicketReading reading = ReadTicket(link.ticket);
  ASSERT_EQ(reading.problem, TicketProblem::None);
  EXPECT_EQ(reading.ticket.fields[*TicketFieldIndex("RunMode")], "Normal");
  EXPECT_EQ(reading.ticket.fields[*TicketFieldIndex("AuthCookie")], "a=b; c=\"d\" %");
  EXPECT_EQ(reading.ticket.fields[*TicketFieldIndex("ProgName")], "");
  EXPECT_GE(reading.ticket.issued, before);
  EXPECT_LE(reading.ticket.issued, before + 60);
  EXPECT_EQ(reading.ticket.expires - reading.ticket.issued, 120);
  const TicketLink second = ParseTicketLink(FirstLine(Publish(args).out));
  EXPECT_NE(ReadTicket(second.ticket).ticket.nonce, reading.ticket.nonce) << "every link its own nonce";
}

TEST_F(PublishCommands, SignWritesTheFilesSignatureBesideIt) {
  const std::string setup = dir / "www/full/Setup.exe";
  WriteFile(setup + ".sig", "stale");
  const Result r = Publish({"sign", setup, "--key", key});
  ASSERT_EQ(r.rc, 0) << r.err;
  const std::string line = ReadFile(setup + ".sig");
  ASSERT_EQ(line.back(), '\n');
  const auto signature = FromBase64(line.substr(0, line.size() - 1));
  ASSERT_TRUE(signature);
  EXPECT_TRUE(publish::Verify(*FromBase64(publicKey), "MZ setup", *signature));
  EXPECT_FALSE(publish::Verify(*FromBase64(publicKey), "MZ setup!", *signature));
}

TEST_F(PublishCommands, UnsignedManifestDropsAStaleSignature) {
  ASSERT_EQ(Publish(ManifestArgs(manifest)).rc, 0);
  std::vector<std::string> args = ManifestArgs(manifest);
  args.erase(args.end() - 3, args.end() - 1);  // --sign KEYFILE
  ASSERT_EQ(Publish(args).rc, 0);
  EXPECT_FALSE(Exists(manifest + ".sig"));
}

TEST_F(PublishCommands, RefusalsExitWith2AndWriteNothing) {
  const std::string out = dir / "out.txt";
  auto manifestWith = [&](size_t at, const std::string& value) {
    std::vector<std::string> args = ManifestArgs(out);
    args[at] = value;
    return args;
  };
  auto manifestPlus = [&](const std::string& option, const std::string& value) {
    std::vector<std::string> args = ManifestArgs(out);
    args.insert(args.end() - 1, {option, value});
    return args;
  };
  mkdir((dir / "tree").c_str(), 0755);
  WriteFile(dir / "tree/caf\xc3\xa9.txt", "x");
  mkdir((dir / "linked").c_str(), 0755);
  symlink("/etc/hostname", (dir / "linked/l").c_str());
  const std::string zip = dir / "out.zip";
  const struct {
    const char* id;
    std::vector<std::string> args;
    std::string output;
    const char* says;
  } cases[] = {
      {"unknown command", {"publish"}, "", "unknown command"},
      {"missing old folder", {"patch", dir / "nothing", dir / "www", zip}, zip, "no such folder"},
      {"missing new folder", {"patch", dir / "www", dir / "nothing", zip}, zip, "no such folder"},
      {"nothing differs", {"patch", dir / "www", dir / "www", zip}, zip, "no patch written"},
      {"name without code page 932 form", {"full", dir / "tree", zip}, zip, "code page 932"},
      {"link in the tree", {"full", dir / "linked", zip}, zip, "links"},
      {"output folder missing", {"full", dir / "www", dir / "no/out.zip"}, dir / "no/out.zip", "no such folder"},
      {"program name of 20", manifestWith(2, std::string(20, 'N')), out, "shorter than 20"},
      {"address of 260", manifestWith(6, "https://h/" + std::string(250, 'x')), out, "shorter than 260"},
      {"version 0", manifestWith(11, "0"), out, "1 to 9999"},
      {"version 65536", manifestWith(4, "65536"), out, "1 to 9999"},
      {"unreadable patch file", manifestWith(12, dir / "www/patch/none.zip"), out, "cannot read"},
      {"no such key", manifestWith(14, dir / "none.key"), out, "cannot read"},
      {"not a key", manifestWith(14, dir / "www/full/Setup.exe"), out, "not a private key"},
      {"unknown option", manifestWith(1, "--program"), out, "unknown option"},
      {"serial 0", manifestPlus("--serial", "0"), out, "--serial"},
      {"expires in the past", manifestPlus("--expires", "2020-01-01T00:00Z"), out, "has passed"},
      {"target unknown", manifestPlus("--target", "launcher"), out, "--target"},
      {"verify without key", {"verify", out}, "", "--key"},
      {"sign without key", {"sign", dir / "www/full/Setup.exe"}, "", "--key PRIVATE"},
      {"sign a missing file", {"sign", out, "--key", key}, out, "no such file"},
      {"sign with no key file", {"sign", dir / "www/full/Setup.exe", "--key", dir / "none.key"}, "", "cannot read"},
      {"verify with a bad key", {"verify", dir / "www/full/Setup.exe", "--key", "QUJD"}, "", "not a public key"},
      {"ticket without key", {"ticket", "--field", "RunMode=Normal"}, "", "--key"},
      {"ticket field unknown", {"ticket", "--key", key, "--field", "Mode=Normal"}, "", "RunMode, ProgName"},
      {"ticket field twice",
       {"ticket", "--key", key, "--field", "Spare=a", "--field", "Spare=b"}, "", "twice"},
      {"ticket field too wide", {"ticket", "--key", key, "--field", "ServPort=1234567"}, "", "ServPort"},
      {"ticket valid too long", {"ticket", "--key", key, "--valid", "601"}, "", "1 to 600"},
      {"ticket valid zero", {"ticket", "--key", key, "--valid", "0"}, "", "1 to 600"},
  };
  for (const auto& c : cases) {
    const Result r = Publish(c.args);
    EXPECT_EQ(r.rc, 2) << c.id << "\n" << r.out << r.err;
    EXPECT_EQ(r.err.rfind("qzpublish: ", 0), 0u) << c.id << ": " << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << c.id << ": one line";
    EXPECT_NE(FirstLine(r.err).find(c.says), std::string::npos) << c.id << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.id;
    if (!c.output.empty()) {
      EXPECT_FALSE(Exists(c.output)) << c.id;
      EXPECT_FALSE(Exists(c.output + ".sig")) << c.id;
    }
  }
  // No temporary file was left beside the outputs either.
  for (const std::string& name : ziptest::ListTree(dir.path)) {
    EXPECT_EQ(name.find(".XXXX"), std::string::npos) << name;
    EXPECT_EQ(name.find("out."), std::string::npos) << name;
  }
}

// The content of the n-th fenced block after the first line holding `marker`.
std::string FencedBlockAfter(const std::string& text, const std::string& marker, int n) {
  std::size_t at = text.find(marker);
  std::string block;
  for (int i = 0; i < n && at != std::string::npos; ++i) {
    const std::size_t open = text.find("\n```", at);
    const std::size_t start = text.find('\n', open + 1);
    const std::size_t close = text.find("\n```", start);
    if (open == std::string::npos || start == std::string::npos || close == std::string::npos) return "";
    block = text.substr(start + 1, close - start);
    at = close + 4;
  }
  return block;
}

TEST(PublishTicket, ReadmeExampleVerifiesWithItsKeyAndReads) {
  std::ifstream in(QZ_README, std::ios::binary);
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string keyLine = FencedBlockAfter(readme, "as the `PortalKeys` line", 2);
  const std::string ticketText = FencedBlockAfter(readme, "The ticket (444 bytes", 1);
  const std::string linkLine = FencedBlockAfter(readme, "The link:", 1);
  ASSERT_FALSE(linkLine.empty());
  const TicketLink link = ParseTicketLink(linkLine.substr(0, linkLine.size() - 1));
  ASSERT_EQ(link.problem, TicketProblem::None) << TicketProblemText(link.problem);
  EXPECT_EQ(link.ticket, ticketText) << "the ticket shown is the one in the link";
  EXPECT_EQ(link.ticket.size(), 444u);
  const auto point = FromBase64(keyLine.substr(0, keyLine.size() - 1));
  ASSERT_TRUE(point.has_value()) << keyLine;
  EXPECT_TRUE(publish::Verify(*point, link.ticket,
                              std::string(reinterpret_cast<const char*>(link.signature.data()), 64)));
  const TicketReading reading = ReadTicket(link.ticket);
  ASSERT_EQ(reading.problem, TicketProblem::None) << reading.key;
  EXPECT_EQ(reading.ticket.fields[*TicketFieldIndex("DataCookie")], "M%5FCODE=D1234&ID=player42&");
  EXPECT_EQ(CheckTicketClaims(reading.ticket, std::time(nullptr)), TicketProblem::Expired);
}

}  // namespace
}  // namespace qz::publish
