// The launch record between two real processes.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "base/win_handles.h"
#include "record/handover.h"
#include "record/section_name.h"
#include "tests/winsupport/win_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

std::vector<BYTE> CurrentUserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  Handle owned(token);
  std::vector<BYTE> user(256);
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size)) return {};
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

LaunchBlock PatternedBlock() {
  LaunchBlock block;
  auto* bytes = reinterpret_cast<unsigned char*>(&block);
  for (size_t i = 0; i < sizeof block; ++i) bytes[i] = static_cast<unsigned char>(1 + i % 251);
  SetField(block.RunMode, "Vltw_OnlySetup");
  SetField(block.ServPort, "123456");  // full width: no terminator
  SetField(block.ServIP, "127.0.0.1");
  return block;
}

TEST(HandOver, ReceiverGetsEveryByteWithQuotedPathAndFolder) {
  const std::string dir = NewTempDir("game dir ");  // a blank in the path
  const std::string exe = dir + "game.exe";
  ASSERT_TRUE(CopyProgram("standin_game.exe", exe));
  const LaunchBlock block = PatternedBlock();

  ASSERT_TRUE(HandOverBlock(block, exe, dir.c_str(), SectionForm::Game, 3000));
  ASSERT_TRUE(WaitForFile(exe + ".record.txt", kWait));
  auto record = ReadRecord(exe + ".record.txt");
  EXPECT_EQ(record["block"], "ok");
  const std::string args = record["args"];
  EXPECT_EQ(args.size(), 12u) << args;
  EXPECT_EQ(args.substr(0, 2), "KG");
  EXPECT_EQ(record["cmdline"], "\"" + exe + "\" " + args);
  EXPECT_EQ(record["cwd"] + "\\", dir);

  const std::string got = ReadFileBytes(exe + ".block");
  ASSERT_EQ(got.size(), sizeof block);
  EXPECT_EQ(got, std::string(reinterpret_cast<const char*>(&block), sizeof block));
  LaunchBlock received;
  std::memcpy(&received, got.data(), sizeof received);
  EXPECT_EQ(FieldText(received.ServPort), "123456");
  EXPECT_EQ(FieldText(received.ServIP), "127.0.0.1");
}

TEST(HandOver, LateReceiverFindsNoSection) {
  const std::string dir = NewTempDir("late");
  const std::string exe = dir + "game.exe";
  ASSERT_TRUE(CopyProgram("standin_game.exe", exe));
  SetEnvironmentVariableA("QZ_STANDIN_DELAY_MS", "2000");
  const bool started = HandOverBlock(PatternedBlock(), exe, dir.c_str(), SectionForm::Game, 200);
  SetEnvironmentVariableA("QZ_STANDIN_DELAY_MS", nullptr);
  ASSERT_TRUE(started);
  ASSERT_TRUE(WaitForFile(exe + ".record.txt", kWait));
  EXPECT_EQ(ReadRecord(exe + ".record.txt")["block"], "none");
}

TEST(HandOver, MissingProgramFailsAndLeavesNoSection) {
  const std::string dir = NewTempDir("missing");
  const DWORD start = GetTickCount();
  EXPECT_FALSE(HandOverBlock(PatternedBlock(), dir + "nothing.exe", dir.c_str(), SectionForm::Game, 10000));
  EXPECT_LT(GetTickCount() - start, 5000u) << "a failed start must not wait out the delay";
  // The name is drawn from the tick count; no section of the moment remains.
  const DWORD t = GetTickCount();
  LaunchBlock out;
  for (DWORD d = 0; d < 2000; d += 1) {
    const std::string name = SectionName(SectionForm::Game, t - d, t - d);
    ASSERT_FALSE(TakeOverBlock(name.c_str(), &out)) << name;
  }
}

TEST(HandOver, OwnSectionOfTheUserUnderANameNobodyTookFirst) {
  const std::string dir = NewTempDir("squat");
  const std::string exe = dir + "game.exe";
  ASSERT_TRUE(CopyProgram("standin_game.exe", exe));
  // Another process of the session took the names of the coming ticks first:
  // sections it could read, and objects of another type.
  constexpr DWORD kAhead = 40;
  std::vector<std::string> taken;
  std::vector<MappedView> views;
  std::vector<Handle> objects;
  // Taking the names must be quicker than the ticks it covers, or the first
  // names tried would be free; a busy machine gets a few more attempts.
  for (int attempt = 0; attempt < 20; ++attempt) {
    views.clear();
    objects.clear();
    taken.clear();
    const DWORD now = GetTickCount();
    for (DWORD t = now; t <= now + kAhead; ++t) {
      taken.push_back(SectionName(SectionForm::Game, t, t));
      if (t % 2) {
        objects.emplace_back(CreateMutexA(nullptr, FALSE, taken.back().c_str()));
      } else {
        objects.emplace_back(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                sizeof(LaunchBlock), taken.back().c_str()));
        views.emplace_back(MapViewOfFile(objects.back().get(), FILE_MAP_READ, 0, 0, 0));
        ASSERT_TRUE(views.back());
      }
      ASSERT_TRUE(objects.back());
    }
    if (GetTickCount() - now < kAhead / 2) break;
  }
  ASSERT_FALSE(taken.empty());

  std::atomic<bool> started{false};
  std::thread writer([&] { started = HandOverBlock(PatternedBlock(), exe, dir.c_str(), SectionForm::Game, 3000); });
  const bool received = WaitForFile(exe + ".record.txt", kWait);
  auto record = ReadRecord(exe + ".record.txt");
  // While it is held, the section's only entry is the current user's, and
  // its label keeps lower integrity levels out.
  Handle section(OpenFileMappingA(READ_CONTROL, FALSE, record["args"].c_str()));
  PACL dacl = nullptr;
  PACL sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD read = section ? GetSecurityInfo(section.get(), SE_KERNEL_OBJECT,
                                               DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, nullptr,
                                               nullptr, &dacl, &sacl, &descriptor)
                             : GetLastError();
  writer.join();
  ASSERT_TRUE(started);
  ASSERT_TRUE(received);
  EXPECT_EQ(record["block"], "ok");
  EXPECT_EQ(std::count(taken.begin(), taken.end(), record["args"]), 0) << record["args"];
  ASSERT_EQ(read, static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr) << "a null DACL lets everyone in";
  EXPECT_EQ(dacl->AceCount, 1);
  ACCESS_ALLOWED_ACE* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&ace)));
  EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_TRUE(EqualSid(&ace->SidStart, CurrentUserSid().data()));
  ASSERT_NE(sacl, nullptr) << "no mandatory label";
  SYSTEM_MANDATORY_LABEL_ACE* label = nullptr;
  ASSERT_TRUE(GetAce(sacl, 0, reinterpret_cast<void**>(&label)));
  EXPECT_EQ(label->Header.AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
  EXPECT_EQ(label->Mask, static_cast<DWORD>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP | SYSTEM_MANDATORY_LABEL_NO_READ_UP |
                                            SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP));
  PSID labelSid = &label->SidStart;
  EXPECT_GE(*GetSidSubAuthority(labelSid, 0), static_cast<DWORD>(SECURITY_MANDATORY_MEDIUM_RID))
      << "the launcher's own level, never below medium";
  LocalFree(descriptor);
  for (const MappedView& view : views) {
    EXPECT_EQ(std::string(static_cast<const char*>(view.get()), sizeof(LaunchBlock)),
              std::string(sizeof(LaunchBlock), '\0'));
  }
}

// The elevated copy's record: after it is made, no process of the player
// may open it or rewrite its list (OWNER RIGHTS holds the owner to reading
// the list), the administrators may read it and answer in it, and its name
// follows no clock. The receiver believes only such a section.
TEST(HandOver, RecordForTheElevatedCopyOnlyAdministratorsMayChange) {
  PublishedRecord elevated, again, own;
  ASSERT_TRUE(elevated.Publish(PatternedBlock(), SectionForm::Launcher, 4096, SectionAccess::ElevatedCopy));
  ASSERT_TRUE(again.Publish(PatternedBlock(), SectionForm::Launcher, 4096, SectionAccess::ElevatedCopy));
  ASSERT_TRUE(own.Publish(PatternedBlock(), SectionForm::Launcher, 0, SectionAccess::Owner));
  EXPECT_TRUE(IsLauncherToken(elevated.Name().c_str()));
  EXPECT_NE(elevated.Name(), again.Name());
  EXPECT_TRUE(OnlyAdministratorsMayChangeSection(elevated.Name().c_str()));
  EXPECT_FALSE(OnlyAdministratorsMayChangeSection(own.Name().c_str())) << "the player may rewrite it";
  EXPECT_FALSE(OnlyAdministratorsMayChangeSection("K1000_10000")) << "no such section";

  Handle section(OpenFileMappingA(READ_CONTROL, FALSE, elevated.Name().c_str()));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(section.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  char* text = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                                   DACL_SECURITY_INFORMATION, &text, nullptr));
  EXPECT_EQ(std::string(text), "D:P(A;;GWGR;;;BA)(A;;RC;;;OW)");
  LocalFree(text);
  LocalFree(descriptor);
  LaunchBlock copy{};
  ASSERT_TRUE(TakeOverBlock(elevated.Name().c_str(), &copy));
  const LaunchBlock expected = PatternedBlock();
  EXPECT_EQ(std::memcmp(&copy, &expected, sizeof copy), 0);
}

TEST(HandOver, CommandLineIsQuotedAndBounded) {
  EXPECT_EQ(QuotedCommandLine("C:\\Program Files\\g.exe", "KG1000_10000"),
            "\"C:\\Program Files\\g.exe\" KG1000_10000");
  const std::string longPath(250, 'a');
  EXPECT_EQ(QuotedCommandLine(longPath, "KG1000_10000"), "");
  EXPECT_EQ(QuotedCommandLine(std::string(259 - 3 - 12, 'b'), "KG1000_10000").size(), 259u);
}

}  // namespace
}  // namespace qz
