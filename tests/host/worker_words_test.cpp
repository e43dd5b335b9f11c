#include <gtest/gtest.h>

#include "base/run_log.h"
#include "ui/worker_words.h"

namespace qz {
namespace {

// Every kind with its subject in the player's words, written out: a kind
// worded with another's text, or a subject dropped, shows here.
TEST(WorkerWords, EachFailureKindIsWordedWithItsSubject) {
  const struct {
    FailureKind kind;
    const wchar_t* subject;
    std::uint64_t bytes;
    const wchar_t* text;
  } cases[] = {
      {FailureKind::Quiet, L"https://dl/x.zip", 0, L""},
      {FailureKind::FileMissing, L"https://dl/p.zip", 0, L"ファイルが存在しません。\r\n\r\nhttps://dl/p.zip"},
      {FailureKind::SaveFailed, L"C:\\t\\p.zip", 0, L"ファイルの保存に失敗しました。\r\n\r\nC:\\t\\p.zip"},
      {FailureKind::DownloadFailed, L"https://dl/p.zip", 0,
       L"ファイルのダウンロードが正しく完了しませんでした。\r\n\r\nhttps://dl/p.zip"},
      {FailureKind::HashMismatch, L"https://dl/p.zip", 0,
       L"ダウンロードしたファイルが公開されたものと一致しません。\r\n\r\nhttps://dl/p.zip"},
      {FailureKind::ExtractFailed, L"C:\\t\\p.zip", 0, L"圧縮ファイルの展開に失敗しました。\r\n\r\nC:\\t\\p.zip"},
      {FailureKind::SplitArchive, L"C:\\t\\p.zip", 0, L"分割された圧縮ファイルは展開できません。\r\n\r\nC:\\t\\p.zip"},
      {FailureKind::NoDestination, L"", 0,
       L"インストール先のフォルダが分からないため、圧縮ファイルを展開できません。\r\n\r\n"},
      {FailureKind::DiskSpaceShort, L"D:", 1536ull << 20,
       L"ディスクの空き容量が不足しています。\r\n\r\nドライブ D: に 1.5 GB 以上の空き容量が必要です。"},
      // The launcher hands the change to its elevated copy instead.
      {FailureKind::NoRights, L"C:\\Program Files\\g\\a.dll", 0, L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureText(c.kind, c.subject, c.bytes), c.text) << FailureName(c.kind);
  }
  EXPECT_EQ(FailureText(FailureKind::NameNotInCodePage, L"C:\\t\\p.zip", 0, L"café.txt"),
            L"圧縮ファイルの中に、このパソコンでは使えない文字を含むファイル名があるため、展開できません。"
            L"\r\n\r\ncafé.txt\r\n\r\nC:\\t\\p.zip")
      << "the entry's name, then the archive";
  // A subject longer than any message box line is cut, never overrun.
  EXPECT_EQ(FailureText(FailureKind::FileMissing, std::wstring(5000, L'a')).size(), 1023u);
}

TEST(WorkerWords, StatusLinesKeepTheirWords) {
  const struct {
    WorkerStatus status;
    const wchar_t* subject;
    const wchar_t* detail;
    const wchar_t* text;
  } cases[] = {
      {WorkerStatus::File, L"https://dl/p.zip", L"", L"https://dl/p.zip"},
      {WorkerStatus::SavedAt, L"C:\\t\\101_p.zip", L"", L"転送位置: C:\\t\\101_p.zip"},
      {WorkerStatus::DownloadCompleted, L"", L"", L"Download Completed!"},
      {WorkerStatus::Extracting, L"", L"", L"圧縮ファイルを展開中..."},
      {WorkerStatus::ExtractingFrom, L"C:\\t\\101_p.zip", L"", L"Source: C:\\t\\101_p.zip"},
      {WorkerStatus::ExtractingTo, L"C:\\Game\\", L"data/a.txt", L"Target: C:\\Game\\data/a.txt"},
      {WorkerStatus::ExtractCompleted, L"", L"", L"Extract Completed!"},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusText(c.status, c.subject, c.detail), c.text) << c.text;
}

// What a catch-all writes to the log names what it caught.
TEST(WorkerWords, CaughtTextNamesTheException) {
  try {
    throw std::runtime_error("disk gone");
  } catch (...) {
    const std::string text = runlog::CaughtText();
    EXPECT_NE(text.find("runtime_error"), std::string::npos) << text;
    EXPECT_NE(text.find("disk gone"), std::string::npos) << text;
  }
  try {
    throw 7;
  } catch (...) {
    EXPECT_EQ(runlog::CaughtText(), "an exception of unknown type");
  }
}

}  // namespace
}  // namespace qz
