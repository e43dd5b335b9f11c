// The zip reader: opens an archive (one file or numbered split volumes),
// lists its entries and extracts them. Failures throw CZipException.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <zlib.h>

#include "zip/zip_buffer.h"
#include "zip/zip_directory.h"
#include "zip/zip_entry_info.h"
#include "zip/zip_exception.h"
#include "zip/zip_progress_observer.h"
#include "zip/zip_volume_storage.h"

class CZipDiskFile;

class CZipArchive {
 public:
  enum { zipOpenReadOnly = 1 };
  enum { opExtract = 8 };
  static const uint32_t kInputBufferSize = 65536;
  // Entries above this size are written beside the inflating, through a
  // ring of a few pieces (1 MiB in all).
  static const uint32_t kWriteBehindSize = 1u << 20;
  static const uint32_t kWriteBehindPiece = 256u << 10;
  static const uint32_t kWriteBehindBuffers = 4;

  CZipArchive();
  CZipArchive(const CZipArchive&) = delete;
  CZipArchive& operator=(const CZipArchive&) = delete;
  virtual ~CZipArchive();

  // Only read-only opening (mode 1, volume size 0) is supported.
  void Open(const std::string& path, int mode = zipOpenReadOnly, int volumeSize = 0);
  // Opening reads every entry's local header and data descriptor through:
  // a damaged entry, an unsupported method, encryption, or a name the
  // system's code page cannot hold refuses the archive here, before
  // anything is unpacked.
  int GetEntryCount() const;
  bool GetEntryInfo(CZipEntryInfo& record, uint32_t index) const;
  // afterError abandons an open entry without its checks.
  void Close(int afterError = 0, bool setTimeStamp = false);
  bool IsClosed() const { return !storage.IsOpen(); }

  // folder and newName may be null. Returns false for a zero buffer size,
  // an index out of range, data shorter than recorded, or a time or
  // attributes that could not be set. A file left shorter than the entry
  // or with data that failed its checks is removed again. A folder entry
  // whose folder cannot be made throws errno with the folder's path.
  bool ExtractEntry(uint32_t index, const char* folder, bool keepFolders = true,
                    const char* newName = nullptr, uint32_t bufferSize = 65536);
  std::string PredictTargetPath(const char* entryName, const char* folder, bool keepFolders,
                                const char* newName) const;
  // The target that ExtractEntry writes, after the rules it refuses with
  // errBadArchive: a name that leaves the folder, names a device or an
  // alternate data stream, or is the folder itself.
  std::string CheckedTargetPath(const char* entryName, const char* folder, bool keepFolders,
                                const char* newName) const;

  bool OpenEntry(uint32_t index);
  uint32_t ReadEntry(void* buffer, uint32_t count);
  // 1 success, -1 data shorter than recorded, -2 time or attributes not set,
  // 0 when no entry was open.
  int CloseEntry(const char* path = nullptr, int afterError = 0);

  void SetProgressObserver(int operation, CZipProgressObserver* observer);
  // With it, an existing read-only file at an entry's target is replaced
  // (its attribute cleared once the entry's name passed every check)
  // instead of refusing the entry with 13, as an upgrade needs.
  void SetReplaceReadOnly(bool replace) { replaceReadOnly = replace; }
  // Large entries inflated on this thread and written on another (on by
  // default; `make bench` measures both choices, natively and under Wine).
  void SetWriteBehind(bool on) { writeBehind = on; }
  // Set before Open: a split or spanned archive is refused (errSplitRefused)
  // and no sibling volume is opened. The launcher unpacks only what it
  // downloaded, which is always one file.
  void SetSingleFileOnly(bool only) { storage.SetSingleFileOnly(only); }

 private:
  // The decompressor's memory: every block it takes is listed, so a failure
  // in the middle of inflating loses none of it.
  static voidpf Allocate(voidpf blocks, uInt items, uInt size);
  static void Release(voidpf blocks, voidpf block);
  void ReleaseBlocks();

  // The target split into the destination folder and the part taken from
  // the entry name; the second part is what must stay inside the first.
  void PredictTarget(const char* entryName, const char* folder, bool keepFolders, const char* newName,
                     std::string& base, std::string& relative) const;
  [[noreturn]] void ThrowArchive(int cause, bool zlibResult = false) const;
  // An entry's data into an open file; both return 0, or the cause of a
  // cancel by the observer. Large entries are inflated on this thread and
  // written on another, side by side.
  int CopyInLine(CZipDiskFile& output, uint32_t bufferSize, CZipProgressObserver* observer);
  int CopyBeside(CZipDiskFile& output, CZipProgressObserver* observer);
  int CancelCause(uint32_t n, uint32_t pieceSize);
  void SkipRemainingData();

  std::map<int, CZipProgressObserver*> observers;
  z_stream stream;
  uint64_t uncompressedLeft = 0;
  uint64_t compressedLeft = 0;
  uint32_t crc = 0;
  bool crcByWriter = false;  // while a write-behind ring sums the data
  const uint32_t inputBufferSize = kInputBufferSize;
  CZipBuffer inputBuffer;
  CZipVolumeStorage storage;
  CZipDirectory directory;
  int8_t entryState = 0;
  std::vector<void*> blocks;
  CZipBuffer password;
  bool replaceReadOnly = false;
  bool writeBehind = true;
  // Folders this archive already found or made: asked for once, not per entry.
  std::set<std::string> knownFolders;
};
