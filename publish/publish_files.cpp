#include "publish/publish_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "format/limits.h"
#include "publish/publish_crypto.h"
#include "publish/publish_error.h"

namespace qz::publish {

namespace {

std::string Why() { return std::strerror(errno); }

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes all of bytes to a new temporary file beside path; returns its name.
std::string WriteTemporary(const std::string& path, const std::string& bytes, unsigned mode) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(&temp[0]);
  if (fd == -1) throw PublishError("cannot write " + path + ": " + Why());
  bool ok = fchmod(fd, mode) == 0;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0)
      ok = false;
    else
      done += static_cast<std::size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (!ok) {
    const std::string why = Why();
    unlink(temp.c_str());
    throw PublishError("cannot write " + path + ": " + why);
  }
  return temp;
}

void Walk(const std::string& root, const std::string& relative, Listing& listing) {
  const std::string folder = relative.empty() ? root : root + "/" + relative;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), &closedir);
  if (!dir) throw PublishError("cannot read the folder " + folder + ": " + Why());
  bool empty = true;
  errno = 0;
  while (const dirent* d = readdir(dir.get())) {
    const std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    empty = false;
    const std::string path = relative.empty() ? name : relative + "/" + name;
    const std::string full = root + "/" + path;
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) throw PublishError("cannot read " + full + ": " + Why());
    TreeItem item;
    item.modified = st.st_mtime;
    if (S_ISDIR(st.st_mode)) {
      item.folder = true;
      listing[path] = item;
      Walk(root, path, listing);
    } else if (S_ISREG(st.st_mode)) {
      item.digest = Sha256OfFile(full);
      listing[path] = item;
    } else {
      throw PublishError(full + ": not a plain file or folder (links and special files can't be published)");
    }
    errno = 0;
  }
  if (errno != 0) throw PublishError("cannot read the folder " + folder + ": " + Why());
  if (!relative.empty()) listing[relative].emptyFolder = empty;
}

}  // namespace

Listing ReadTree(const std::string& root) {
  struct stat st;
  if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw PublishError(root + ": no such folder");
  Listing listing;
  Walk(root, "", listing);
  return listing;
}

std::string ReadText(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw PublishError("cannot read " + path + ": no such file");
  }
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) throw PublishError("cannot read " + path);
  return text;
}

void WriteReplacing(const std::string& path, const std::string& bytes, unsigned mode) {
  const std::string temp = WriteTemporary(path, bytes, mode);
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const std::string why = Why();
    unlink(temp.c_str());
    throw PublishError("cannot write " + path + ": " + why);
  }
}

void ReplaceTogether(const std::vector<FileChange>& changes, RenameFunction move) {
  std::vector<std::optional<std::string>> old;
  std::vector<std::string> temps;
  auto dropTemps = [&](std::size_t from) {
    for (std::size_t k = from; k < temps.size(); ++k) {
      if (!temps[k].empty()) unlink(temps[k].c_str());
    }
  };
  try {
    for (const FileChange& c : changes) {
      old.push_back(IsFile(c.path) ? std::optional<std::string>(ReadText(c.path)) : std::nullopt);
      temps.push_back(c.bytes ? WriteTemporary(c.path, *c.bytes, 0644) : "");
    }
  } catch (const PublishError&) {
    dropTemps(0);
    throw;
  }
  for (std::size_t k = 0; k < changes.size(); ++k) {
    const FileChange& c = changes[k];
    const bool done = c.bytes ? move(temps[k].c_str(), c.path.c_str()) == 0
                              : unlink(c.path.c_str()) == 0 || errno == ENOENT;
    if (done) continue;
    const std::string why = Why();
    dropTemps(k);
    std::string undo;
    for (std::size_t j = k; j-- > 0;) {
      try {
        if (old[j])
          WriteReplacing(changes[j].path, *old[j]);
        else if (unlink(changes[j].path.c_str()) != 0 && errno != ENOENT)
          throw PublishError(Why());
      } catch (const PublishError& e) {
        undo += "; " + changes[j].path + " could not be put back: " + e.what();
      }
    }
    throw PublishError("cannot write " + c.path + ": " + why +
                       (undo.empty() ? ", nothing was changed" : undo));
  }
}

void WriteNewPrivate(const std::string& path, const std::string& bytes) {
  const std::string temp = WriteTemporary(path, bytes, 0600);
  // link() refuses an existing target, so a key is never overwritten.
  const int linked = link(temp.c_str(), path.c_str());
  const int error = errno;
  const std::string why = Why();
  unlink(temp.c_str());
  if (linked != 0) {
    throw PublishError(error == EEXIST ? path + " exists already: a signing key is never overwritten"
                                       : "cannot write " + path + ": " + why);
  }
}

void CheckOutputFolder(const std::string& path) {
  struct stat st;
  const std::string folder = FolderOf(path);
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw PublishError(folder + ": no such folder");
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) throw PublishError(path + " is a folder");
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::uint64_t SizeOfFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    throw PublishError("cannot read " + path + ": no such file");
  }
  if (static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes) {
    throw PublishError(path + ": larger than a manifest may state (" + std::to_string(kMaxFileBytes) +
                       " bytes)");
  }
  return static_cast<std::uint64_t>(st.st_size);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace qz::publish
