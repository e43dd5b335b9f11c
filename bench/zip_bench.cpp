// Zip reader benchmark helper.
//   zip_bench generate DIR        writes small.zip, many.zip, large.zip, large64.zip and large-stored.zip
//   zip_bench generate-huge DIR   writes huge.zip: 5 GiB of mostly zeros in one zip64 entry
//   zip_bench extract ARCHIVE DEST extracts every entry as the download worker does
//                                  (QZ_WRITE_BEHIND=0|1 picks one thread or two for large entries)
//   zip_bench bound ARCHIVE        raw inflate and CRC-32 of every entry into memory
// extract and bound print their wall time and peak memory. The same program
// is built for Windows, where it runs under Wine against the same files.
#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include <zlib.h>

#include "tests/common/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip/zip_system.h"

using namespace ziptest;

namespace {

void Save(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// About 5000 files of 1-16 KB, half text-like, half binary-like.
void GenerateSmall(const std::string& dir) {
  ZipBuilder b;
  for (uint32_t i = 0; i < 5000; ++i) {
    const size_t size = 1024 + (i * 7919u) % (15 * 1024);
    const std::string name = "data/set" + std::to_string(i % 40) + "/file" + std::to_string(i) + ".dat";
    b.File(name, i % 2 ? TextLike(size, i) : BinaryLike(size, i), 8);
  }
  Save(dir + "/small.zip", b.Build());
}

// 20,000 files of 0-4 KB in 100 folders: what many small entries cost.
void GenerateMany(const std::string& dir) {
  ZipBuilder b;
  for (uint32_t i = 0; i < 20000; ++i) {
    const size_t size = (i * 7919u) % 4096;
    b.File("many/d" + std::to_string(i % 100) + "/f" + std::to_string(i) + ".txt", TextLike(size, i), 8);
  }
  Save(dir + "/many.zip", b.Build());
}

// One entry of 5 GiB, zeros but for a block of text every 64 MiB: the
// archive is a few megabytes, its sizes need zip64, and the file it unpacks
// to is written whole.
void GenerateHuge(const std::string& dir) {
  const uint64_t size = uint64_t(5) << 30;
  const uint32_t chunk = 1u << 20;
  std::string zeros(chunk, '\0');
  z_stream s = {};
  deflateInit2(&s, 1, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string compressed;
  std::vector<uint8_t> out(1u << 20);
  uLong crc = 0;
  for (uint64_t done = 0; done < size; done += chunk) {
    std::string piece =
        (done % (64u << 20)) == 0 ? TextLike(chunk, static_cast<uint32_t>(done >> 20)) : zeros;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), chunk);
    s.next_in = reinterpret_cast<Bytef*>(&piece[0]);
    s.avail_in = chunk;
    const bool last = done + chunk >= size;
    do {
      s.next_out = out.data();
      s.avail_out = static_cast<uInt>(out.size());
      deflate(&s, last ? Z_FINISH : Z_NO_FLUSH);
      compressed.append(reinterpret_cast<char*>(out.data()), out.size() - s.avail_out);
    } while (s.avail_out == 0 || (last && s.avail_in != 0));
  }
  deflateEnd(&s);
  ZipEntryPlan e;
  e.name = "huge.bin";
  e.compressed = compressed;
  e.crc = static_cast<uint32_t>(crc);
  e.uncompressedSize = size;
  e.zip64 = true;
  Save(dir + "/huge.zip", ZipBuilder().Add(e).Build());
}

// Four files of 100 MB in 1 MB blocks of noise, text and repetitive data,
// in proportions that differ per file.
void GenerateLarge(const std::string& dir) {
  std::vector<std::string> files(4);
  for (uint32_t f = 0; f < 4; ++f) {
    std::string& data = files[f];
    data.reserve(100u << 20);
    for (uint32_t block = 0; block < 100; ++block) {
      const uint32_t kind = (block * (f + 1) + f) % (4 + f);
      if (kind == 0)
        data += BinaryLike(1 << 20, f * 1000 + block);
      else if (kind == 1)
        data += std::string(1 << 20, static_cast<char>('a' + block % 26));
      else
        data += TextLike(1 << 20, f * 1000 + block);
    }
  }
  for (uint16_t method : {uint16_t(8), uint16_t(0)}) {
    ZipBuilder b;
    for (uint32_t f = 0; f < 4; ++f) b.File("large" + std::to_string(f) + ".bin", files[f], method);
    Save(dir + (method == 8 ? "/large.zip" : "/large-stored.zip"), b.Build());
  }
  // The same entries in zip64 form: sizes in extra fields, 8-byte
  // descriptors, the zip64 end record.
  ZipBuilder b;
  for (uint32_t f = 0; f < 4; ++f) {
    ZipEntryPlan e;
    e.name = "large" + std::to_string(f) + ".bin";
    e.data = files[f];
    e.zip64 = e.dataDescriptor = true;
    b.Add(e);
  }
  Save(dir + "/large64.zip", b.Zip64().Build());
}

// Peak resident memory in MiB. Under Wine this includes Wine's own share of
// the process, so its figure is an upper bound for the reader.
double PeakMiB() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize / 1048576.0;
#else
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
#endif
}

void Report(const char* what, std::chrono::steady_clock::time_point start) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s %.3f s peak %.1f MiB\n", what, seconds, PeakMiB());
}

int Extract(const std::string& archive, const std::string& dest) {
  // QZ_SETTLE_MS: a pause first, for what else starts with the process.
  if (const char* settle = std::getenv("QZ_SETTLE_MS"))
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(settle)));
  const auto start = std::chrono::steady_clock::now();
  CZipArchive zip;
  zip.Open(archive);
  zip.SetReplaceReadOnly(true);  // as the download worker
  // QZ_WRITE_BEHIND=0 or 1 overrides the platform's choice of threads.
  if (const char* behind = std::getenv("QZ_WRITE_BEHIND")) zip.SetWriteBehind(behind[0] == '1');
  int failures = 0;
  for (uint32_t i = 0; i < static_cast<uint32_t>(zip.GetEntryCount()); ++i) {
    if (!zip.ExtractEntry(i, dest.c_str(), true, nullptr, 65536)) ++failures;
  }
  zip.Close();
  Report("extract", start);
  return failures == 0 ? 0 : 1;
}

int Seek(FILE* file, int64_t offset, int origin) {
#ifdef _WIN32
  return _fseeki64(file, offset, origin);
#else
  return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

// The floor: the same compressed bytes read, inflated and checked in memory.
int Bound(const std::string& archive) {
  const auto start = std::chrono::steady_clock::now();
  CZipArchive zip;
  zip.Open(archive);
  std::vector<uint8_t> in(65536), out(65536);
  FILE* file = std::fopen(archive.c_str(), "rb");
  CZipEntryInfo info;
  int failures = 0;
  for (uint32_t i = 0; i < static_cast<uint32_t>(zip.GetEntryCount()); ++i) {
    zip.GetEntryInfo(info, i);
    uint8_t header[30];
    if (Seek(file, static_cast<int64_t>(info.localHeaderOffset), SEEK_SET) != 0) return 2;
    if (std::fread(header, 1, 30, file) != 30) return 2;
    Seek(file, (header[26] | header[27] << 8) + (header[28] | header[29] << 8), SEEK_CUR);
    z_stream s = {};
    inflateInit2(&s, -MAX_WBITS);
    uLong crc = 0;
    uint64_t left = info.compressedSize;
    int r = Z_OK;
    while (r != Z_STREAM_END && (left > 0 || s.avail_in > 0 || info.method == 0)) {
      if (s.avail_in == 0) {
        if (left == 0) break;
        const uint32_t k = left < in.size() ? static_cast<uint32_t>(left) : static_cast<uint32_t>(in.size());
        if (std::fread(in.data(), 1, k, file) != k) return 2;
        left -= k;
        s.next_in = in.data();
        s.avail_in = k;
      }
      if (info.method == 0) {
        crc = crc32(crc, s.next_in, s.avail_in);
        s.avail_in = 0;
        continue;
      }
      s.next_out = out.data();
      s.avail_out = static_cast<uInt>(out.size());
      r = inflate(&s, Z_SYNC_FLUSH);
      crc = crc32(crc, out.data(), static_cast<uInt>(out.size() - s.avail_out));
      if (r != Z_OK && r != Z_STREAM_END) return 2;
    }
    inflateEnd(&s);
    if (crc != info.crc32) ++failures;
  }
  std::fclose(file);
  Report("bound", start);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (mode == "generate" && argc == 3) {
      ZipSystem::CreatePath(argv[2]);
      GenerateSmall(argv[2]);
      GenerateMany(argv[2]);
      GenerateLarge(argv[2]);
      return 0;
    }
    if (mode == "generate-huge" && argc == 3) {
      ZipSystem::CreatePath(argv[2]);
      GenerateHuge(argv[2]);
      return 0;
    }
    if (mode == "extract" && argc == 4) return Extract(argv[2], argv[3]);
    if (mode == "bound" && argc == 3) return Bound(argv[2]);
  } catch (const CZipException& e) {
    std::fprintf(stderr, "zip error %d %s\n", e.cause, e.fileName.c_str());
    return 2;
  }
  std::fprintf(stderr,
               "usage: zip_bench generate DIR | generate-huge DIR | extract ARCHIVE DEST/ | bound ARCHIVE\n");
  return 64;
}
