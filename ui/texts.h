// Everything the player reads, kept once, as UTF-16 so it shows correctly
// whatever the system's code page.
#pragma once

namespace qz::texts {

// Start-up
inline constexpr wchar_t kBadParameter[] = L"パラメータが正しくありません。";
inline constexpr wchar_t kAlreadyRunning[] =
    L"実行中のインストールウィザードがあります。\r\n\r\n使用中のプログラムを閉じた後､再実行してください。";
inline constexpr wchar_t kDataReadFailed[] =
    L"原因不明のエラーのため､実行に失敗しました。\r\n\r\n再実行してください。(Data Read Failed)";

// Captions
inline constexpr wchar_t kNoticeCaption[] = L"お知らせ";
inline constexpr wchar_t kWizardCaption[] = L"Velto インストールウィザード ";

}  // namespace qz::texts
