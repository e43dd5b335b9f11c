// SHA-256 and P-256 signature checks through CNG, against known values and a
// key and signature made once with openssl (dgst -sha256 -sign, DER turned
// into r||s).
#include <gtest/gtest.h>

#include <string>

#include "tests/winsupport/win_test_support.h"
#include "update/digest.h"

namespace qz {
namespace {

template <std::size_t N>
std::array<std::uint8_t, N> FromHex(const std::string& hex) {
  std::array<std::uint8_t, N> out{};
  EXPECT_EQ(hex.size(), 2 * N);
  for (std::size_t i = 0; i < N; ++i) out[i] = static_cast<std::uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  return out;
}

const std::string kMessage = "[VLTWUpdateFile]\r\nProgName game\r\nMinVer 100\r\n";
const P256PublicKey kKey = FromHex<65>(
    "04d7e366789227f1a0c97e9ec6a9e2d9e22cc75f082f79a8dc5301f238709bb0f10e6f7efc4249d23886f6c52d69cd5c4b4030185b"
    "97dc9e8278dad50e5b82cd79");
const P256Signature kSignature = FromHex<64>(
    "972fa49978251ede5c28d7d22215f14299606442ca04db953b4b729d70ef6b1c29e94b862ba501c875763320d094913c921e8ddb4b"
    "5a3b9d82dbb93d83f3b1c2");
const P256PublicKey kOtherKey = FromHex<65>(
    "04cc42093cd9ec0d55716e30ec4539465b442d047da4055f7192c58040167832c2b0fa854ce5ca36a5f557337b679558d053a6c1dd"
    "9cdd59526ca062e37e56b243");

TEST(Digest, Sha256KnownValues) {
  struct Case {
    std::string data;
    std::size_t piece;  // fed in pieces of this size
    const char* hex;
  } cases[] = {
      {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", 3, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), 65535, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    Sha256Hasher hasher;
    for (std::size_t at = 0; at < c.data.size(); at += c.piece) {
      ASSERT_TRUE(hasher.Update(c.data.data() + at, std::min(c.piece, c.data.size() - at)));
    }
    const auto digest = hasher.Finish();
    ASSERT_TRUE(digest);
    EXPECT_EQ(*digest, FromHex<32>(c.hex));
    EXPECT_FALSE(hasher.Finish()) << "a finished hasher gives nothing more";
    EXPECT_FALSE(hasher.Update("x", 1));
    EXPECT_EQ(Sha256Of(c.data.data(), c.data.size()), digest);

    // The same on the hashing thread, and one dropped unfinished.
    BackgroundSha256 background;
    BackgroundSha256 dropped;
    for (std::size_t at = 0; at < c.data.size(); at += c.piece) {
      const std::size_t piece = std::min(c.piece, c.data.size() - at);
      ASSERT_TRUE(background.Update(c.data.data() + at, piece));
      ASSERT_TRUE(dropped.Update(c.data.data() + at, piece));
    }
    EXPECT_EQ(background.Finish(), digest);
    EXPECT_FALSE(background.Update("x", 1));
  }
}

TEST(Digest, OnlyTheRightKeyOverTheExactBytesVerifies) {
  EXPECT_TRUE(VerifyP256(kKey, kMessage.data(), kMessage.size(), kSignature));

  std::string tampered = kMessage;
  tampered[tampered.size() - 3] = '1';  // MinVer 101
  P256Signature flipped = kSignature;
  flipped[10] ^= 1;
  P256PublicKey offCurve = kKey;
  offCurve[64] ^= 1;
  struct Case {
    const char* name;
    const P256PublicKey& key;
    std::string message;
    const P256Signature& signature;
  } cases[] = {
      {"tampered message", kKey, tampered, kSignature},
      {"message cut short", kKey, kMessage.substr(0, kMessage.size() - 1), kSignature},
      {"message with a byte more", kKey, kMessage + "\n", kSignature},
      {"other key", kOtherKey, kMessage, kSignature},
      {"key off the curve", offCurve, kMessage, kSignature},
      {"flipped signature bit", kKey, kMessage, flipped},
      {"zero signature", kKey, kMessage, P256Signature{}},
      {"zero key", P256PublicKey{}, kMessage, kSignature},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(VerifyP256(c.key, c.message.data(), c.message.size(), c.signature)) << c.name;
  }
}

// The file that was checked is the file that is used: held, it can be
// neither rewritten, replaced nor deleted; a file whose bytes changed since
// their check is not held at all.
TEST(Digest, HeldFileIsTheCheckedOneUntilReleased) {
  using namespace qz::test;
  const std::string path = NewTempDir("held") + "setup.exe";
  ASSERT_TRUE(WriteFileBytes(path, kMessage));
  FileHash right{true, *Sha256Of(kMessage.data(), kMessage.size())};
  FileHash wrong = right;
  wrong.digest[0] ^= 1;
  const struct {
    const char* name;
    FileHash hash;
    bool held;
  } cases[] = {{"published hash", right, true}, {"no hash stated", FileHash{}, true}, {"other hash", wrong, false}};
  for (const auto& c : cases) {
    bool mismatch = true;
    FileHandle held = HoldChecked(path, c.hash, mismatch);
    EXPECT_EQ(static_cast<bool>(held), c.held) << c.name;
    EXPECT_EQ(mismatch, !c.held) << c.name;
    if (!held) continue;
    FileHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer) << c.name << ": a writer is shut out";
    EXPECT_FALSE(DeleteFileA(path.c_str())) << c.name;
    ASSERT_TRUE(WriteFileBytes(path + ".x", "planted"));
    EXPECT_FALSE(MoveFileExA((path + ".x").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) << c.name;
    FileHandle reader(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader) << c.name << ": readers (the zip reader, the loader) still open it";
  }
  EXPECT_EQ(ReadFileBytes(path), kMessage);
}

}  // namespace
}  // namespace qz
