// qzpublish's commands end to end, in-process: keys, signed manifests and
// their verification, and the refusals that leave no output behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include "format/manifest.h"
#include "format/ticket.h"
#include "publish/manifest_text.h"
#include "publish/publish_commands.h"
#include "publish/publish_crypto.h"
#include "publish/publish_error.h"
#include "publish/publish_files.h"
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

// After a sync, verify --mirrors fetches every file from every mirror: here
// two mirrors on one local server, the second missing a patch and holding
// another installer.
TEST_F(PublishCommands, VerifyMirrorsNamesMissingAndDifferingFilesPerMirror) {
  const std::string root = dir / "mirrors";
  for (const char* folder : {"", "/m1", "/m1/full", "/m1/patch", "/m2", "/m2/full"})
    mkdir((root + folder).c_str(), 0755);
  WriteFile(root + "/m1/full/Setup.exe", "MZ setup");
  WriteFile(root + "/m1/patch/P-101.zip", "patch 101");
  WriteFile(root + "/m2/full/Setup.exe", "MZ setuq");
  const std::string readme = QZ_README;
  const std::string server = readme.substr(0, readme.rfind('/')) + "/tools/testserver.py";
  const std::string portFile = dir / "port";
  ASSERT_EQ(std::system(("python3 '" + server + "' --root '" + root + "' --port-file '" + portFile +
                         "' >/dev/null 2>&1 & echo $! > '" + (dir / "server.pid") + "'")
                            .c_str()),
            0);
  for (int k = 0; k < 200 && !Exists(portFile); ++k) usleep(25000);
  const std::string base = "http://127.0.0.1:" + FirstLine(ReadFile(portFile));
  std::vector<std::string> args = ManifestArgs(manifest);
  args.insert(args.end() - 1, {"--mirror", base + "/m1/", "--mirror", base + "/m2"});
  const Result made = Publish(args);
  const Result r = Publish({"verify", manifest, "--key", publicKey, "--mirrors"});
  std::system(("kill $(cat '" + (dir / "server.pid") + "')").c_str());
  ASSERT_EQ(made.rc, 0) << made.err;
  EXPECT_EQ(r.rc, 1) << r.out << r.err;
  for (const std::string& line : {"mirror " + base + "/m1/: 2 of 2 files ok", "mirror " + base + "/m2/: 0 of 2 files ok",
                                 "FullDnURL " + base + "/m2/full/Setup.exe: DIFFERS",
                                 "UpFileList " + base + "/m2/patch/P-101.zip: MISSING"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
}

// A staged release and its halt: the newest version to a share of PCs, each
// time a higher Serial and a new signature; the files stay as they were.
TEST_F(PublishCommands, RolloutRewritesTheShareWithAHigherSerial) {
  ASSERT_EQ(Publish(ManifestArgs(manifest)).rc, 0);
  const std::string before = ReadFile(manifest);
  for (const char* percent : {"10", "0"}) {
    const ManifestBinding was = BindingOf(ReadFile(manifest));
    const Result r = Publish({"rollout", manifest, "--percent", percent, "--sign", key});
    ASSERT_EQ(r.rc, 0) << r.err;
    const std::string text = ReadFile(manifest);
    EXPECT_NE(text.find(std::string("Rollout 101 ") + percent + "\n"), std::string::npos) << text;
    EXPECT_GT(std::stoull(BindingOf(text).serial), std::stoull(was.serial));
    EXPECT_EQ(ListManifestFiles(text).size(), ListManifestFiles(before).size());
    EXPECT_EQ(Verify(publicKey).rc, 0) << Verify(publicKey).out;
  }
  EXPECT_EQ(Publish({"rollout", manifest, "--percent", "101", "--sign", key}).rc, 2);
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
  EXPECT_EQ(Publish({"sign", setup, "--key", key}).rc, 2) << "replacing needs --force";
  const Result r = Publish({"sign", setup, "--key", key, "--force"});
  ASSERT_EQ(r.rc, 0) << r.err;
  const std::string line = ReadFile(setup + ".sig");
  ASSERT_EQ(line.back(), '\n');
  const auto signature = FromBase64(line.substr(0, line.size() - 1));
  ASSERT_TRUE(signature);
  EXPECT_TRUE(publish::Verify(*FromBase64(publicKey), "MZ setup", *signature));
  EXPECT_FALSE(publish::Verify(*FromBase64(publicKey), "MZ setup!", *signature));

  // A second key, on another machine, adds its line; two keys at once write two.
  const std::string other = dir / "other.key";
  const std::string otherPublic = FirstLine(Publish({"keygen", other}).out);
  ASSERT_EQ(Publish({"cosign", setup, "--key", other}).rc, 0);
  WriteFile(manifest, "x");
  ASSERT_EQ(Publish({"sign", manifest, "--key", key, "--key", other}).rc, 0);
  for (const std::string& signed_ : {setup, manifest}) {
    const std::optional<std::vector<P256Signature>> lines = ParseSignatureLines(ReadFile(signed_ + ".sig"));
    ASSERT_TRUE(lines && lines->size() == 2) << signed_;
    const std::string bytes = ReadFile(signed_);
    EXPECT_TRUE(publish::Verify(*FromBase64(publicKey), bytes, std::string((*lines)[0].begin(), (*lines)[0].end())));
    EXPECT_TRUE(publish::Verify(*FromBase64(otherPublic), bytes, std::string((*lines)[1].begin(), (*lines)[1].end())));
  }
  WriteFile(setup + ".sig", "not a signature\n");
  EXPECT_EQ(Publish({"cosign", setup, "--key", other}).rc, 2) << "a damaged .sig is not signed over";
}

// A game's installer past 4 GiB (sparse here): its size is stated whole in
// the manifest, which the launcher reads back the same, and verify agrees.
TEST_F(PublishCommands, FilePastFourGiBIsListedWithItsWholeSize) {
  const std::string setup = dir / "www/full/Setup.exe";
  ASSERT_EQ(truncate(setup.c_str(), (4ll << 30) + 1), 0);
  const Result made = Publish(ManifestArgs(manifest));
  ASSERT_EQ(made.rc, 0) << made.err;
  const std::vector<ListedFile> listed = ListManifestFiles(ReadFile(manifest));
  ASSERT_FALSE(listed.empty());
  EXPECT_EQ(listed[0].size, std::optional<std::uint64_t>((4ull << 30) + 1));
  const Result verified = Verify(publicKey);
  EXPECT_EQ(verified.rc, 0) << verified.out << verified.err;
}

TEST_F(PublishCommands, UnsignedManifestDropsAStaleSignature) {
  ASSERT_EQ(Publish(ManifestArgs(manifest)).rc, 0);
  std::vector<std::string> args = ManifestArgs(manifest);
  args.erase(args.end() - 3, args.end() - 1);  // --sign KEYFILE
  EXPECT_EQ(Publish(args).rc, 2) << "replacing needs --force";
  args.insert(args.end() - 1, "--force");
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
  mkdir((dir / "tree").c_str(), 0755);
  WriteFile(dir / "tree/caf\xc3\xa9.txt", "x");
  mkdir((dir / "linked").c_str(), 0755);
  symlink("/etc/hostname", (dir / "linked/l").c_str());
  const std::string zip = dir / "out.zip";
  auto manifestPlus = [&](std::vector<std::string> more) {
    std::vector<std::string> args = ManifestArgs(out);
    args.insert(args.end() - 1, more.begin(), more.end());
    return args;
  };
  for (const char* v : {"101", "102"}) mkdir((dir / v).c_str(), 0755);
  WriteFile(dir / "101/a", "1");
  WriteFile(dir / "102/a", "2");
  mkdir((dir / "other").c_str(), 0755);
  WriteFile(dir / "other/p-101.ZIP", "other case");
  unsetenv("QZ_NO_SUCH_PASS");
  // Three releases with their patches and deltas (each delta saves enough to be written).
  for (const char* v : {"r100", "r101", "r102"}) mkdir((dir / v).c_str(), 0755);
  std::string noise(20000, 'a');
  std::uint32_t state = 7;
  for (char& c : noise) c = static_cast<char>('a' + ((state = state * 1103515245u + 12345u) >> 16) % 26);
  WriteFile(dir / "r100/big.txt", noise + "100");
  WriteFile(dir / "r101/big.txt", noise + "101");
  WriteFile(dir / "r102/big.txt", noise + "102");
  const std::string p101 = dir / "www/patch/p101.zip", p102 = dir / "www/patch/p102.zip";
  const std::string d101 = dir / "www/patch/p101.qzd", d102 = dir / "www/patch/p102.qzd";
  ASSERT_EQ(Publish({"patch", dir / "r100", dir / "r101", p101, "--from", "100", "--to", "101"}).rc, 0);
  ASSERT_EQ(Publish({"patch", dir / "r101", dir / "r102", p102, "--from", "101", "--to", "102"}).rc, 0);
  ASSERT_TRUE(Exists(d101) && Exists(d102));
  const std::string serialOut = dir / "serial.txt";
  ASSERT_EQ(Publish(manifestPlus({"--serial", "500"})).rc, 0);
  ASSERT_EQ(rename(out.c_str(), serialOut.c_str()), 0);
  ASSERT_EQ(rename((out + ".sig").c_str(), (serialOut + ".sig").c_str()), 0);
  auto releases = [&](std::vector<std::string> more) {
    std::vector<std::string> args = ManifestArgs(out);
    args.erase(args.begin() + 10, args.begin() + 13);  // the stand-in --file 101
    for (const std::string& a : {"--file", "101", p101.c_str(), "--file", "102", p102.c_str()}) more.push_back(a);
    args.insert(args.end() - 1, more.begin(), more.end());
    return args;
  };
  mkdir((dir / "copy").c_str(), 0755);
  WriteFile(dir / "copy/p101.zip", ReadFile(d101));
  WriteFile(dir / "copy/other.qzd", ReadFile(d101));
  WriteFile(dir / "copy/zip.qzd", ReadFile(p101));
  const struct {
    const char* id;
    std::vector<std::string> args;
    std::string output;
    const char* says;
  } cases[] = {
      {"minver above the newest", manifestWith(4, "102"), out, "above the newest listed version 101"},
      {"version twice", manifestPlus({"--file", "101", dir / "www/full/Setup.exe"}), out, "listed twice"},
      {"base name twice", manifestPlus({"--file", "102", dir / "other/p-101.ZIP"}), out, "differs only in case"},
      {"query in base", manifestWith(9, "https://dl.example/get?f="), out, "query or fragment"},
      {"fragment in base", manifestWith(9, "https://dl.example/patch/#"), out, "query or fragment"},
      {"trees swapped", {"patch", dir / "102", dir / "101", zip}, zip, "wrong order"},
      {"versions swapped", {"patch", dir / "www", dir / "other", zip, "--from", "5", "--to", "4"}, zip, "wrong order"},
      {"same version", {"patch", dir / "www", dir / "other", zip, "--from", "4", "--to", "4"}, zip, "both version 4"},
      {"versions against the folders", {"patch", dir / "101", dir / "102", zip, "--from", "102", "--to", "101"}, zip,
       "contradict the folders' names (101 and 102)"},
      {"from without to", {"patch", dir / "101", dir / "102", zip, "--from", "4"}, zip, "go together"},
      {"mtime before 1980", {"full", dir / "101", zip, "--mtime", "315532799"}, zip, "--mtime"},
      {"mtime not a number", {"full", dir / "101", zip, "--mtime", "2024-01-01"}, zip, "--mtime"},
      {"option twice", {"full", dir / "101", zip, "--json", "--json"}, zip, "twice"},
      {"option of another command", {"full", dir / "101", zip, "--from", "1"}, zip, "takes no --from"},
      {"passphrase variable unset", manifestPlus({"--pass-env", "QZ_NO_SUCH_PASS"}), out, "no variable"},
      {"two passphrases", manifestPlus({"--pass-env", "HOME", "--pass-file", key}), out, "one passphrase"},
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
      {"serial 0", manifestPlus({"--serial", "0"}), out, "--serial"},
      {"expires in the past", manifestPlus({"--expires", "2020-01-01T00:00Z"}), out, "has passed"},
      {"target unknown", manifestPlus({"--target", "launcher"}), out, "--target"},
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
      {"ticket of the claims alone", {"ticket", "--key", key}, "", "at least one --field"},
      {"verify with a private key", {"verify", out, "--key", key}, "", "qzpublish pubkey"},
      {"passphrase for an open key", manifestPlus({"--pass-env", "HOME"}), out, "not protected"},
      {"patch into the old tree", {"patch", dir / "101", dir / "102", dir / "101/p.zip"}, dir / "101/p.zip",
       "inside the old release"},
      {"patch into the new tree", {"patch", dir / "101", dir / "102", dir / "102/p.zip"}, dir / "102/p.zip",
       "inside the new release"},
      {"lower serial than the manifest there", {}, "", "lower than Serial 500"},
      {"delta given as a file", releases({"--file", "103", d102}), out, "a delta archive; list it with --delta"},
      {"zip given as a delta", releases({"--delta", "101", dir / "copy/zip.qzd"}), out, "not a delta archive"},
      {"deltas swapped", releases({"--delta", "101", d102, "--delta", "102", d101}), out, "another version"},
      {"file and delta of one name", releases({"--delta", "101", dir / "copy/p101.zip"}), out, "listed already"},
      {"two deltas for a version", releases({"--delta", "101", d101, "--delta", "101", dir / "copy/other.qzd"}), out,
       "has a delta already"},
  };
  const std::string serialBefore = ReadFile(serialOut);
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    if (args.empty()) {
      args = ManifestArgs(serialOut);
      args.insert(args.end() - 1, {"--serial", "400", "--force"});
    }
    const Result r = Publish(args);
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
  EXPECT_EQ(ReadFile(serialOut), serialBefore);
  // No temporary file was left beside the outputs either.
  for (const std::string& name : ziptest::ListTree(dir.path)) {
    EXPECT_EQ(name.find(".XXXX"), std::string::npos) << name;
    EXPECT_EQ(name.find("out."), std::string::npos) << name;
  }
}

TEST_F(PublishCommands, OutputsReplaceOnlyWithForceAndNeverAKeyOrAnInput) {
  mkdir((dir / "keys").c_str(), 0755);
  WriteFile(dir / "keys/copy.key", ReadFile(key));
  WriteFile(dir / "old.zip", "an earlier archive");
  link((dir / "www/full/Setup.exe").c_str(), (dir / "setup-link.exe").c_str());
  symlink(key.c_str(), (dir / "key-link.txt").c_str());
  const std::string tree = dir / "www/patch/P-101.zip";
  const struct {
    const char* id;
    std::vector<std::string> args;  // without --force
    std::string target;
    bool forceReplaces;
    const char* says;
  } cases[] = {
      {"an archive", {"full", dir / "www", dir / "old.zip"}, dir / "old.zip", true, "--force"},
      {"a copy of a key", {"full", dir / "www", dir / "keys/copy.key"}, dir / "keys/copy.key", false, "private key"},
      {"its own signing key", ManifestArgs(key), key, false, "signing key"},
      {"its signing key through a link", ManifestArgs(dir / "key-link.txt"), dir / "key-link.txt", false, "signing key"},
      {"its input by another name", ManifestArgs(dir / "setup-link.exe"), dir / "setup-link.exe", false, "full installer"},
      {"a file of its tree", {"full", dir / "www", tree}, tree, false, "inside the release"},
  };
  for (const auto& c : cases) {
    const std::string before = ReadFile(c.target);
    Result r = Publish(c.args);
    EXPECT_EQ(r.rc, 2) << c.id << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.id << ": " << r.err;
    EXPECT_EQ(ReadFile(c.target), before) << c.id;
    std::vector<std::string> forced = c.args;
    forced.push_back("--force");
    r = Publish(forced);
    EXPECT_EQ(r.rc, c.forceReplaces ? 0 : 2) << c.id << " with --force: " << r.err;
    EXPECT_EQ(ReadFile(c.target) == before, !c.forceReplaces) << c.id << " with --force";
  }
}

// Fails the n-th rename it is asked for.
int failAtRename = 0;
int FailingRename(const char* from, const char* to) { return --failAtRename == 0 ? (errno = EIO, -1) : rename(from, to); }

TEST_F(PublishCommands, ManifestAndSignatureChangeTogetherOrNotAtAll) {
  const std::string sig = manifest + ".sig";
  for (const bool oldPair : {false, true}) {
    unlink(manifest.c_str());
    unlink(sig.c_str());
    if (oldPair) {
      WriteFile(manifest, "old manifest");
      WriteFile(sig, "old signature");
    }
    for (int step : {1, 2}) {
      failAtRename = step;
      EXPECT_THROW(ReplaceTogether({{sig, "new signature"}, {manifest, "new manifest"}}, &FailingRename),
                   PublishError);
      EXPECT_EQ(Exists(manifest) ? ReadFile(manifest) : "", oldPair ? "old manifest" : "") << step;
      EXPECT_EQ(Exists(sig) ? ReadFile(sig) : "", oldPair ? "old signature" : "") << step;
    }
  }
  for (const std::string& name : ziptest::ListTree(dir.path)) EXPECT_EQ(name.find(".XXXX"), std::string::npos) << name;
  ReplaceTogether({{sig, std::nullopt}, {manifest, "unsigned"}});
  EXPECT_FALSE(Exists(sig));
  EXPECT_EQ(ReadFile(manifest), "unsigned");
}

TEST_F(PublishCommands, ProtectedKeyTakesItsPassphraseFromEnvironmentOrFileNeverAPrompt) {
  // No terminal to ask on, even when the tests run from one.
  const int savedIn = dup(STDIN_FILENO);
  const int null = open("/dev/null", O_RDONLY);
  dup2(null, STDIN_FILENO);
  close(null);
  const std::string locked = dir / "locked.key";
  setenv("QZ_TEST_PASS", "open sesame", 1);
  const Result made = Publish({"keygen", locked, "--pass-env", "QZ_TEST_PASS"});
  ASSERT_EQ(made.rc, 0) << made.err;
  EXPECT_NE(ReadFile(locked).find("ENCRYPTED PRIVATE KEY"), std::string::npos);
  WriteFile(dir / "pass.txt", "open sesame\r\nsecond line\n");
  WriteFile(dir / "wrong.txt", "open sesame!\n");
  const struct {
    const char* id;
    std::vector<std::string> pass;
    const char* says;  // nullptr: signed
  } cases[] = {
      {"none given", {}, "--pass-env NAME or --pass-file FILE"},
      {"wrong", {"--pass-file", dir / "wrong.txt"}, "does not open"},
      {"from the environment", {"--pass-env", "QZ_TEST_PASS"}, nullptr},
      {"first line of a file", {"--pass-file", dir / "pass.txt"}, nullptr},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = ManifestArgs(manifest);
    args[14] = locked;
    args.insert(args.end() - 1, c.pass.begin(), c.pass.end());
    args.insert(args.end() - 1, "--force");
    const Result r = Publish(args);
    EXPECT_EQ(r.rc, c.says ? 2 : 0) << c.id << ": " << r.err;
    if (c.says) EXPECT_NE(r.err.find(c.says), std::string::npos) << c.id << ": " << r.err;
    else EXPECT_EQ(Verify(FirstLine(made.out)).rc, 0) << c.id;
  }
  EXPECT_EQ(Publish({"manifest", "--prog", "P", "--minver", "1", "--full", "https://h/s.exe", key, "--sign", locked,
                     "--pass-file", dir / "pass.txt", dir / "pass.txt", "--force"})
                .rc,
            2)
      << "the passphrase file is never replaced";
  dup2(savedIn, STDIN_FILENO);
  close(savedIn);
}

TEST_F(PublishCommands, JsonTellsWhatWasWritten) {
  const Result r = Publish([&] {
    std::vector<std::string> args = ManifestArgs(manifest);
    args.insert(args.end() - 1, "--json");
    return args;
  }());
  ASSERT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out, "{\"command\":\"manifest\",\"written\":[{\"path\":\"" + manifest + "\",\"size\":" +
                       std::to_string(ReadFile(manifest).size()) + ",\"sha256\":\"" + Sha256OfFile(manifest) +
                       "\"},{\"path\":\"" + manifest + ".sig\",\"size\":89,\"sha256\":\"" +
                       Sha256OfFile(manifest + ".sig") + "\"}],\"removed\":[]}\n");
}

TEST_F(PublishCommands, VerifyAppliesTheLaunchersRules) {
  const std::string h = "[VLTWUpdateFile]\nProgName VeltoDemo\nTarget game\nSerial 5\nExpires 9999-01-01T00:00Z\n";
  const std::string full = "FullDnURL https://dl.example/full/Setup.exe\n";
  const std::string base = "UpBaseURL https://dl.example/patch/\n";
  const std::string sha = "SHA256 " + std::string(64, 'a') + "\nSize 10\n";
  const struct {
    const char* id;
    std::string text;
    const char* says;  // nullptr: every rule kept
  } cases[] = {
      {"kept", h + "MinVer 100\n" + full + sha + base + "UpFileList 101 P-101.zip\n" + sha, nullptr},
      {"no digest", h + "MinVer 100\n" + full + sha + base + "UpFileList 101 P-101.zip\n", "SHA256: a file"},
      {"minver above the newest", h + "MinVer 102\n" + full + base + "UpFileList 101 P-101.zip\n", "MinVer: 102 is above"},
      {"version over 9999", h + "MinVer 1\n" + full + base + "UpFileList 10000 P.zip\n", "1 to 9999"},
      {"version twice", h + "MinVer 1\n" + full + base + "UpFileList 2 a.zip\nUpFileList 2 b.zip\n", "listed twice"},
      {"plain http elsewhere", h + "MinVer 1\nFullDnURL http://dl.example/s.exe\n", "FullDnURL: plain http"},
      {"query in base", h + "MinVer 1\n" + full + "UpBaseURL https://h/get?f=\nUpFileList 1 a.zip\n", "query"},
      {"no program name", "[VLTWUpdateFile]\nMinVer 1\n" + full, "ProgName: missing"},
      {"entry under an earlier base",
       h + "MinVer 1\n" + full + "UpBaseURL https://dl.example/old/\nUpFileList 1 a.zip\n" + base, "another base"},
  };
  const std::string privatePem = ReadFile(key);
  for (const auto& c : cases) {
    WriteFile(manifest, c.text);
    WriteFile(manifest + ".sig", ToBase64(publish::Sign(privatePem, c.text)) + "\n");
    const Result r = Publish({"verify", manifest, "--key", publicKey});
    EXPECT_EQ(r.rc, c.says ? 1 : 0) << c.id << "\n" << r.out << r.err;
    const std::size_t rules = r.out.find("rules: ");
    EXPECT_NE(r.out.find(c.says ? c.says : "rules: kept", rules), std::string::npos) << c.id << "\n" << r.out;
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
