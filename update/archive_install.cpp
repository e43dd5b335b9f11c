#include "update/archive_install.h"

#include <windows.h>

#include <cstdint>

#include "base/field_text.h"
#include "base/run_log.h"
#include "format/delta_archive.h"
#include "update/delta_apply.h"
#include "update/digest.h"
#include "update/download_plan.h"
#include "update/progress_text.h"
#include "zip/zip_archive.h"
#include "zip/zip_exception.h"

namespace qz {

namespace {

WorkerFailure Unpackable(const UpdateFile& file, const CZipException& error) {
  runlog::Write("extract", file.localPath + ": zip error " + std::to_string(error.cause) +
                               (error.fileName.empty() ? "" : " (" + error.fileName + ")") +
                               (error.cause == CZipException::errSplitRefused
                                    ? ": a split archive, whose other parts were never downloaded"
                                    : ""));
  // A name this system's code page cannot hold is named, as it was stored.
  if (error.cause == CZipException::errSplitRefused)
    return WorkerFailure{FailureKind::SplitArchive, file.localPath};
  if (error.cause == CZipException::errNameNotInCodePage) {
    WorkerFailure failure{FailureKind::NameNotInCodePage, file.localPath};
    failure.entryUtf8 = error.entryName;
    return failure;
  }
  return WorkerFailure{FailureKind::ExtractFailed, file.localPath};
}

// ExtractEntry also answers false when only the time or attributes could
// not be set; an entry whose data came out whole is still installed.
bool WrittenWhole(const CZipArchive& archive, const CZipEntryInfo& entry, const char* destination) {
  const std::string path = archive.PredictTargetPath(entry.GetName().c_str(), destination, true, nullptr);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  return ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) ==
         entry.uncompressedSize;
}

bool IsRemovedList(const CZipEntryInfo& entry) { return entry.GetName() == kRemovedListName; }

// The release's removed files, from the entry that lists them (at most 1 MiB).
std::vector<std::string> RemovedNames(CZipArchive& archive, std::uint32_t index, const CZipEntryInfo& entry) {
  if (entry.uncompressedSize > (1u << 20))
    CZipException::Throw(CZipException::errBadArchive, kRemovedListName);
  std::string text(static_cast<std::size_t>(entry.uncompressedSize), '\0');
  if (!archive.OpenEntry(index)) CZipException::Throw(CZipException::errBadArchive, kRemovedListName);
  const std::uint32_t n =
      text.empty() ? 0 : archive.ReadEntry(&text[0], static_cast<std::uint32_t>(text.size()));
  if (archive.CloseEntry() != 1 || n != text.size())
    CZipException::Throw(CZipException::errBadArchive, kRemovedListName);
  std::string problem;
  const auto names = ReadRemovedList(text, &problem);
  if (!names) {
    runlog::Write("remove", "refused: the list of removed files holds " + problem + "; nothing removed");
    return {};
  }
  return *names;
}

// Every entry's target checked and the bytes the archives unpack to added up.
std::optional<WorkerFailure> ReadThrough(const std::vector<UpdateFile>& files, const char* destination,
                                         ProgressSink& sink,
                                         const std::function<bool(const std::string&)>& mayWrite,
                                         std::uint64_t& bytes) {
  CZipArchive archive;
  CZipEntryInfo entry;
  for (const auto& file : files) {
    if (!HasZipExtension(file.localPath.c_str())) continue;
    std::string refused;
    try {
      archive.SetSingleFileOnly(true);
      archive.Open(file.localPath.c_str(), CZipArchive::zipOpenReadOnly, 0);
      const int entries = archive.GetEntryCount();
      for (int i = 0; i < entries && refused.empty(); ++i) {
        archive.GetEntryInfo(entry, static_cast<std::uint32_t>(i));
        if (IsRemovedList(entry)) {
          // What it removes is asked like what the others write; a name the
          // rules refuse is logged and removes nothing.
          for (const std::string& name : RemovedNames(archive, static_cast<std::uint32_t>(i), entry)) {
            std::string target;
            try {
              target = archive.CheckedTargetPath(name.c_str(), destination, true, nullptr);
            } catch (const CZipException&) {
              continue;
            }
            if (mayWrite && !mayWrite(target)) refused = target;
          }
          continue;
        }
        const std::string target =
            archive.CheckedTargetPath(entry.GetName().c_str(), destination, true, nullptr);
        if (mayWrite && !mayWrite(target)) refused = target;
        if (!entry.IsDirectory()) bytes += entry.uncompressedSize;
      }
      archive.Close(0, false);
    } catch (const CZipException& error) {
      archive.Close(1, false);
      return Unpackable(file, error);
    }
    if (!refused.empty()) return WorkerFailure{FailureKind::NoRights, refused};
    if (sink.StopRequested()) return WorkerFailure{};
  }
  return std::nullopt;
}

std::optional<WorkerFailure> Unpack(const UpdateFile& file, const std::string& destination,
                                    ProgressSink& sink) {
  std::vector<std::string> removed, written;
  CZipArchive archive;
  CZipEntryInfo entry;
  try {
    archive.SetSingleFileOnly(true);
    archive.Open(file.localPath.c_str(), CZipArchive::zipOpenReadOnly, 0);
    // A read-only file of the installation is replaced: the reader clears
    // the attribute only after the entry's name passed its own checks.
    archive.SetReplaceReadOnly(true);
    const int entries = archive.GetEntryCount();
    for (int i = 0; i < entries; ++i) {
      const auto index = static_cast<std::uint32_t>(i);
      archive.GetEntryInfo(entry, index);
      if (IsRemovedList(entry)) {
        removed = RemovedNames(archive, index, entry);
        continue;
      }
      const std::string name = entry.GetName();
      written.push_back(archive.PredictTargetPath(name.c_str(), destination.c_str(), true, nullptr));
      if (!sink.ShowStatus(WorkerStatus::ExtractingTo, destination, name)) {
        archive.Close(1, false);
        return WorkerFailure{};
      }
      if (!archive.ExtractEntry(index, destination.c_str(), true, nullptr, 65536) && !entry.IsDirectory() &&
          !WrittenWhole(archive, entry, destination.c_str())) {
        archive.Close(1, false);
        return WorkerFailure{FailureKind::ExtractFailed, file.localPath};
      }
    }
    archive.Close(0, false);
  } catch (const CZipException& error) {
    archive.Close(1, false);
    return Unpackable(file, error);
  }
  // Once the release's files are in: a removal never takes a file it brings.
  if (!removed.empty()) RemoveListed(removed, destination, written);
  return std::nullopt;
}

}  // namespace

std::optional<WorkerFailure> InstallArchives(const std::vector<UpdateFile>& files,
                                             const std::string& destination, ProgressSink& sink,
                                             const std::function<bool(const std::string&)>& mayWrite) {
  if (!sink.ShowStatus(WorkerStatus::Extracting) || !sink.ShowPercent(0) ||
      !sink.ShowLine(ProgressSink::Line::Speed, L"")) {
    return WorkerFailure{};
  }
  if (destination.empty()) return NoDestination(files);
  // Each archive is read through a handle that shuts writers out from its
  // check until it is unpacked: what is unpacked is what was checked.
  std::vector<FileHandle> held;
  for (const auto& file : files) {
    if (!HasZipExtension(file.localPath.c_str())) continue;
    bool mismatch = false;
    held.push_back(HoldChecked(file.localPath, file.hash, mismatch));
    if (mismatch) {
      runlog::Write("extract", file.localPath + ": changed since its download: deleted");
      held.clear();
      DeleteFileA(file.localPath.c_str());
      return WorkerFailure{FailureKind::HashMismatch, file.url};
    }
    if (!held.back()) {
      runlog::Write("extract", file.localPath + ": cannot be held: " + runlog::ErrorText(GetLastError()));
      return WorkerFailure{FailureKind::ExtractFailed, file.localPath};
    }
  }
  std::uint64_t bytes = 0;
  if (auto failure = ReadThrough(files, destination.c_str(), sink, mayWrite, bytes)) return failure;
  if (auto failure = CheckSpace(destination, bytes)) return failure;
  for (const auto& file : files) {
    if (!HasZipExtension(file.localPath.c_str())) continue;
    if (!sink.ShowStatus(WorkerStatus::ExtractingFrom, file.localPath)) return WorkerFailure{};
    if (auto failure = Unpack(file, destination, sink)) return failure;
  }
  held.clear();
  for (const auto& file : files) {
    if (HasZipExtension(file.localPath.c_str())) DeleteFileA(file.localPath.c_str());
  }
  if (!sink.ShowStatus(WorkerStatus::ExtractCompleted)) return WorkerFailure{};
  return std::nullopt;
}

}  // namespace qz
