// Move-only owners for Win32 handles, so no path through the code leaks one
// and none is closed twice.
#pragma once

#include <windows.h>

namespace qz {

template <typename Traits>
class UniqueHandle {
 public:
  using pointer = typename Traits::type;

  UniqueHandle() noexcept : h_(Traits::invalid()) {}
  explicit UniqueHandle(pointer h) noexcept : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  pointer get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::invalid(); }
  pointer release() noexcept {
    pointer h = h_;
    h_ = Traits::invalid();
    return h;
  }
  void reset(pointer h = Traits::invalid()) noexcept {
    if (h_ != Traits::invalid()) Traits::close(h_);
    h_ = h;
  }
  // For out-parameters of API calls: releases what is held first.
  pointer* put() noexcept {
    reset();
    return &h_;
  }

 private:
  pointer h_;
};

struct KernelHandleTraits {
  using type = HANDLE;
  static HANDLE invalid() noexcept { return nullptr; }
  static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {
  using type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
  using type = HANDLE;
  static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) noexcept { ::FindClose(h); }
};
struct RegKeyTraits {
  using type = HKEY;
  static HKEY invalid() noexcept { return nullptr; }
  static void close(HKEY h) noexcept { ::RegCloseKey(h); }
};
struct MappedViewTraits {
  using type = void*;
  static void* invalid() noexcept { return nullptr; }
  static void close(void* p) noexcept { ::UnmapViewOfFile(p); }
};

using Handle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using MappedView = UniqueHandle<MappedViewTraits>;

// A started process: both of its handles, owned.
struct ProcessHandles {
  Handle process;
  Handle thread;
  void Take(const PROCESS_INFORMATION& info) noexcept {
    process.reset(info.hProcess);
    thread.reset(info.hThread);
  }
};

}  // namespace qz
