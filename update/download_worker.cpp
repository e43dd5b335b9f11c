#include "update/download_worker.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "launcher/folders.h"
#include "launcher/launcher_app.h"
#include "launcher/win_handles.h"
#include "launcher/win_text.h"
#include "ui/message_box.h"
#include "ui/resource_ids.h"
#include "ui/texts.h"
#include "ui/wizard_link.h"
#include "update/progress_text.h"
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

// Failures of a run: a message (when there is one) and the wizard ends with 2.
struct WorkerFailed {
  std::wstring message;
};

class Worker {
 public:
  Worker(LauncherApp& app, HWND wizard) : app_(app), wizard_(wizard), start_(GetTickCount()) {}

  int Run() {
    if (app_.action == ActionFullInstall) {
      app_.ClearUpdateList();
      auto file = std::make_unique<UpdateFile>();
      file->version = app_.latestVer;
      CopyCut(file->url, app_.fullDnUrl);
      app_.updateList.push_back(std::move(file));
    }
    if (app_.updateList.empty()) return End(2);
    count_ = static_cast<int>(app_.updateList.size());
    if (!SizePass()) return 0;
    for (auto& file : app_.updateList) {
      if (!Download(*file)) return 0;
    }
    if (!Text(IDC_ITEM, texts::kDownloadCompleted)) return 0;
    if (archiveSeen_ && !Extract()) return 0;
    return End(1);
  }

 private:
  int End(int result) {
    wizard::Finish(wizard_, result);
    return result == 1 ? 1 : 0;
  }

  // Every change of the dialog goes through here: false means "stop now".
  bool Text(int id, const std::wstring& text) {
    const std::wstring cut = CutStatus(text);
    std::wstring& last = shown_[id];
    if (cut == last) return !wizard::StopRequested();
    last = cut;
    return wizard::SetText(wizard_, id, cut.c_str());
  }
  bool Progress(unsigned percent) {
    if (percent == lastPercent_) return !wizard::StopRequested();
    lastPercent_ = percent;
    return wizard::SetProgress(wizard_, percent);
  }

  bool Fail(const std::wstring& message) {
    app_.httpClient.CloseRequest();
    if (!message.empty() && !wizard::StopRequested()) ShowMessage(nullptr, message.c_str(), nullptr, MB_OK);
    End(2);
    return false;
  }

  bool OpenChecked(const char* url, DWORD* length) {
    HttpClient& http = app_.httpClient;
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
    HttpClient& http = app_.httpClient;
    if (http.OpenHead(url, kHttpContext, kHttpFlags) && http.IsStatusOk() &&
        (*length = http.GetContentLength()) != 0) {
      return true;
    }
    http.CloseRequest();
    return OpenChecked(url, length);
  }

  bool SizePass() {
    for (auto& file : app_.updateList) {
      if (wizard::StopRequested()) return false;
      if (HasZipExtension(file->url)) archiveSeen_ = true;
      DWORD length = 0;
      if (!SizeOf(file->url, &length)) {
        return Fail(Format(texts::kFileMissingFormat, AnsiToWide(FieldText(file->url))));
      }
      total_ += length;
      app_.httpClient.CloseRequest();
    }
    return true;
  }

  bool Download(UpdateFile& file) {
    ++fileNumber_;
    if (!Text(IDC_COUNT, CountLine(fileNumber_, count_, 0, total_))) return false;
    if (!Text(IDC_ITEM, AnsiToWide(FieldText(file.url)))) return false;

    const bool fullGame = app_.target == TargetGame && app_.action == ActionFullInstall;
    if (fullGame && app_.setupSavePath[0]) {
      CopyCut(file.localPath, app_.setupSavePath);
    } else {
      const std::string path = std::string(app_.workDir) + LocalNameForUrl(file.url);
      // A path that does not fit would be cut into another name: refuse it.
      if (path.size() >= sizeof file.localPath) {
        return Fail(Format(texts::kSaveFailedFormat, AnsiToWide(path)));
      }
      CopyCut(file.localPath, path);
    }
    if (fullGame) CopyCut(app_.installerPath, file.localPath);
    const std::wstring localPath = AnsiToWide(file.localPath);
    if (!Text(IDC_POSITION, Format(texts::kPositionFormat, localPath))) return false;
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

    std::uint64_t received = 0;
    for (;;) {
      const int n = app_.httpClient.Read(buffer.get(), kBlockSize);
      if (wizard::StopRequested()) return false;  // the partial file stays
      if (n == 0) break;
      if (n < 0) return Fail(Format(texts::kDownloadFailedFormat, AnsiToWide(FieldText(file.url))));
      received += static_cast<DWORD>(n);
      if (received > expected) {
        return Fail(Format(texts::kDownloadFailedFormat, AnsiToWide(FieldText(file.url))));
      }
      DWORD written = 0;
      if (!WriteFile(out.get(), buffer.get(), static_cast<DWORD>(n), &written, nullptr) ||
          written != static_cast<DWORD>(n)) {
        return Fail(Format(texts::kSaveFailedFormat, localPath));
      }
      downloaded_ += static_cast<DWORD>(n);
      if (!Text(IDC_COUNT, CountLine(fileNumber_, count_, downloaded_, total_)) ||
          !Text(IDC_SPEED, SpeedLine(downloaded_, GetTickCount() - start_)) ||
          !Progress(ProgressPercent(downloaded_, total_))) {
        return false;
      }
    }
    // A body shorter than announced is an interrupted download, not a file.
    if (received != expected) {
      return Fail(Format(texts::kDownloadFailedFormat, AnsiToWide(FieldText(file.url))));
    }
    if (!CloseHandle(out.release())) return Fail(Format(texts::kSaveFailedFormat, localPath));
    app_.httpClient.CloseRequest();
    return true;
  }

  bool Extract() {
    CZipArchive archive;
    CZipEntryInfo entry;
    if (!Text(IDC_COUNT, texts::kExtracting) || !Progress(0) || !Text(IDC_SPEED, L"")) return false;
    const char* destination =
        app_.target == TargetAvatarModule ? app_.commonFilesDir : app_.gameDir;
    // Without a known folder the entries would land wherever the launcher
    // happens to run: refuse instead.
    if (destination[0] == '\0') {
      return Fail(Format(texts::kExtractFailedFormat, AnsiToWide(app_.updateList.front()->localPath)));
    }
    const std::wstring wideDestination = AnsiToWide(destination);
    for (auto& file : app_.updateList) {
      if (!HasZipExtension(file->localPath)) continue;
      if (!Text(IDC_ITEM, Format(texts::kSourceFormat, AnsiToWide(file->localPath)))) return false;
      try {
        archive.Open(file->localPath, CZipArchive::zipOpenReadOnly, 0);
        const int entries = archive.GetEntryCount();
        for (int i = 0; i < entries && i <= 0xFFFF; ++i) {
          if (wizard::StopRequested()) {
            archive.Close(1, false);
            return false;
          }
          const auto index = static_cast<std::uint16_t>(i);
          archive.GetEntryInfo(entry, index);
          const std::string name = entry.GetName();
          const std::string target = std::string(destination) + name;
          if (!entry.IsDirectory()) {
            const DWORD attributes = GetFileAttributesA(target.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
              SetFileAttributesA(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
            }
          }
          if (!Text(IDC_POSITION, Format(texts::kTargetFormat, wideDestination, AnsiToWide(name)))) {
            archive.Close(1, false);
            return false;
          }
          if (!archive.ExtractEntry(index, destination, true, nullptr, 65536) && !entry.IsDirectory() &&
              !WrittenWhole(archive, entry, destination)) {
            archive.Close(1, false);
            return Fail(Format(texts::kExtractFailedFormat, AnsiToWide(file->localPath)));
          }
        }
        archive.Close(0, false);
      } catch (const CZipException&) {
        archive.Close(1, false);
        return Fail(Format(texts::kExtractFailedFormat, AnsiToWide(file->localPath)));
      }
    }
    for (auto& file : app_.updateList) {
      if (HasZipExtension(file->localPath)) DeleteFileA(file->localPath);
    }
    return Text(IDC_ITEM, texts::kExtractCompleted);
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

  LauncherApp& app_;
  HWND wizard_;
  const DWORD start_;
  std::uint64_t total_ = 0;
  std::uint64_t downloaded_ = 0;
  int fileNumber_ = 0;
  int count_ = 0;
  bool archiveSeen_ = false;
  unsigned lastPercent_ = ~0u;
  std::map<int, std::wstring> shown_;  // a text that did not change is not sent again
};

}  // namespace

DWORD WINAPI DownloadWorker(LPVOID wizardWindow) {
  HWND wizard = static_cast<HWND>(wizardWindow);
  if (!g_app || !wizard) return 0;
  // Nothing may leave the thread: any unexpected error fails the wizard.
  try {
    return static_cast<DWORD>(Worker(*g_app, wizard).Run());
  } catch (...) {
    wizard::Finish(wizard, 2);
    return 0;
  }
}

}  // namespace qz
