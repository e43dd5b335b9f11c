// What the download worker tells the player: the progress page's status
// lines and the messages of a failed download or unpacking.
#pragma once

namespace qz::texts {

// Download worker (printf formats: %ls takes converted data)
inline constexpr wchar_t kFileMissingFormat[] = L"ファイルが存在しません。\r\n\r\n%ls";
inline constexpr wchar_t kSaveFailedFormat[] = L"ファイルの保存に失敗しました。\r\n\r\n%ls";
inline constexpr wchar_t kDownloadFailedFormat[] =
    L"ファイルのダウンロードが正しく完了しませんでした。\r\n\r\n%ls";
inline constexpr wchar_t kHashMismatchFormat[] =
    L"ダウンロードしたファイルが公開されたものと一致しません。\r\n\r\n%ls";
inline constexpr wchar_t kExtractFailedFormat[] = L"圧縮ファイルの展開に失敗しました。\r\n\r\n%ls";
// the entry's name, then the archive's path
inline constexpr wchar_t kNameNotInCodePageFormat[] =
    L"圧縮ファイルの中に、このパソコンでは使えない文字を含むファイル名があるため、展開できません。\r\n\r\n%ls\r\n\r\n%ls";
inline constexpr wchar_t kNoDestinationFormat[] =
    L"インストール先のフォルダが分からないため、圧縮ファイルを展開できません。\r\n\r\n%ls";
// drive ("C:"), then the space needed ("1.3 GB")
inline constexpr wchar_t kDiskSpaceShortFormat[] =
    L"ディスクの空き容量が不足しています。\r\n\r\nドライブ %ls に %ls 以上の空き容量が必要です。";
inline constexpr wchar_t kPositionFormat[] = L"転送位置: %ls";
inline constexpr wchar_t kExtracting[] = L"圧縮ファイルを展開中...";
inline constexpr wchar_t kSourceFormat[] = L"Source: %ls";
inline constexpr wchar_t kTargetFormat[] = L"Target: %ls%ls";
inline constexpr wchar_t kDownloadCompleted[] = L"Download Completed!";
inline constexpr wchar_t kExtractCompleted[] = L"Extract Completed!";

}  // namespace qz::texts
