// Builds zip archives in memory for tests: good ones by default, with every
// field open to tampering, and split into numbered volumes on request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ziptest {

struct ZipEntryPlan {
    std::string name;
    std::string data;  // uncompressed contents
    uint16_t method = 8;
    uint16_t versionMadeBy = 0x0014;  // host 0 (MS-DOS)
    uint16_t flags = 0;
    uint32_t externalAttributes = 0;
    uint16_t modTime = 0;
    uint16_t modDate = 0x21;  // 1980-01-01
    bool dataDescriptor = false;  // flag bit 3, zeros in the local header
    bool descriptorSignature = true;
    // Sizes (and the offset) in zip64 extra fields of both headers, their
    // 32-bit fields saying "see zip64"; a data descriptor then has 8-byte sizes.
    bool zip64 = false;
    std::string extra;
    std::string localExtra;
    std::string comment;
    std::optional<std::string> compressed;  // raw data bytes instead of compressing data
    // Recorded values that differ from the real ones.
    std::optional<uint32_t> crc;
    std::optional<uint64_t> compressedSize, uncompressedSize;
    std::optional<uint16_t> localNameLength;
};

// Where the pieces of an entry ended up, as positions in the joined output.
struct ZipEntryLayout {
    uint16_t disk = 0;
    uint64_t localOffset = 0;  // offset of the local header within its volume
    size_t localPos = 0;
    size_t dataPos = 0;
    size_t dataSize = 0;
    size_t centralPos = 0;
};

class ZipBuilder {
public:
    ZipBuilder& Add(ZipEntryPlan entry);
    ZipBuilder& File(const std::string& name, const std::string& data, uint16_t method = 8);
    ZipBuilder& Folder(const std::string& name);
    ZipBuilder& Comment(const std::string& comment);
    ZipBuilder& Prefix(const std::string& bytes);
    // Order of the central records, as indexes into the entries.
    ZipBuilder& CentralOrder(const std::vector<size_t>& order);
    // A zip64 end record and its locator even when nothing needs them (they
    // are written anyway beyond 65535 entries or 4 GiB).
    ZipBuilder& Zip64(bool on = true);
    // The built bytes go at this position of the file, which holds nothing
    // before them (a sparse hole): every offset counts from the file's start.
    ZipBuilder& Origin(uint64_t position);

    std::string Build();
    // Volumes of at most volumeSize bytes; headers never straddle two.
    std::vector<std::string> BuildSplit(size_t volumeSize);

    const std::vector<ZipEntryLayout>& Layout() const { return layout; }
    size_t EndRecordPos() const { return endRecordPos; }
    size_t CentralPos() const { return centralPos; }
    size_t Zip64EndPos() const { return zip64EndPos; }  // 0: none written

private:
    std::vector<ZipEntryPlan> entries;
    std::vector<size_t> centralOrder;
    std::string prefix;
    std::string comment;
    bool zip64 = false;
    uint64_t origin = 0;
    std::vector<ZipEntryLayout> layout;
    size_t endRecordPos = 0;
    size_t centralPos = 0;
    size_t zip64EndPos = 0;
};

std::string Deflate(const std::string& data, int level = 6);
uint32_t Crc32(const std::string& data);
uint16_t DosTime(int hour, int minute, int second);
uint16_t DosDate(int year, int month, int day);
void PutLe16(std::string& bytes, size_t pos, uint16_t value);
void PutLe32(std::string& bytes, size_t pos, uint32_t value);
// Deterministic contents: words and line breaks, or noise.
std::string TextLike(size_t size, uint32_t seed);
std::string BinaryLike(size_t size, uint32_t seed);

}  // namespace ziptest
