#include "base/win_text.h"

#include <windows.h>

namespace qz {

namespace {

std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n > 0 ? n : 0, L'\0');
  if (n > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string FromWide(UINT codePage, const wchar_t* text, int length) {
  if (!text || length == 0) return {};
  const int n = WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 0, '\0');
  if (n > 0) WideCharToMultiByte(codePage, 0, text, length, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

std::wstring AnsiToWide(const std::string& text) { return ToWide(CP_ACP, text); }

std::string WideToAnsi(const wchar_t* text, int length) {
  if (text && length < 0) length = lstrlenW(text);
  return FromWide(CP_ACP, text, length);
}

std::wstring Utf8ToWide(const std::string& text) { return ToWide(CP_UTF8, text); }

std::string WideToUtf8(const std::wstring& text) {
  return FromWide(CP_UTF8, text.data(), static_cast<int>(text.size()));
}

}  // namespace qz
