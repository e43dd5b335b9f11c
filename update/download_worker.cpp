#include "update/download_worker.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "base/field_text.h"
#include "base/run_log.h"
#include "base/win_handles.h"
#include "base/win_text.h"
#include "update/digest.h"
#include "update/disk_space.h"
#include "update/progress_text.h"
#include "update/worker_texts.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace qz {

namespace {

// Timed around every read: the counter's frequency is fixed at boot, asked once.
double NowMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMs;
}

std::wstring Format(const wchar_t* format, const std::wstring& a, const std::wstring& b = L"") {
  wchar_t text[1024];
  std::swprintf(text, 1024, format, a.c_str(), b.c_str());
  return text;
}

class Worker {
 public:
  Worker(const DownloadRequest& request, ProgressSink& sink, DownloadOutcome& outcome)
      : http_(*request.http),
        request_(request),
        files_(request.files),
        sink_(sink),
        outcome_(outcome),
        start_(GetTickCount()) {}

  int Run() {
    if (files_.empty()) return End(2);
    count_ = static_cast<int>(files_.size());
    if (!NameFiles()) return 0;
    if (!SizePass()) return 0;
    if (!CheckBeforeDownload()) return 0;
    for (std::size_t i = 0; i < files_.size(); ++i) {
      if (!Download(files_[i], sizes_[i])) return 0;
    }
    if (!Text(Line::Item, texts::kDownloadCompleted)) return 0;
    if (archiveSeen_) {
      runlog::Write("extract", "into " + request_.destination);
      if (!Extract()) {
        runlog::Write("extract", "failed");
        return 0;
      }
    }
    runlog::Write("download", "run done");
    return End(1);
  }

 private:
  using Line = ProgressSink::Line;
  enum class Attempt { Done, Retry, Failed, Stopped };

  int End(int result) {
    sink_.Finish(result);
    return result == 1 ? 1 : 0;
  }

  // Every change of the progress page goes through here: false means "stop now".
  bool Text(Line line, const std::wstring& text) {
    const std::wstring cut = CutStatus(text);
    std::wstring& last = shown_[line];
    if (cut == last) return !sink_.StopRequested();
    last = cut;
    return sink_.ShowLine(line, cut);
  }
  bool Progress(unsigned percent) {
    if (percent == lastPercent_) return !sink_.StopRequested();
    lastPercent_ = percent;
    return sink_.ShowPercent(percent);
  }

  bool Fail(const std::wstring& message) {
    http_.CloseRequest();
    runlog::Write("download", sink_.StopRequested() ? "stopped by the player" : "failed: " + WideToAnsi(message.c_str()));
    if (!message.empty() && !sink_.StopRequested()) sink_.ShowFailure(message);
    End(2);
    return false;
  }

  static std::string Url(const UpdateFile& file) { return FieldText(file.url); }
  void LogAnswer(const char* phase, const char* method, const UpdateFile& file, bool opened) {
    if (!opened) {
      runlog::Write(phase, std::string(method) + " " + Url(file) + ": no answer, error " +
                               runlog::ErrorText(GetLastError()));
      return;
    }
    runlog::Write(phase, std::string(method) + " " + Url(file) + ": status " + std::to_string(http_.Status()) +
                             ", length " + std::to_string(http_.GetContentLength()));
  }

  // Each file's local name, decided once: "archive or program" follows from
  // the name the file is saved under, and no two files of the run share one.
  bool NameFiles() {
    std::vector<std::pair<std::uint16_t, std::string>> list;
    for (const auto& file : files_) list.emplace_back(file.version, Url(file));
    const std::vector<std::string> names = LocalNamesForRun(list, !request_.gameInstaller);
    for (std::size_t i = 0; i < files_.size(); ++i) {
      UpdateFile& file = files_[i];
      const bool chosen = request_.gameInstaller && !request_.setupSavePath.empty();
      const std::string path = chosen ? request_.setupSavePath : request_.workDir + names[i];
      // A path that does not fit (with room for ".part.tag") would be cut
      // into another name: refuse it.
      if (path.size() + 9 >= sizeof file.localPath) {
        return Fail(Format(texts::kSaveFailedFormat, AnsiToWide(path)));
      }
      CopyCut(file.localPath, path);
      if (HasZipExtension(file.localPath)) archiveSeen_ = true;
      runlog::Write("plan", "file " + std::to_string(i + 1) + " version " + std::to_string(file.version) + " " +
                                Url(file) + " -> " + path +
                                (HasZipExtension(file.localPath) ? " (archive: unpacked)" : " (program: kept)"));
    }
    return true;
  }

  bool OpenChecked(const char* phase, const UpdateFile& file, DWORD* length) {
    HttpClient& http = http_;
    const bool opened = http.OpenUrl(file.url, kHttpContext, kHttpFlags, nullptr, 0);
    LogAnswer(phase, "GET", file, opened);
    if (!opened || sink_.StopRequested() || !http.IsStatusOk() || (*length = http.GetContentLength()) == 0) {
      http.CloseRequest();
      return false;
    }
    return true;
  }

  // The length of a file without starting its transfer: a GET closed unread
  // leaves the rest of the body on its connection, and under Wine that makes
  // the download that follows ten times slower. Servers that refuse HEAD are
  // asked with a GET as before.
  bool SizeOf(const UpdateFile& file, DWORD* length) {
    HttpClient& http = http_;
    const bool opened = http.OpenHead(file.url, kHttpContext, kHttpFlags);
    LogAnswer("size", "HEAD", file, opened);
    if (opened && http.IsStatusOk() && (*length = http.GetContentLength()) != 0) return true;
    http.CloseRequest();
    // A stop that ended the HEAD must not be answered with a GET.
    if (sink_.StopRequested()) return false;
    return OpenChecked("size", file, length);
  }

  bool SizePass() {
    for (auto& file : files_) {
      if (sink_.StopRequested()) return Fail(L"");
      DWORD length = 0;
      if (!SizeOf(file, &length)) {
        if (sink_.StopRequested()) return Fail(L"");
        return Fail(Format(texts::kFileMissingFormat, AnsiToWide(Url(file))));
      }
      total_ += length;
      sizes_.push_back(length);
      http_.CloseRequest();
    }
    runlog::Write("size", "total " + std::to_string(total_) + " bytes");
    return true;
  }

  // Waits before another attempt; false when a stop came meanwhile.
  bool Pause(unsigned ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
      if (sink_.StopRequested()) return false;
      Sleep(ms - (GetTickCount() - start) < 50 ? ms - (GetTickCount() - start) : 50);
    }
    return !sink_.StopRequested();
  }

  bool Download(UpdateFile& file, DWORD expected) {
    ++fileNumber_;
    if (!Text(Line::Count, CountLine(fileNumber_, count_, 0, total_))) return Fail(L"");
    if (!Text(Line::Item, AnsiToWide(Url(file)))) return Fail(L"");
    if (request_.gameInstaller) outcome_.installerPath = file.localPath;
    const std::wstring localPath = AnsiToWide(file.localPath);
    if (!Text(Line::Position, Format(texts::kPositionFormat, localPath))) return Fail(L"");
    lastPercent_ = ~0u;
    if (!Progress(0)) return Fail(L"");

    const std::string part = std::string(file.localPath) + ".part";
    const DWORD started = GetTickCount();
    const std::uint64_t runBefore = thisRun_;
    std::uint64_t counted = 0;  // this file's bytes in downloaded_
    std::wstring failure;
    // A connection lost after new bytes arrived is made again at once; the
    // pauses (and the count of tries left) are for tries that bring nothing.
    std::size_t idle = 0;
    for (;;) {
      const std::uint64_t before = thisRun_;
      const Attempt result = Try(file, expected, part, counted, failure);
      if (result == Attempt::Done) break;
      if (result == Attempt::Stopped) return Fail(L"");
      if (result == Attempt::Failed) return Fail(failure);
      if (thisRun_ != before) {
        idle = 0;
        runlog::Write("download", "connection lost after new bytes: trying again at once");
        continue;
      }
      if (idle >= request_.retryDelaysMs.size()) return Fail(failure);
      runlog::Write("download", "try again in " + std::to_string(request_.retryDelaysMs[idle]) + " ms (" +
                                    std::to_string(idle + 1) + " of " +
                                    std::to_string(request_.retryDelaysMs.size()) + ")");
      if (!Pause(request_.retryDelaysMs[idle++])) return Fail(L"");
    }
    DeleteFileA(file.localPath);
    if (!MoveFileA(part.c_str(), file.localPath)) return Fail(Format(texts::kSaveFailedFormat, localPath));
    DeleteFileA((part + ".tag").c_str());
    // With what this run received and how long it took: a slow link shows.
    runlog::Write("download", "saved " + std::string(file.localPath) + ", " + std::to_string(expected) +
                                  " bytes, " + std::to_string(thisRun_ - runBefore) + " received in " +
                                  std::to_string(GetTickCount() - started) + " ms");
    return true;
  }

  // The bytes of an earlier attempt or run go on only while the server still
  // has the same file: its validator (strong ETag, else Last-Modified) is
  // kept beside the part with the address it came from.
  static std::string ReadTag(const std::string& tagPath, const std::string& url) {
    FileHandle tag(CreateFileA(tagPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!tag) return {};
    char text[4096 + 512];
    DWORD got = 0;
    if (!ReadFile(tag.get(), text, sizeof text, &got, nullptr) || got == sizeof text) return {};
    const std::string content(text, got);
    const std::size_t newline = content.find('\n');
    if (newline == std::string::npos || content.substr(0, newline) != url) return {};
    return content.substr(newline + 1);
  }
  static void WriteTag(const std::string& tagPath, const std::string& url, const std::string& validator) {
    if (validator.empty()) {
      DeleteFileA(tagPath.c_str());
      return;
    }
    FileHandle tag(CreateFileA(tagPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
    const std::string content = url + "\n" + validator;
    DWORD written = 0;
    if (!tag || !WriteFile(tag.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr)) {
      tag.reset();
      DeleteFileA(tagPath.c_str());
    }
  }
  static std::uint64_t SizeOnDisk(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  // One request for the rest of a file. Retry: a network failure (no answer,
  // a failed read, a body cut short); what arrived stays in the part.
  Attempt Try(UpdateFile& file, DWORD expected, const std::string& part, std::uint64_t& counted,
              std::wstring& failure) {
    const std::string url = Url(file);
    const std::string tagPath = part + ".tag";
    const std::wstring cut = Format(texts::kDownloadFailedFormat, AnsiToWide(url));
    const std::wstring localPath = AnsiToWide(file.localPath);
    failure = cut;

    std::uint64_t have = SizeOnDisk(part);
    const std::string validator = have > 0 && have < expected ? ReadTag(tagPath, url) : std::string();
    if (validator.empty()) have = 0;
    std::string headers;
    if (have > 0) headers = "Range: bytes=" + std::to_string(have) + "-\r\nIf-Range: " + validator + "\r\n";
    const bool opened = http_.OpenUrl(file.url, kHttpContext, kHttpFlags, headers.empty() ? nullptr : headers.c_str(),
                                      static_cast<DWORD>(headers.size()));
    if (sink_.StopRequested()) return Attempt::Stopped;
    LogAnswer("download", have > 0 ? ("GET from byte " + std::to_string(have)).c_str() : "GET", file, opened);
    if (!opened) return Attempt::Retry;
    const DWORD status = http_.Status();
    const DWORD length = http_.GetContentLength();
    if (status == 206 && have > 0 && have + length == expected &&
        http_.Header("Content-Range").rfind("bytes " + std::to_string(have) + "-", 0) == 0) {
      runlog::Write("download", "resumed at byte " + std::to_string(have));
    } else if (status == 200 && length == expected) {
      if (have > 0) runlog::Write("download", "the server sent the whole file: starting over");
      have = 0;
    } else if (status >= 500 && status < 600) {
      http_.CloseRequest();
      return Attempt::Retry;
    } else {
      // The server changed since the size pass (or answered a range it was
      // not asked for): nothing of it is saved.
      http_.CloseRequest();
      failure.clear();
      return Attempt::Failed;
    }
    const std::string etag = http_.Header("ETag");
    WriteTag(tagPath, url, !etag.empty() && etag.rfind("W/", 0) != 0 ? etag : http_.Header("Last-Modified"));

    FileHandle out(CreateFileA(part.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               have > 0 ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) {
      failure = Format(texts::kSaveFailedFormat, localPath);
      return Attempt::Failed;
    }
    std::unique_ptr<char[]> buffer(new char[kLargestRead]);
    std::uint32_t readSize = kFirstRead;
    // Hashed as it arrives, so checking costs no second read of the file; a
    // resumed file's hash covers the bytes already on disk, read first.
    std::optional<BackgroundSha256> hasher;
    if (file.hash.present) hasher.emplace();
    for (std::uint64_t read = 0; read < have;) {
      DWORD got = 0;
      const DWORD want = static_cast<DWORD>(have - read < kLargestRead ? have - read : kLargestRead);
      if (!ReadFile(out.get(), buffer.get(), want, &got, nullptr) || got == 0) {
        failure = Format(texts::kSaveFailedFormat, localPath);
        return Attempt::Failed;
      }
      if (hasher) hasher->Update(buffer.get(), got);
      read += got;
    }
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(have);
    if (!SetFilePointerEx(out.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(out.get())) {
      failure = Format(texts::kSaveFailedFormat, localPath);
      return Attempt::Failed;
    }
    // Progress counts what is on disk as done.
    downloaded_ = downloaded_ - counted + have;
    counted = have;

    std::uint64_t received = have;
    for (;;) {
      const double asked = NowMs();
      const int n = http_.Read(buffer.get(), readSize);
      if (sink_.StopRequested()) return Attempt::Stopped;  // the partial file stays
      if (n == 0) break;
      if (n < 0) {
        runlog::Write("download", "read failed at byte " + std::to_string(received) + ", error " +
                                      runlog::ErrorText(GetLastError()));
        http_.CloseRequest();
        return Attempt::Retry;
      }
      readSize = NextReadSize(readSize, static_cast<std::uint32_t>(n), NowMs() - asked);
      received += static_cast<DWORD>(n);
      if (received > expected) {
        http_.CloseRequest();
        return Attempt::Failed;
      }
      if (hasher) hasher->Update(buffer.get(), static_cast<std::size_t>(n));
      DWORD written = 0;
      if (!WriteFile(out.get(), buffer.get(), static_cast<DWORD>(n), &written, nullptr) ||
          written != static_cast<DWORD>(n)) {
        failure = Format(texts::kSaveFailedFormat, localPath);
        runlog::Write("download", "write failed, error " + runlog::ErrorText(GetLastError()));
        return Attempt::Failed;
      }
      downloaded_ += static_cast<DWORD>(n);
      counted += static_cast<DWORD>(n);
      thisRun_ += static_cast<DWORD>(n);
      // The speed counts only what this run received.
      if (!Text(Line::Count, CountLine(fileNumber_, count_, downloaded_, total_)) ||
          !Text(Line::Speed, SpeedLine(thisRun_, GetTickCount() - start_)) ||
          !Progress(ProgressPercent(downloaded_, total_))) {
        return Attempt::Stopped;
      }
    }
    http_.CloseRequest();
    // A body shorter than announced is an interrupted download, not a file.
    if (received != expected) {
      runlog::Write("download", "body ended at byte " + std::to_string(received) + " of " + std::to_string(expected));
      return Attempt::Retry;
    }
    if (!CloseHandle(out.release())) {
      failure = Format(texts::kSaveFailedFormat, localPath);
      return Attempt::Failed;
    }
    // Not what the publisher released: it is neither kept, run nor unpacked.
    if (hasher) {
      const std::optional<Sha256Digest> digest = hasher->Finish();
      if (!digest || *digest != file.hash.digest) {
        DeleteFileA(part.c_str());
        DeleteFileA(tagPath.c_str());
        runlog::Write("download", "SHA-256 differs from the published one: deleted");
        failure = Format(texts::kHashMismatchFormat, AnsiToWide(url));
        return Attempt::Failed;
      }
      runlog::Write("download", "SHA-256 matches");
    }
    return Attempt::Done;
  }

  // ---- before downloading, and unpacking ----

  // An archive with nowhere to go is refused before anything is fetched; the
  // pass's files must fit on the volume they are saved to.
  bool CheckBeforeDownload() {
    if (archiveSeen_ && request_.destination.empty()) return FailNoDestination();
    const bool savedElsewhere = request_.gameInstaller && !request_.setupSavePath.empty();
    return CheckSpace(savedElsewhere ? request_.setupSavePath : request_.workDir, total_);
  }

  // Without a known folder the entries would land wherever the launcher
  // happens to run: refuse, and say why.
  bool FailNoDestination() {
    for (const auto& file : files_) {
      if (HasZipExtension(file.url) || HasZipExtension(file.localPath)) {
        return Fail(Format(texts::kNoDestinationFormat, AnsiToWide(FieldText(file.url))));
      }
    }
    return Fail(Format(texts::kNoDestinationFormat, L""));
  }

  // The volume that holds `path` must have room for `bytes` and the margin;
  // when it has not, the player is told which drive and how much, and nothing
  // is changed. A volume that cannot be asked is not refused: the writes
  // themselves still fail cleanly.
  bool CheckSpace(const std::string& path, std::uint64_t bytes) {
    char volume[MAX_PATH] = {};
    if (!GetVolumePathNameA(path.c_str(), volume, sizeof volume)) {
      if (path.size() < 2 || path[1] != ':') return true;
      CopyCut(volume, path.substr(0, 2) + "\\");
    }
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExA(volume, &available, nullptr, nullptr)) return true;
    const std::uint64_t needed = SpaceWithMargin(bytes);
    if (available.QuadPart >= needed) return true;
    std::string drive = volume;
    if (drive.size() > 1 && drive.back() == '\\') drive.pop_back();
    return Fail(Format(texts::kDiskSpaceShortFormat, AnsiToWide(drive), SpaceText(needed)));
  }

  // Every archive is read through first: a name the reader refuses, entries
  // that share data, or too little room for all of it stops the run before
  // anything is written.
  bool Extract() {
    if (!Text(Line::Count, texts::kExtracting) || !Progress(0) || !Text(Line::Speed, L"")) return false;
    if (request_.destination.empty()) return FailNoDestination();
    const char* destination = request_.destination.c_str();
    CZipArchive archive;
    CZipEntryInfo entry;
    std::uint64_t bytes = 0;
    for (auto& file : files_) {
      if (!HasZipExtension(file.localPath)) continue;
      try {
        archive.Open(file.localPath, CZipArchive::zipOpenReadOnly, 0);
        const int entries = archive.GetEntryCount();
        for (int i = 0; i < entries; ++i) {
          archive.GetEntryInfo(entry, static_cast<std::uint32_t>(i));
          archive.CheckedTargetPath(entry.GetName().c_str(), destination, true, nullptr);
          if (!entry.IsDirectory()) bytes += entry.uncompressedSize;
        }
        archive.Close(0, false);
      } catch (const CZipException& e) {
        archive.Close(1, false);
        return FailArchive(e, file);
      }
      if (sink_.StopRequested()) return false;
    }
    if (!CheckSpace(request_.destination, bytes)) return false;

    const std::wstring wideDestination = AnsiToWide(destination);
    for (auto& file : files_) {
      if (!HasZipExtension(file.localPath)) continue;
      if (!Text(Line::Item, Format(texts::kSourceFormat, AnsiToWide(file.localPath)))) return false;
      try {
        archive.Open(file.localPath, CZipArchive::zipOpenReadOnly, 0);
        // A read-only file of the installation is replaced: the reader clears
        // the attribute only after the entry's name passed its own checks.
        archive.SetReplaceReadOnly(true);
        const int entries = archive.GetEntryCount();
        for (int i = 0; i < entries; ++i) {
          if (sink_.StopRequested()) {
            archive.Close(1, false);
            return false;
          }
          const auto index = static_cast<std::uint32_t>(i);
          archive.GetEntryInfo(entry, index);
          const std::string name = entry.GetName();
          if (!Text(Line::Position, Format(texts::kTargetFormat, wideDestination, AnsiToWide(name)))) {
            archive.Close(1, false);
            return false;
          }
          if (!archive.ExtractEntry(index, destination, true, nullptr, 65536) && !entry.IsDirectory() &&
              !WrittenWhole(archive, entry, destination)) {
            archive.Close(1, false);
            return Fail(Format(texts::kExtractFailedFormat, AnsiToWide(file.localPath)));
          }
        }
        archive.Close(0, false);
      } catch (const CZipException& e) {
        archive.Close(1, false);
        return FailArchive(e, file);
      }
    }
    for (auto& file : files_) {
      if (HasZipExtension(file.localPath)) DeleteFileA(file.localPath);
    }
    return Text(Line::Item, texts::kExtractCompleted);
  }

  // A name this system's code page cannot hold is named (it is read as the
  // UTF-8 it was stored as); any other fault of the archive is reported as such.
  bool FailArchive(const CZipException& e, const UpdateFile& file) {
    runlog::Write("extract", "zip error " + std::to_string(e.cause) + " in " + std::string(file.localPath));
    if (e.cause == CZipException::errNameNotInCodePage) {
      return Fail(Format(texts::kNameNotInCodePageFormat, Utf8ToWide(e.entryName), AnsiToWide(file.localPath)));
    }
    return Fail(Format(texts::kExtractFailedFormat, AnsiToWide(file.localPath)));
  }

  // ExtractEntry also answers false when only the time or attributes could
  // not be set; an entry whose data came out whole is still installed.
  static bool WrittenWhole(const CZipArchive& archive, const CZipEntryInfo& entry,
                           const char* destination) {
    const std::string path = archive.PredictTargetPath(entry.GetName().c_str(), destination, true, nullptr);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    return ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == entry.uncompressedSize;
  }

  HttpClient& http_;
  const DownloadRequest& request_;
  std::vector<UpdateFile> files_;  // with the local paths this run saves them under
  std::vector<DWORD> sizes_;       // each file's length, from the size pass
  ProgressSink& sink_;
  DownloadOutcome& outcome_;
  const DWORD start_;
  std::uint64_t total_ = 0;
  std::uint64_t downloaded_ = 0;  // done, resumed bytes included
  std::uint64_t thisRun_ = 0;     // received by this run
  int fileNumber_ = 0;
  int count_ = 0;
  bool archiveSeen_ = false;
  unsigned lastPercent_ = ~0u;
  std::map<Line, std::wstring> shown_;  // a text that did not change is not sent again
};

}  // namespace

int RunDownload(const DownloadRequest& request, ProgressSink& sink, DownloadOutcome& outcome) {
  if (!request.http) {
    sink.Finish(2);
    return 0;
  }
  return Worker(request, sink, outcome).Run();
}

}  // namespace qz
