// What Windows shows of our files (properties, installed add-ons, task list):
// the version block names the product, its version and its publisher, and the
// launcher has its icon.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "qz_version.h"
#include "tests/winsupport/win_test_support.h"

namespace qz {
namespace {

using namespace qz::test;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST(VersionInfo, ProgramAndControlNameProductVersionAndPublisher) {
  struct Case {
    const char* file;
    const wchar_t* product;
    const wchar_t* original;
    DWORD type;
    bool icon;
  } cases[] = {
      {"Quorlynx.exe", L"Velto OneClick Install Manager", L"Quorlynx.exe", VFT_APP, true},
      {"Tessacom1.dll", L"Tessacom1 Module", L"Tessacom1.DLL", VFT_DLL, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::wstring path = Wide(BinDir() + c.file);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version block";
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    // The project's version, which the client package of that version lists.
    const DWORD high = (QZ_VERSION_MAJOR << 16) | QZ_VERSION_MINOR;
    const DWORD low = QZ_VERSION_BUILD << 16;
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, c.type);

    struct Translation {
      WORD language;
      WORD codePage;
    }* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof *translation);
    wchar_t table[32];
    swprintf(table, 32, L"\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
    auto text = [&](const wchar_t* name) {
      wchar_t* value = nullptr;
      UINT chars = 0;
      if (!VerQueryValueW(block.data(), (std::wstring(table) + name).c_str(), reinterpret_cast<void**>(&value),
                          &chars) ||
          !value) {
        return std::wstring(L"(missing)");
      }
      return std::wstring(value);
    };
    EXPECT_EQ(text(L"CompanyName"), L"Veltoworks");
    EXPECT_EQ(text(L"ProductName"), c.product);
    EXPECT_EQ(text(L"FileVersion"), Wide(QZ_VERSION_TEXT));
    EXPECT_EQ(text(L"ProductVersion"), Wide(QZ_VERSION_TEXT));
    EXPECT_EQ(text(L"OriginalFilename"), c.original);

    const UINT icons = ExtractIconExW(path.c_str(), -1, nullptr, nullptr, 0);
    EXPECT_EQ(icons > 0, c.icon) << icons << " icons";
  }
}

}  // namespace
}  // namespace qz
