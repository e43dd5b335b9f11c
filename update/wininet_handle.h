// The owner of a WinINet handle, for the launcher's HTTP client and the tests
// that make requests of their own.
#pragma once

#include <windows.h>
#include <wininet.h>

#include "base/win_handles.h"

namespace qz {

struct InternetHandleTraits {
  using type = HINTERNET;
  static HINTERNET invalid() noexcept { return nullptr; }
  // Closing keeps the caller's GetLastError (InternetCloseHandle sets its own).
  static void close(HINTERNET h) noexcept {
    const DWORD error = ::GetLastError();
    ::InternetCloseHandle(h);
    ::SetLastError(error);
  }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

}  // namespace qz
