// Splitting and rebuilding paths of the ANSI code page. Separators are the
// single bytes "\" and "/", never the second byte of a double-byte character.
#pragma once

#include <string>

class CZipPathParts {
 public:
  CZipPathParts() = default;
  explicit CZipPathParts(const std::string& path) { Split(path); }

  void Split(const std::string& path);

  // prefix + drive + "\" (when both drive and directory are set) + directory
  std::string GetFolderPath() const;
  // title, then "." and extension when there is one
  std::string GetFileName() const;
  // folder path, then "\" (when the folder path is not empty) and the file name
  std::string GetFullPath() const;
  // directory and file name, without prefix and drive
  std::string GetPathWithoutDrive() const;

  std::string prefix;     // "\\", "\\?\" or "\\?\unc\"
  std::string drive;      // "C:"
  std::string directory;  // without leading and trailing "\"
  std::string title;
  std::string extension;  // without its dot
};

// Removes trailing "\" (and "/" when alsoSlash) separators, leaving the second
// byte of a double-byte character alone.
std::string ZipPathTrimTrailing(const std::string& path, bool alsoSlash);

// True when a path that is to be appended to a destination folder stays
// inside it: not rooted, no drive, no ".." part.
bool ZipPathStaysInside(const std::string& relative);

// True when a path that is to be appended to a destination folder names an
// ordinary file or folder below it: no ":" (a drive or an alternate data
// stream), no part that Windows opens as a device (CON, nul.txt, COM1 .log),
// and at least one part that is more than dots and blanks, so the target is
// not the folder itself.
bool ZipPathNamesOrdinaryTarget(const std::string& relative);

// True when a target the system is to create fits the ANSI functions' limits
// without being cut: every part of the relative path at most 255 bytes, the
// whole target under MAX_PATH, and the folder it is created in (the target
// itself for a folder entry) short enough for CreateDirectory.
bool ZipPathFits(const std::string& target, const std::string& relative, bool folderEntry);

// Where a stored name lands below `folder` (its folders kept, or only its
// last part) when the rules above let it: unpacking and delta application
// both place files by this. "" when the name is refused.
std::string ZipCheckedTarget(const std::string& name, const std::string& folder, bool keepFolders);
