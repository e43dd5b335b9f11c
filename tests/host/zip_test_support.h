// Scratch folders and file helpers for the zip reader's native tests.
#pragma once

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>

#include "zip/zip_exception.h"

namespace ziptest {

// A fresh folder under the temporary folder, removed with everything in it.
// Removal never follows links.
class TempDir {
public:
    TempDir() {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/ziptest.XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp");
        path = pattern;
    }
    ~TempDir() {
        nftw(path.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
             FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& name) const { return path + "/" + name; }
    // The folder as the reader takes a destination: with a trailing separator.
    std::string Dest() const { return path + "/"; }

    std::string path;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Every path below root, relative to it.
inline std::set<std::string> ListTree(const std::string& root) {
    static std::set<std::string>* found;
    static size_t skip;
    std::set<std::string> result;
    found = &result;
    skip = root.size() + 1;
    nftw(root.c_str(),
         [](const char* p, const struct stat*, int, struct FTW*) {
             std::string s(p);
             if (s.size() > skip) found->insert(s.substr(skip));
             return 0;
         },
         16, FTW_PHYS);
    return result;
}

// Runs f and returns the CZipException it throws; fails the test when none.
inline CZipException CatchZip(const std::function<void()>& f) {
    try {
        f();
    } catch (const CZipException& e) {
        return e;
    }
    ADD_FAILURE() << "expected a CZipException";
    return CZipException(-1);
}

}  // namespace ziptest
