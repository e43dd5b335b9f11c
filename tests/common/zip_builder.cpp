#include "tests/common/zip_builder.h"

#include <zlib.h>

#include <limits>
#include <numeric>
#include <stdexcept>

namespace ziptest {
namespace {

void Le16(std::string& out, uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Le32(std::string& out, uint32_t v) {
    Le16(out, static_cast<uint16_t>(v & 0xFFFF));
    Le16(out, static_cast<uint16_t>(v >> 16));
}

// Writes into volumes; records never straddle, data may.
class VolumeWriter {
public:
    explicit VolumeWriter(size_t volumeSize) : volumeSize(volumeSize) { volumes.emplace_back(); }

    void Record(const std::string& bytes) {
        if (!volumes.back().empty() && volumes.back().size() + bytes.size() > volumeSize) volumes.emplace_back();
        Append(bytes);
    }
    void Data(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            if (volumes.back().size() >= volumeSize) volumes.emplace_back();
            size_t room = std::min(volumeSize - volumes.back().size(), bytes.size() - done);
            Append(bytes.substr(done, room));
            done += room;
        }
    }
    // Disk and offset of the next record of the given size.
    std::pair<uint16_t, uint32_t> NextRecord(size_t size) const {
        if (!volumes.back().empty() && volumes.back().size() + size > volumeSize)
            return {static_cast<uint16_t>(volumes.size()), 0};
        return {static_cast<uint16_t>(volumes.size() - 1), static_cast<uint32_t>(volumes.back().size())};
    }
    size_t Joined() const { return joined; }

    std::vector<std::string> volumes;

private:
    void Append(const std::string& bytes) {
        volumes.back() += bytes;
        joined += bytes.size();
    }
    size_t volumeSize;
    size_t joined = 0;
};

}  // namespace

ZipBuilder& ZipBuilder::Add(ZipEntryPlan entry) {
    entries.push_back(std::move(entry));
    return *this;
}

ZipBuilder& ZipBuilder::File(const std::string& name, const std::string& data, uint16_t method) {
    ZipEntryPlan e;
    e.name = name;
    e.data = data;
    e.method = method;
    return Add(std::move(e));
}

ZipBuilder& ZipBuilder::Folder(const std::string& name) {
    ZipEntryPlan e;
    e.name = name;
    e.method = 0;
    e.externalAttributes = 0x10;
    return Add(std::move(e));
}

ZipBuilder& ZipBuilder::Comment(const std::string& text) {
    comment = text;
    return *this;
}

ZipBuilder& ZipBuilder::Prefix(const std::string& bytes) {
    prefix = bytes;
    return *this;
}

ZipBuilder& ZipBuilder::CentralOrder(const std::vector<size_t>& order) {
    centralOrder = order;
    return *this;
}

std::string ZipBuilder::Build() {
    std::vector<std::string> one = BuildSplit(std::numeric_limits<size_t>::max());
    return one.front();
}

namespace {

void Le64(std::string& out, uint64_t v) {
    Le32(out, static_cast<uint32_t>(v));
    Le32(out, static_cast<uint32_t>(v >> 32));
}

// A 32-bit field: the value, or "see zip64" when it is there.
uint32_t Field32(uint64_t value, bool inZip64) { return inZip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(value); }

}  // namespace

ZipBuilder& ZipBuilder::Zip64(bool on) {
    zip64 = on;
    return *this;
}

ZipBuilder& ZipBuilder::Origin(uint64_t position) {
    origin = position;
    return *this;
}

std::vector<std::string> ZipBuilder::BuildSplit(size_t volumeSize) {
    const bool split = volumeSize != std::numeric_limits<size_t>::max();
    VolumeWriter out(volumeSize);
    if (!prefix.empty()) out.Data(prefix);
    layout.assign(entries.size(), ZipEntryLayout());

    struct Recorded {
        uint32_t crc;
        uint64_t csize, usize;
    };
    std::vector<Recorded> recorded;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ZipEntryPlan& e = entries[i];
        std::string data = e.compressed ? *e.compressed : (e.method == 8 ? Deflate(e.data) : e.data);
        Recorded r{e.crc.value_or(Crc32(e.data)), e.compressedSize.value_or(data.size()),
                   e.uncompressedSize.value_or(e.data.size())};
        recorded.push_back(r);
        const uint16_t flags = static_cast<uint16_t>(e.flags | (e.dataDescriptor ? 8 : 0));

        std::string extra = e.localExtra;
        if (e.zip64) {
            Le16(extra, 1);
            Le16(extra, 16);
            Le64(extra, e.dataDescriptor ? 0 : r.usize);
            Le64(extra, e.dataDescriptor ? 0 : r.csize);
        }
        std::string local;
        Le32(local, 0x04034B50);
        Le16(local, e.zip64 ? 45 : 20);
        Le16(local, flags);
        Le16(local, e.method);
        Le16(local, e.modTime);
        Le16(local, e.modDate);
        Le32(local, e.dataDescriptor ? 0 : r.crc);
        Le32(local, e.dataDescriptor && !e.zip64 ? 0 : Field32(r.csize, e.zip64));
        Le32(local, e.dataDescriptor && !e.zip64 ? 0 : Field32(r.usize, e.zip64));
        Le16(local, e.localNameLength.value_or(static_cast<uint16_t>(e.name.size())));
        Le16(local, static_cast<uint16_t>(extra.size()));
        local += e.name + extra;

        auto where = out.NextRecord(local.size());
        layout[i].disk = where.first;
        layout[i].localOffset = where.second;
        out.Record(local);
        layout[i].localPos = out.Joined() - local.size();
        layout[i].dataPos = out.Joined();
        layout[i].dataSize = data.size();
        out.Data(data);
        if (e.dataDescriptor) {
            std::string descriptor;
            if (e.descriptorSignature) Le32(descriptor, 0x08074B50);
            Le32(descriptor, r.crc);
            if (e.zip64) {
                Le64(descriptor, r.csize);
                Le64(descriptor, r.usize);
            } else {
                Le32(descriptor, static_cast<uint32_t>(r.csize));
                Le32(descriptor, static_cast<uint32_t>(r.usize));
            }
            out.Data(descriptor);
        }
    }
    // Offsets of a single file count from the archive proper, after the
    // prefix, and from the file's start when the archive lies further in.
    if (!split)
        for (auto& l : layout) l.localOffset = l.localOffset - prefix.size() + origin;

    std::vector<size_t> order = centralOrder;
    if (order.empty()) {
        order.resize(entries.size());
        std::iota(order.begin(), order.end(), 0);
    }
    std::pair<uint16_t, uint64_t> centralStart{0, 0};
    uint64_t centralBytes = 0;
    for (size_t n = 0; n < order.size(); ++n) {
        const size_t i = order[n];
        const ZipEntryPlan& e = entries[i];
        // Only the fields that do not fit (or all, for a zip64 entry), in this order.
        const bool bigU = e.zip64 || recorded[i].usize >= 0xFFFFFFFFu;
        const bool bigC = e.zip64 || recorded[i].csize >= 0xFFFFFFFFu;
        const bool bigO = e.zip64 || layout[i].localOffset >= 0xFFFFFFFFu;
        std::string extra = e.extra;
        if (bigU || bigC || bigO) {
            std::string fields;
            if (bigU) Le64(fields, recorded[i].usize);
            if (bigC) Le64(fields, recorded[i].csize);
            if (bigO) Le64(fields, layout[i].localOffset);
            Le16(extra, 1);
            Le16(extra, static_cast<uint16_t>(fields.size()));
            extra += fields;
        }
        std::string central;
        Le32(central, 0x02014B50);
        Le16(central, e.versionMadeBy);
        Le16(central, e.zip64 ? 45 : 20);
        Le16(central, static_cast<uint16_t>(e.flags | (e.dataDescriptor ? 8 : 0)));
        Le16(central, e.method);
        Le16(central, e.modTime);
        Le16(central, e.modDate);
        Le32(central, recorded[i].crc);
        Le32(central, Field32(recorded[i].csize, bigC));
        Le32(central, Field32(recorded[i].usize, bigU));
        Le16(central, static_cast<uint16_t>(e.name.size()));
        Le16(central, static_cast<uint16_t>(extra.size()));
        Le16(central, static_cast<uint16_t>(e.comment.size()));
        Le16(central, layout[i].disk);
        Le16(central, 0);
        Le32(central, e.externalAttributes);
        Le32(central, Field32(layout[i].localOffset, bigO));
        central += e.name + extra + e.comment;
        auto where = out.NextRecord(central.size());
        if (n == 0) centralStart = where;
        out.Record(central);
        layout[i].centralPos = out.Joined() - central.size();
        if (n == 0) centralPos = layout[i].centralPos;
        centralBytes += central.size();
    }
    if (order.empty()) {
        centralStart = out.NextRecord(0);
        centralPos = out.Joined();
    }
    const uint64_t centralOffset = split ? centralStart.second : centralStart.second - prefix.size() + origin;
    const uint64_t count = entries.size();
    const bool zip64End = zip64 || count > 0xFFFF || centralOffset >= 0xFFFFFFFFu || centralBytes >= 0xFFFFFFFFu;

    zip64EndPos = 0;
    if (zip64End) {
        std::string record;
        Le32(record, 0x06064B50);
        Le64(record, 44);
        Le16(record, 45);
        Le16(record, 45);
        auto recordAt = out.NextRecord(56);
        Le32(record, recordAt.first);
        Le32(record, centralStart.first);
        Le64(record, count);
        Le64(record, count);
        Le64(record, centralBytes);
        Le64(record, centralOffset);
        out.Record(record);
        zip64EndPos = out.Joined() - record.size();
        std::string locator;
        Le32(locator, 0x07064B50);
        Le32(locator, recordAt.first);
        Le64(locator, split ? recordAt.second : recordAt.second - prefix.size() + origin);
        Le32(locator, static_cast<uint32_t>(recordAt.first) + 1);
        out.Record(locator);
    }

    std::string end;
    Le32(end, 0x06054B50);
    auto where = out.NextRecord(22 + comment.size());
    Le16(end, where.first);
    Le16(end, centralStart.first);
    Le16(end, count > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(count));
    Le16(end, count > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(count));
    Le32(end, centralBytes >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(centralBytes));
    Le32(end, centralOffset >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(centralOffset));
    Le16(end, static_cast<uint16_t>(comment.size()));
    end += comment;
    out.Record(end);
    endRecordPos = out.Joined() - end.size();
    return out.volumes;
}

std::string Deflate(const std::string& data, int level) {
    z_stream s = {};
    if (deflateInit2(&s, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&s, static_cast<uLong>(data.size())) + 16, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    int r = deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    if (r != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

uint32_t Crc32(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

uint16_t DosTime(int hour, int minute, int second) {
    return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

uint16_t DosDate(int year, int month, int day) {
    return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

void PutLe16(std::string& bytes, size_t pos, uint16_t value) {
    bytes.at(pos) = static_cast<char>(value & 0xFF);
    bytes.at(pos + 1) = static_cast<char>(value >> 8);
}

void PutLe32(std::string& bytes, size_t pos, uint32_t value) {
    PutLe16(bytes, pos, static_cast<uint16_t>(value & 0xFFFF));
    PutLe16(bytes, pos + 2, static_cast<uint16_t>(value >> 16));
}

std::string TextLike(size_t size, uint32_t seed) {
    static const char* const words[] = {"update", "launcher", "game ",  "data", "sound", "the ",   "of ",
                                        "player", "version",  "patch ", "map",  "=",     "value ", "\r\n"};
    std::string out;
    out.reserve(size + 16);
    uint32_t x = seed * 2654435761u + 1;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        out += words[(x >> 16) % (sizeof words / sizeof words[0])];
        if ((x >> 8) % 7 == 0) out += ' ';
    }
    out.resize(size);
    return out;
}

std::string BinaryLike(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 7;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = static_cast<char>(x);
    }
    return out;
}

}  // namespace ziptest
