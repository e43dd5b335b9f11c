#include "ui/worker_words.h"

#include <cwchar>

#include "ui/texts.h"

namespace qz {

namespace {

constexpr std::uint64_t kMegabyte = 1048576;
constexpr std::uint64_t kGigabyte = 1024 * kMegabyte;

// The longest text put together: paths and addresses are cut, never overrun.
constexpr std::size_t kMostChars = 1023;

// Each "%ls" of the format in turn takes `a`, then `b`.
std::wstring Format(const wchar_t* format, const std::wstring& a, const std::wstring& b = L"") {
  std::wstring text;
  const std::wstring* next[] = {&a, &b};
  std::size_t used = 0;
  for (const wchar_t* at = format; *at; ++at) {
    if (at[0] == L'%' && at[1] == L'l' && at[2] == L's' && used < 2) {
      text += *next[used++];
      at += 2;
    } else {
      text += *at;
    }
  }
  if (text.size() > kMostChars) text.resize(kMostChars);
  return text;
}

}  // namespace

std::wstring StatusText(WorkerStatus status, const std::wstring& subject, const std::wstring& detail) {
  switch (status) {
    case WorkerStatus::SizeCheck: return std::wstring(texts::kSizeChecking) + L" " + detail;
    case WorkerStatus::File: return subject;
    case WorkerStatus::SavedAt: return Format(texts::kPositionFormat, subject);
    case WorkerStatus::DownloadCompleted: return texts::kDownloadCompleted;
    case WorkerStatus::Extracting: return texts::kExtracting;
    case WorkerStatus::ExtractingFrom: return Format(texts::kSourceFormat, subject);
    case WorkerStatus::ExtractingTo: return Format(texts::kTargetFormat, subject, detail);
    case WorkerStatus::ExtractCompleted: return texts::kExtractCompleted;
  }
  return subject;
}

std::wstring FailureText(FailureKind kind, const std::wstring& subject, std::uint64_t bytesNeeded,
                         const std::wstring& entryName) {
  switch (kind) {
    case FailureKind::Quiet:
    case FailureKind::NoRights: return L"";
    case FailureKind::FileMissing: return Format(texts::kFileMissingFormat, subject);
    case FailureKind::SaveFailed: return Format(texts::kSaveFailedFormat, subject);
    case FailureKind::DownloadFailed: return Format(texts::kDownloadFailedFormat, subject);
    case FailureKind::HashMismatch: return Format(texts::kHashMismatchFormat, subject);
    case FailureKind::ExtractFailed: return Format(texts::kExtractFailedFormat, subject);
    case FailureKind::NameNotInCodePage: return Format(texts::kNameNotInCodePageFormat, entryName, subject);
    case FailureKind::SplitArchive: return Format(texts::kSplitArchiveFormat, subject);
    case FailureKind::NoDestination: return Format(texts::kNoDestinationFormat, subject);
    case FailureKind::DiskSpaceShort:
      return Format(texts::kDiskSpaceShortFormat, subject, SpaceText(bytesNeeded));
  }
  return L"";
}

std::wstring SpaceText(std::uint64_t bytes) {
  wchar_t text[64];
  if (bytes <= 1023 * kMegabyte) {
    const std::uint64_t megabytes = bytes / kMegabyte + (bytes % kMegabyte != 0);
    std::swprintf(text, 64, L"%llu MB", static_cast<unsigned long long>(megabytes));
    return text;
  }
  // Tenths of a gigabyte or, beyond 1023 of them, of a terabyte; the last
  // tenth rounded up.
  const bool tera = bytes > 1023 * kGigabyte;
  const std::uint64_t unit = tera ? 1024 * kGigabyte : kGigabyte;
  const std::uint64_t rest = bytes % unit;
  // rest * 10 cannot wrap: rest is below 2^40.
  const std::uint64_t tenths = bytes / unit * 10 + (rest * 10 + unit - 1) / unit;
  std::swprintf(text, 64, L"%llu.%llu %ls", static_cast<unsigned long long>(tenths / 10),
                static_cast<unsigned long long>(tenths % 10), tera ? L"TB" : L"GB");
  return text;
}

}  // namespace qz
