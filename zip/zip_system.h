// The reader's window onto the platform. Paths are byte strings in the ANSI
// code page with "\" separators; the POSIX build maps them onto its own paths
// and behaves as a code page 932 system whose OEM and ANSI pages agree.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

namespace ZipSystem {

// Windows file attributes.
enum : uint32_t {
  attrReadOnly = 0x01,
  attrHidden = 0x02,
  attrDirectory = 0x10,
  attrArchive = 0x20,
};

// Every call below that hands a path to the system counts once: each costs a
// name lookup and, on Windows, a pass through every file-system filter
// (antivirus included), which is what a many-file install pays for.
uint64_t PathCallCount();
void CountPathCall();  // for the platform files

bool ReadAttributes(const std::string& path, uint32_t& attributes);
bool WriteAttributes(const std::string& path, uint32_t attributes);
// Seconds since 1970; -1 means now. Also sets the last-access time to now.
bool SetModifiedTime(const std::string& path, int64_t time);
// Creates the folder and every missing parent, with "\" and "/" both as
// separators; false, with errno set, when one cannot be made. `known`
// (optional) holds folders already seen to exist: they are not asked for
// again, and the ones found or made are added.
bool CreatePath(const std::string& folder, std::set<std::string>* known = nullptr);
// -1 an existing folder, 1 an existing file, 0 nothing there.
int PathKind(const std::string& path);
bool IsRemovableDrive(const std::string& path);

// True when the byte opens a double-byte character in the ANSI code page.
bool IsLeadByte(uint8_t byte);
// Converts a name from the OEM to the ANSI code page in place, length unchanged.
void ConvertOemName(char* name, uint32_t length);
// A name flagged as UTF-8, in the ANSI code page. Invalid: not UTF-8 at all;
// NotInCodePage: a character the code page has no exact form for (a look-
// alike would be another name, and a yen sign made into "\" a separator).
enum class NameConversion { Converted, Invalid, NotInCodePage };
NameConversion ConvertUtf8Name(const char* utf8, uint32_t length, std::string& ansi);

// Creates one folder whose parent exists.
bool MakeFolder(const std::string& folder);

// Runtime-library file descriptors. Failures return -1 and leave errno set.
enum class FileMode {
  ReadShared,    // read only, other writers denied
  WriteCreate,   // write only, created or truncated, other writers denied, not read-only
  WriteReplace,  // as WriteCreate, but a read-only file is replaced (its attribute cleared first)
};
int FileOpen(const std::string& path, FileMode mode);
int FileClose(int fd);
// Reads or writes up to count bytes; returns the count done or -1.
long FileRead(int fd, void* buffer, uint32_t count);
long FileWrite(int fd, const void* buffer, uint32_t count);
// Through the open descriptor, without a second open: the last-write time
// (seconds since 1970, -1 meaning now), the last-access time (now) and the
// attributes, as SetModifiedTime and WriteAttributes would set them.
bool FileSetTimeAndAttributes(int fd, int64_t time, uint32_t attributes);
// True for a file on a disk; false for a device, a pipe or a failure.
bool FileIsRegular(int fd);
// Deletes a file, read-only or not.
bool RemoveFile(const std::string& path);
// origin: SEEK_SET, SEEK_CUR or SEEK_END. Returns the new position or -1.
int64_t FileSeek(int fd, int64_t offset, int origin);

// A lock with a condition to wait on, as cheap as the platform has it: under
// Wine the C++ runtime's own condition (built on semaphores) costs a call to
// the Wine server per wake-up, Windows' slim locks do not.
class Monitor {
 public:
  Monitor();
  ~Monitor();
  Monitor(const Monitor&) = delete;
  Monitor& operator=(const Monitor&) = delete;
  void Lock();
  void Unlock();
  void Wait();  // with the lock held; it is held again on return
  void WakeAll();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl;
};

}  // namespace ZipSystem
