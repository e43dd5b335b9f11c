// The archive's file or files: one file, or numbered split volumes
// (name.000, name.001, ... and the last one under the archive's own name).
#pragma once

#include <cstdint>
#include <string>

#include "zip/zip_disk_file.h"

class CZipVolumeStorage {
 public:
  enum VolumeMode {
    SingleFile = 0,
    RemovableSplit = 1,
    NumberedSplit = 2,
    Undecided = 3,
  };
  // Asked for the next disk of a split archive on removable media.
  using VolumeCallback = bool (*)(int volume, void* context);

  CZipVolumeStorage() = default;
  CZipVolumeStorage(const CZipVolumeStorage&) = delete;
  CZipVolumeStorage& operator=(const CZipVolumeStorage&) = delete;

  void Open(const std::string& path);
  // With it, an archive that says it is split or spanned (a disk number
  // other than 0 anywhere, or the spanning mark in front) throws
  // errSplitRefused, and no other file beside it is ever opened.
  void SetSingleFileOnly(bool only) { singleFileOnly = only; }
  bool IsSingleFileOnly() const { return singleFileOnly; }
  // Decides the mode from the end record's disk number.
  void SetDiskOfEndRecord(int disk);
  void Close();

  // Reads count bytes, following onto the next volumes in a split archive
  // unless whole is set. Throws errBadArchive when the data runs out.
  uint32_t ReadBytes(void* buffer, uint32_t count, bool whole);
  void ChangeVolume(int number);
  uint64_t Seek(int64_t offset, int origin);

  bool IsSplit() const { return volumeMode == RemovableSplit || volumeMode == NumberedSplit; }
  bool IsOpen() const { return currentVolume != -1; }
  int GetCurrentVolume() const { return currentVolume; }
  CZipAbstractFile* GetFile() const { return fileInUse; }
  std::string GetFilePath() const { return fileInUse ? fileInUse->GetFilePath() : std::string(); }
  [[noreturn]] void Throw(int cause) const;

 private:
  CZipDiskFile archiveFile;
  CZipAbstractFile* fileInUse = nullptr;
  int volumeMode = SingleFile;
  VolumeCallback volumeCallback = nullptr;
  int lastVolume = 0;
  std::string archiveExtension;
  int currentVolume = -1;
  bool readOnly = false;
  bool singleFileOnly = false;
};
