#include "update/download_worker.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "base/field_text.h"
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

constexpr DWORD kBlockSize = 65535;

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
    if (!SizePass()) return 0;
    if (!CheckBeforeDownload()) return 0;
    for (auto& file : files_) {
      if (!Download(file)) return 0;
    }
    if (!Text(Line::Item, texts::kDownloadCompleted)) return 0;
    if (archiveSeen_ && !Extract()) return 0;
    return End(1);
  }

 private:
  using Line = ProgressSink::Line;

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
    if (!message.empty() && !sink_.StopRequested()) sink_.ShowFailure(message);
    End(2);
    return false;
  }

  bool OpenChecked(const char* url, DWORD* length) {
    HttpClient& http = http_;
    if (!http.OpenUrl(url, kHttpContext, kHttpFlags, nullptr, 0) || !http.IsStatusOk() ||
        (*length = http.GetContentLength()) == 0) {
      http.CloseRequest();
      return false;
    }
    return true;
  }

  // The length of a file without starting its transfer: a GET closed unread
  // leaves the rest of the body on its connection, and under Wine that makes
  // the download that follows ten times slower. Servers that refuse HEAD are
  // asked with a GET as before.
  bool SizeOf(const char* url, DWORD* length) {
    HttpClient& http = http_;
    if (http.OpenHead(url, kHttpContext, kHttpFlags) && http.IsStatusOk() &&
        (*length = http.GetContentLength()) != 0) {
      return true;
    }
    http.CloseRequest();
    return OpenChecked(url, length);
  }

  bool SizePass() {
    for (auto& file : files_) {
      if (sink_.StopRequested()) return false;
      if (HasZipExtension(file.url)) archiveSeen_ = true;
      DWORD length = 0;
      if (!SizeOf(file.url, &length)) {
        return Fail(Format(texts::kFileMissingFormat, AnsiToWide(FieldText(file.url))));
      }
      total_ += length;
      http_.CloseRequest();
    }
    return true;
  }

  bool Download(UpdateFile& file) {
    ++fileNumber_;
    if (!Text(Line::Count, CountLine(fileNumber_, count_, 0, total_))) return false;
    if (!Text(Line::Item, AnsiToWide(FieldText(file.url)))) return false;

    const bool fullGame = request_.gameInstaller;
    if (fullGame && !request_.setupSavePath.empty()) {
      CopyCut(file.localPath, request_.setupSavePath);
    } else {
      const std::string path = request_.workDir + LocalNameForUrl(file.url);
      // A path that does not fit would be cut into another name: refuse it.
      if (path.size() >= sizeof file.localPath) {
        return Fail(Format(texts::kSaveFailedFormat, AnsiToWide(path)));
      }
      CopyCut(file.localPath, path);
    }
    if (fullGame) outcome_.installerPath = file.localPath;
    const std::wstring localPath = AnsiToWide(file.localPath);
    if (!Text(Line::Position, Format(texts::kPositionFormat, localPath))) return false;
    lastPercent_ = ~0u;
    if (!Progress(0)) return false;

    DWORD expected = 0;
    if (!OpenChecked(file.url, &expected)) return Fail(L"");  // the server changed since the size pass

    std::unique_ptr<char[]> buffer(new char[kBlockSize]);
    DeleteFileA(file.localPath);
    FileHandle out(CreateFileA(file.localPath, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) return Fail(Format(texts::kSaveFailedFormat, localPath));

    // Hashed as it arrives, so checking costs no second read of the file.
    std::optional<BackgroundSha256> hasher;
    if (file.hash.present) hasher.emplace();
    std::uint64_t received = 0;
    for (;;) {
      const int n = http_.Read(buffer.get(), kBlockSize);
      if (sink_.StopRequested()) return false;  // the partial file stays
      if (n == 0) break;
      if (n < 0) return Fail(Format(texts::kDownloadFailedFormat, AnsiToWide(FieldText(file.url))));
      received += static_cast<DWORD>(n);
      if (received > expected) {
        return Fail(Format(texts::kDownloadFailedFormat, AnsiToWide(FieldText(file.url))));
      }
      if (hasher) hasher->Update(buffer.get(), static_cast<std::size_t>(n));
      DWORD written = 0;
      if (!WriteFile(out.get(), buffer.get(), static_cast<DWORD>(n), &written, nullptr) ||
          written != static_cast<DWORD>(n)) {
        return Fail(Format(texts::kSaveFailedFormat, localPath));
      }
      downloaded_ += static_cast<DWORD>(n);
      if (!Text(Line::Count, CountLine(fileNumber_, count_, downloaded_, total_)) ||
          !Text(Line::Speed, SpeedLine(downloaded_, GetTickCount() - start_)) ||
          !Progress(ProgressPercent(downloaded_, total_))) {
        return false;
      }
    }
    // A body shorter than announced is an interrupted download, not a file.
    if (received != expected) {
      return Fail(Format(texts::kDownloadFailedFormat, AnsiToWide(FieldText(file.url))));
    }
    if (!CloseHandle(out.release())) return Fail(Format(texts::kSaveFailedFormat, localPath));
    http_.CloseRequest();
    // Not what the publisher released: it is neither kept, run nor unpacked.
    if (hasher) {
      const std::optional<Sha256Digest> digest = hasher->Finish();
      if (!digest || *digest != file.hash.digest) {
        DeleteFileA(file.localPath);
        return Fail(Format(texts::kHashMismatchFormat, AnsiToWide(FieldText(file.url))));
      }
    }
    return true;
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
        for (int i = 0; i < entries && i <= 0xFFFF; ++i) {
          archive.GetEntryInfo(entry, static_cast<std::uint16_t>(i));
          archive.CheckedTargetPath(entry.GetName().c_str(), destination, true, nullptr);
          if (!entry.IsDirectory()) bytes += entry.uncompressedSize;
        }
        archive.Close(0, false);
      } catch (const CZipException&) {
        archive.Close(1, false);
        return Fail(Format(texts::kExtractFailedFormat, AnsiToWide(file.localPath)));
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
        const int entries = archive.GetEntryCount();
        for (int i = 0; i < entries && i <= 0xFFFF; ++i) {
          if (sink_.StopRequested()) {
            archive.Close(1, false);
            return false;
          }
          const auto index = static_cast<std::uint16_t>(i);
          archive.GetEntryInfo(entry, index);
          const std::string name = entry.GetName();
          if (!entry.IsDirectory()) {
            // The reader's own target, checked by its own rules: a refused
            // name throws here, before any attribute anywhere is touched.
            const std::string target = archive.CheckedTargetPath(name.c_str(), destination, true, nullptr);
            const DWORD attributes = GetFileAttributesA(target.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (attributes & FILE_ATTRIBUTE_READONLY)) {
              SetFileAttributesA(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
            }
          }
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
      } catch (const CZipException&) {
        archive.Close(1, false);
        return Fail(Format(texts::kExtractFailedFormat, AnsiToWide(file.localPath)));
      }
    }
    for (auto& file : files_) {
      if (HasZipExtension(file.localPath)) DeleteFileA(file.localPath);
    }
    return Text(Line::Item, texts::kExtractCompleted);
  }

  // ExtractEntry also answers false when only the time or attributes could
  // not be set; an entry whose data came out whole is still installed.
  static bool WrittenWhole(const CZipArchive& archive, const CZipEntryInfo& entry,
                           const char* destination) {
    const std::string path = archive.PredictTargetPath(entry.GetName().c_str(), destination, true, nullptr);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    return data.nFileSizeHigh == 0 && data.nFileSizeLow == entry.uncompressedSize;
  }

  HttpClient& http_;
  const DownloadRequest& request_;
  std::vector<UpdateFile> files_;  // with the local paths this run saves them under
  ProgressSink& sink_;
  DownloadOutcome& outcome_;
  const DWORD start_;
  std::uint64_t total_ = 0;
  std::uint64_t downloaded_ = 0;
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
