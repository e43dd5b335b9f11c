// What the download worker tells the player, in its own terms: the fixed
// lines of the progress page and why a run failed, each with its subject.
// The worker names what is said; the wizard's texts (ui/) word it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace qz {

// A fixed line of the progress page; each has its one place on the page.
enum class WorkerStatus {
  SizeCheck,          // the size pass: "asked/count" of the files as detail
  File,               // the file being fetched: its address
  SavedAt,            // where it is saved: its local path
  DownloadCompleted,  // no subject
  Extracting,         // no subject
  ExtractingFrom,     // the archive's local path
  ExtractingTo,       // the entry's target: folder and entry name
  ExtractCompleted,   // no subject
};

// Why a run ended without its files.
enum class FailureKind {
  Quiet,  // no message: the player stopped it, nothing was listed, or the server changed between the passes
  FileMissing,        // the file's address: no answer, a status other than 200 or no length in the size pass
  SaveFailed,         // the local path that could not be written
  DownloadFailed,     // the file's address: the connection kept failing
  HashMismatch,       // the file's address: not the bytes the publisher released
  ExtractFailed,      // the archive's local path
  NameNotInCodePage,  // the archive's local path, with the entry's name as stored (UTF-8)
  SplitArchive,       // the archive's local path: one part of a split archive, never unpacked
  NoDestination,      // the archive's address ("" when unknown): no folder to unpack into
  DiskSpaceShort,     // the drive ("C:"), with the bytes needed
  NoRights,           // the path this account may not write: no message, the change needs other rights
};

struct WorkerFailure {
  WorkerFailure() = default;
  WorkerFailure(FailureKind k, std::string what, std::uint64_t needed = 0, std::string entry = {})
      : kind(k), subject(std::move(what)), bytesNeeded(needed), entryUtf8(std::move(entry)) {}

  FailureKind kind = FailureKind::Quiet;
  std::string subject;            // ANSI text: an address, a path or a drive
  std::uint64_t bytesNeeded = 0;  // DiskSpaceShort only
  std::string entryUtf8;          // NameNotInCodePage only: no ANSI form exists
};

// The kind's name in the support log.
inline const char* FailureName(FailureKind kind) {
  switch (kind) {
    case FailureKind::Quiet: return "ended";
    case FailureKind::FileMissing: return "file missing";
    case FailureKind::SaveFailed: return "could not save";
    case FailureKind::DownloadFailed: return "download kept failing";
    case FailureKind::HashMismatch: return "SHA-256 differs";
    case FailureKind::ExtractFailed: return "could not unpack";
    case FailureKind::NameNotInCodePage: return "a name this code page cannot hold";
    case FailureKind::SplitArchive: return "a split archive";
    case FailureKind::NoDestination: return "no folder to unpack into";
    case FailureKind::DiskSpaceShort: return "disk space short";
    case FailureKind::NoRights: return "this account may not write";
  }
  return "?";
}

}  // namespace qz
