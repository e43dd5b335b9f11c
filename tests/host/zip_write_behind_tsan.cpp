// Large entries extracted with the inflating and the writing on two threads,
// built with ThreadSanitizer (which cannot share a program with the other
// sanitizers): whole entries, a cancel, a writer that fails and data that
// fails its check, each in a fresh folder. Exits 1 on the first difference.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/common/zip_builder.h"
#include "tests/host/zip_test_support.h"
#include "zip/zip_archive.h"

using namespace ziptest;

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "write-behind: %s\n", what);
    ++failures;
}

struct StopAfter : CZipProgressObserver {
    explicit StopAfter(int pieces) : left(pieces) {}
    void OnStart(const std::string&, const std::string&) override {}
    void OnTotal(uint64_t) override {}
    void OnEnd() override {}
    bool OnProgress(uint32_t) override { return --left != 0; }
    int left;
};

// Extracts entry 0 of `archive` into a fresh folder; the cause thrown, or 0.
int Extract(const std::string& archive, CZipProgressObserver* observer, TempDir& dir, bool toFullDevice = false) {
    WriteFile(dir / "a.zip", archive);
    if (toFullDevice) symlink("/dev/full", (dir / "x.bin").c_str());
    CZipArchive zip;
    zip.SetWriteBehind(true);
    if (observer) zip.SetProgressObserver(CZipArchive::opExtract, observer);
    try {
        zip.Open(dir / "a.zip");
        zip.ExtractEntry(0, dir.Dest().c_str());
        zip.Close();
    } catch (const CZipException& e) {
        zip.Close(1);
        return e.cause;
    }
    return 0;
}

}  // namespace

int main() {
    const std::string data = TextLike(5u << 20, 7) + BinaryLike(3u << 20, 8);
    for (uint16_t method : {uint16_t(0), uint16_t(8)}) {
        const std::string archive = ZipBuilder().File("x.bin", data, method).Build();
        {
            TempDir dir;
            Check(Extract(archive, nullptr, dir) == 0 && ReadFile(dir / "x.bin") == data, "whole entry");
        }
        {
            TempDir dir;
            StopAfter stop(5);
            Check(Extract(archive, &stop, dir) == CZipException::errCancelled && !Exists(dir / "x.bin"), "cancel");
        }
        {
            TempDir dir;
            Check(Extract(archive, nullptr, dir, true) == 28, "writer fails with no space");
        }
        {
            TempDir dir;
            ZipBuilder b;
            std::string damaged = b.File("x.bin", data, method).Build();
            damaged[b.Layout()[0].dataPos + damaged.size() / 2] ^= 0x20;
            const int cause = Extract(damaged, nullptr, dir);
            Check((cause == CZipException::errBadCrc || cause >= 500) && !Exists(dir / "x.bin"), "damaged data");
        }
    }
    std::printf("write-behind under ThreadSanitizer: %d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
