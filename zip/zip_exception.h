// The one error type of the zip reader: a numeric cause and the file it concerns.
#pragma once

#include <exception>
#include <string>

class CZipException : public std::exception {
 public:
  // Causes below 100 are errno values of a failed file operation.
  enum Cause {
    errGeneric = 100,
    errBadArchive = 101,
    errBadCrc = 102,
    errNoVolumeCallback = 103,
    errCancelled = 105,
    errCancelledClean = 106,
    errBadPassword = 110,
    errSystemUnsupported = 115,
    errNoEndRecord = 116,
    // A name flagged as UTF-8 holds a character the system's code page
    // has no form for: the archive cannot be unpacked on this system.
    errNameNotInCodePage = 117,
    // A split or spanned archive where only a single file is accepted.
    errSplitRefused = 118,
    errZStreamEnd = 500,
    errZNeedDict = 501,
    errZErrno = 502,
    errZStream = 503,
    errZData = 504,
    errZMem = 505,
    errZBuf = 506,
    errZVersion = 507,
  };

  explicit CZipException(int cause = errGeneric, std::string fileName = std::string());
  ~CZipException() override;

  // Maps a zlib result to its cause; unknown results become errGeneric.
  static int ZlibCause(int zlibResult);

  [[noreturn]] static void Throw(int cause, const std::string& fileName = std::string());

  std::string fileName;  // archive, volume or output file; empty when none applies
  int cause;
  std::string entryName;  // with errNameNotInCodePage: the entry's name as stored, UTF-8
};
