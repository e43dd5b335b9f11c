#include "publish/publish_archive.h"

#include <sys/stat.h>
#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <functional>

#include "format/delta_archive.h"
#include "publish/publish_crypto.h"
#include "publish/publish_error.h"

namespace qz::publish {

namespace {

// Unix attributes: the reader gives such files the archive attribute only,
// whatever the build tree's permissions were.
constexpr std::uint32_t kFileMode = 0100644u << 16;
constexpr std::uint32_t kFolderMode = (040755u << 16) | 0x10;
constexpr std::uint16_t kExtendedTimestamp = 0x5455;
constexpr std::time_t kFirstDosTime = 315532800;  // 1980-01-01 00:00 UTC

}  // namespace

std::uint32_t DosTimeOf(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  // DOS dates hold the years 1980 to 2107: a file dated outside them (a
  // build tree restored with zero times) gets the nearest end.
  if (utc.tm_year < 80 || utc.tm_year > 207) {
    const bool early = utc.tm_year < 80;
    utc = std::tm{};
    utc.tm_year = early ? 80 : 207;
    utc.tm_mon = early ? 0 : 11;
    utc.tm_mday = early ? 1 : 31;
    utc.tm_hour = early ? 0 : 23;
    utc.tm_min = early ? 0 : 59;
    utc.tm_sec = early ? 0 : 58;
  }
  const auto date =
      static_cast<std::uint32_t>(((utc.tm_year - 80) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
  const auto clock = static_cast<std::uint32_t>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
  return date << 16 | clock;
}

void WriteArchive(const std::string& out, const std::string& root, const Listing& tree,
                  const std::vector<ArchiveEntry>& entries,
                  const std::vector<std::pair<std::string, std::string>>& notes,
                  std::optional<std::time_t> fixedTime) {
  int error = 0;
  zip_t* zip = zip_open(out.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!zip) {
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    const std::string why = zip_error_strerror(&e);
    zip_error_fini(&e);
    throw PublishError("cannot write " + out + ": " + why);
  }
  auto fail = [&](const std::string& what) {
    const std::string why = zip_strerror(zip);
    zip_discard(zip);
    throw PublishError(what + ": " + why);
  };
  for (const ArchiveEntry& e : entries) {
    // Code page 932 bytes are not CP437 either, but saying so keeps libzip
    // from guessing UTF-8 and setting the flag our reader ignores.
    const zip_flags_t name = ZIP_FL_ENC_CP437;
    zip_int64_t index;
    if (e.folder) {
      index = zip_dir_add(zip, e.zipName.c_str(), name);
    } else {
      zip_source_t* source = zip_source_file(zip, (root + "/" + e.path).c_str(), 0, -1);
      if (!source) fail("cannot read " + root + "/" + e.path);
      index = zip_file_add(zip, e.zipName.c_str(), source, name);
      if (index < 0) zip_source_free(source);
    }
    if (index < 0) fail("cannot add " + e.path);
    const auto i = static_cast<zip_uint64_t>(index);
    const std::time_t modified = fixedTime ? *fixedTime : tree.at(e.path).modified;
    const std::uint32_t dos = DosTimeOf(modified);
    // Seconds since 1970 in UTC beside the local DOS time, for tools that read it.
    const auto utc = static_cast<std::uint32_t>(modified);
    const zip_uint8_t stamp[5] = {1, static_cast<zip_uint8_t>(utc), static_cast<zip_uint8_t>(utc >> 8),
                                  static_cast<zip_uint8_t>(utc >> 16), static_cast<zip_uint8_t>(utc >> 24)};
    const bool stampFits = modified >= 0 && modified <= INT32_MAX;
    // An empty file is stored: deflated it would be two bytes larger, and a
    // compressor set up for each of many such files costs more than the rest.
    struct stat st;
    const bool empty = !e.folder && stat((root + "/" + e.path).c_str(), &st) == 0 && st.st_size == 0;
    const int timeSet = fixedTime ? zip_file_set_dostime(zip, i, static_cast<zip_uint16_t>(dos & 0xFFFF),
                                                         static_cast<zip_uint16_t>(dos >> 16), 0)
                                  : zip_file_set_mtime(zip, i, modified, 0);
    if (timeSet != 0 ||
        zip_file_set_external_attributes(zip, i, 0, ZIP_OPSYS_UNIX, e.folder ? kFolderMode : kFileMode) !=
            0 ||
        (!e.folder && zip_set_file_compression(zip, i, empty ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 9) != 0) ||
        (stampFits && zip_file_extra_field_set(zip, i, kExtendedTimestamp, ZIP_EXTRA_FIELD_NEW, stamp,
                                               sizeof stamp, ZIP_FL_LOCAL | ZIP_FL_CENTRAL) < 0)) {
      fail("cannot add " + e.path);
    }
  }
  // A release that only removes files dates its list at the first DOS time.
  std::time_t newest = fixedTime ? *fixedTime : kFirstDosTime;
  if (!fixedTime) {
    for (const ArchiveEntry& e : entries) newest = std::max(newest, tree.at(e.path).modified);
  }
  for (const auto& [name, text] : notes) {
    zip_source_t* source = zip_source_buffer(zip, text.data(), text.size(), 0);
    if (!source) fail("cannot add " + name);
    const zip_int64_t index = zip_file_add(zip, name.c_str(), source, ZIP_FL_ENC_CP437);
    if (index < 0) zip_source_free(source);
    const auto i = static_cast<zip_uint64_t>(index);
    const std::uint32_t dos = DosTimeOf(newest);
    const int timeSet = index < 0   ? -1
                        : fixedTime ? zip_file_set_dostime(zip, i, static_cast<zip_uint16_t>(dos & 0xFFFF),
                                                           static_cast<zip_uint16_t>(dos >> 16), 0)
                                    : zip_file_set_mtime(zip, i, newest, 0);
    if (timeSet != 0 || zip_set_file_compression(zip, i, ZIP_CM_DEFLATE, 9) != 0 ||
        zip_file_set_external_attributes(zip, i, 0, ZIP_OPSYS_UNIX, kFileMode) != 0) {
      fail("cannot add " + name);
    }
  }
  // libzip writes a temporary file and renames it into place here.
  if (zip_close(zip) != 0) fail("cannot write " + out);
}

PatchContent ReadPatchContent(const std::string& path, const std::vector<std::string>& named) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (!zip) throw PublishError(path + ": not a zip archive");
  PatchContent content;
  std::string buffer(1 << 16, '\0');
  // Reads one entry through `take`; false when it cannot be read.
  auto read = [&](zip_uint64_t index, const std::function<void(const char*, std::size_t)>& take) {
    zip_file_t* file = zip_fopen_index(zip, index, 0);
    if (!file) return false;
    zip_int64_t n;
    while ((n = zip_fread(file, &buffer[0], buffer.size())) > 0)
      take(buffer.data(), static_cast<std::size_t>(n));
    zip_fclose(file);
    return n == 0;
  };
  auto fail = [&](const std::string& why) {
    zip_discard(zip);
    throw PublishError(path + ": " + why);
  };
  const zip_int64_t count = zip_get_num_entries(zip, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* raw = zip_get_name(zip, index, ZIP_FL_ENC_RAW);
    zip_stat_t st;
    if (!raw || zip_stat_index(zip, index, 0, &st) != 0) fail("an entry cannot be read");
    const std::string name = raw;
    if (name == kRemovedListName) {
      if (!read(index, [&](const char* d, std::size_t n) { content.removedList.append(d, n); }))
        fail(name + " cannot be read");
    } else if (!name.empty() && name.back() != '/') {
      content.files[name] = st.size;
    }
  }
  Sha256Stream sha;
  for (const std::string& name : named) {
    const zip_int64_t index = zip_name_locate(zip, name.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0) continue;
    if (!read(static_cast<zip_uint64_t>(index), [&](const char* d, std::size_t n) { sha.Update(d, n); })) {
      fail(name + " cannot be read");
    }
  }
  content.namedSha256 = sha.HexDigest();
  zip_discard(zip);
  return content;
}

}  // namespace qz::publish
