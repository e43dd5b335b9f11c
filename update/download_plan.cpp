#include "update/download_plan.h"

#include "base/field_text.h"
#include "base/run_log.h"
#include "format/limits.h"
#include "format/web_address.h"
#include "update/disk_space.h"
#include "update/progress_text.h"

namespace qz {

namespace {

const std::string& Url(const UpdateFile& file) { return file.url; }

bool Answered(HttpClient& http, const char* method, const UpdateFile& file, bool opened,
              std::uint64_t* length) {
  runlog::Write("size", std::string(method) + " " + Url(file) + ": " + AnswerText(http, opened));
  return opened && http.IsStatusOk() && (*length = http.ContentLength()) != 0;
}

// The length of a file without starting its transfer: a GET closed unread
// leaves the rest of the body on its connection, and under Wine that makes
// the download that follows ten times slower. Servers that refuse HEAD are
// asked with a GET as before; a stop that ended the HEAD is not.
bool SizeOf(HttpClient& http, const UpdateFile& file, const std::function<bool()>& stopRequested,
            std::uint64_t* length) {
  if (Answered(http, "HEAD", file, http.Head(file.url.c_str()), length)) return true;
  http.CloseRequest();
  if (stopRequested()) return false;
  return Answered(http, "GET", file, http.Get(file.url.c_str()), length) && !stopRequested();
}

}  // namespace

HostChoice::HostChoice(std::vector<std::string> mirrors)
    : mirrors_(std::move(mirrors)), dropped_(mirrors_.size() + 1, false) {}

std::vector<HostChoice::Host> HostChoice::For(const UpdateFile& file) const {
  std::vector<Host> hosts;
  if (!dropped_[0]) hosts.push_back({0, file.url});
  for (std::size_t k = 0; k < mirrors_.size(); ++k) {
    if (dropped_[k + 1]) continue;
    if (std::optional<std::string> url = MirroredAddress(file.url, mirrors_[k]))
      hosts.push_back({k + 1, *url});
  }
  return hosts;
}

void HostChoice::Drop(const Host& host, const std::string& why) {
  dropped_[host.index] = true;
  if (HasMirrors()) runlog::Write("hosts", Name(host.index) + " passed over for the rest of the run: " + why);
}

std::string HostChoice::Name(std::size_t index) const {
  return index == 0 ? std::string("the manifest's host") : "mirror " + mirrors_[index - 1];
}

std::optional<WorkerFailure> NameFiles(std::vector<UpdateFile>& files, const std::string& workDir,
                                       bool versionPrefix, const std::string& chosenPath) {
  std::vector<std::pair<std::uint16_t, std::string>> list;
  for (const auto& file : files) list.emplace_back(file.version, Url(file));
  const std::vector<std::string> names = LocalNamesForRun(list, versionPrefix);
  for (std::size_t i = 0; i < files.size(); ++i) {
    UpdateFile& file = files[i];
    const std::string path = chosenPath.empty() ? workDir + names[i] : chosenPath;
    if (path.size() + 9 >= kPathField) return WorkerFailure{FailureKind::SaveFailed, path};
    file.localPath = path;
    const bool archive = HasZipExtension(path.c_str());
    runlog::Write("plan", "file " + std::to_string(i + 1) + " version " + std::to_string(file.version) + " " +
                              Url(file) + " -> " + path +
                              (archive ? " (archive: unpacked)" : " (program: kept)"));
  }
  return std::nullopt;
}

std::optional<WorkerFailure> SizePass(HttpClient& http, const std::vector<UpdateFile>& files,
                                      const std::function<bool()>& stopRequested, FileSizes& sizes,
                                      const std::function<void(std::size_t)>& asked, HostChoice* hosts) {
  HostChoice single;
  if (!hosts) hosts = &single;
  for (const auto& file : files) {
    std::optional<WorkerFailure> first;
    std::uint64_t length = 0;
    for (const HostChoice::Host& host : hosts->For(file)) {
      if (stopRequested()) return WorkerFailure{};
      UpdateFile there = file;
      there.url = host.url;
      const bool found = SizeOf(http, there, stopRequested, &length);
      http.CloseRequest();
      if (stopRequested()) return WorkerFailure{};
      // Not the length the publisher released: nothing of it is fetched.
      const bool wrongLength = found && file.size != 0 && length != file.size;
      if (found && !wrongLength) {
        first.reset();
        break;
      }
      const std::string why = !found ? "no length for " + host.url
                                     : host.url + ": " + std::to_string(length) +
                                           " bytes, the manifest says " + std::to_string(file.size);
      if (wrongLength) runlog::Write("size", why);
      if (!first)
        first = WorkerFailure{found ? FailureKind::DownloadFailed : FailureKind::FileMissing, Url(file)};
      hosts->Drop(host, why);
      length = 0;
    }
    if (first) return first;
    if (length == 0) return WorkerFailure{FailureKind::FileMissing, Url(file)};  // no host left
    sizes.total += length;
    sizes.each.push_back(length);
    if (asked) asked(sizes.each.size());
  }
  runlog::Write("size", "total " + std::to_string(sizes.total) + " bytes");
  return std::nullopt;
}

std::optional<WorkerFailure> CheckSpace(const std::string& path, std::uint64_t bytes) {
  char volume[MAX_PATH] = {};
  if (!GetVolumePathNameA(path.c_str(), volume, sizeof volume)) {
    if (path.size() < 2 || path[1] != ':') return std::nullopt;
    CopyCut(volume, path.substr(0, 2) + "\\");
  }
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExA(volume, &available, nullptr, nullptr)) return std::nullopt;
  const std::uint64_t needed = SpaceWithMargin(bytes);
  if (available.QuadPart >= needed) return std::nullopt;
  std::string drive = volume;
  if (drive.size() > 1 && drive.back() == '\\') drive.pop_back();
  return WorkerFailure{FailureKind::DiskSpaceShort, drive, needed};
}

WorkerFailure NoDestination(const std::vector<UpdateFile>& files) {
  for (const auto& file : files) {
    if (HasZipExtension(file.url.c_str()) || HasZipExtension(file.localPath.c_str())) {
      return WorkerFailure{FailureKind::NoDestination, Url(file)};
    }
  }
  return WorkerFailure{FailureKind::NoDestination, ""};
}

}  // namespace qz
