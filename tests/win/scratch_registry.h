// Tests that read or write HKLM, HKCU or HKCR get scratch keys of their own in
// place of those roots, so they never see another test's values or the
// prefix's own ones.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "base/win_handles.h"

namespace qz::test {

class ScratchRegistry : public testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    base_ = "Software\\QzScratch\\" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
    // Every scratch key is made before any root is redirected.
    for (Root& r : roots_) {
      ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (base_ + "\\" + r.name).c_str(), 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, r.scratch.put(), nullptr),
                ERROR_SUCCESS);
    }
    // The certificate stores come along, so https keeps trusting the test root.
    const char* stores = "Software\\Microsoft\\SystemCertificates";
    RegKey from, to;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, stores, 0, KEY_READ, from.put()), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(roots_[0].scratch.get(), stores, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, to.put(),
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegCopyTreeA(from.get(), nullptr, to.get()), ERROR_SUCCESS);
    for (Root& r : roots_) ASSERT_EQ(RegOverridePredefKey(r.root, r.scratch.get()), ERROR_SUCCESS);
  }
  void TearDown() override {
    for (Root& r : roots_) RegOverridePredefKey(r.root, nullptr);
    for (Root& r : roots_) r.scratch.reset();
    RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, base_.c_str());
  }

  // Writes a string value, creating the key. A null value makes only the key.
  static void SetText(HKEY root, const std::string& path, const char* name, const char* value) {
    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS)
        << path;
    if (value) {
      ASSERT_EQ(RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                               static_cast<DWORD>(std::strlen(value) + 1)),
                ERROR_SUCCESS);
    }
  }
  static bool GetText(HKEY root, const std::string& path, const char* name, std::string& value) {
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    if (RegGetValueA(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
      return false;
    }
    value = buffer;
    return true;
  }
  static bool KeyExists(HKEY root, const std::string& path) {
    RegKey key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
  }

 private:
  struct Root {
    HKEY root;
    const char* name;
    RegKey scratch;
  };
  std::string base_;
  Root roots_[3] = {{HKEY_LOCAL_MACHINE, "HKLM", {}}, {HKEY_CURRENT_USER, "HKCU", {}},
                    {HKEY_CLASSES_ROOT, "HKCR", {}}};
};

}  // namespace qz::test
