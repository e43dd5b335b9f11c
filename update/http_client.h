// The launcher's one network component: synchronous HTTP GET of whole
// resources, one request at a time, always from the server (no cache).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>

#include "base/win_handles.h"

namespace qz {

struct InternetHandleTraits {
  using type = HINTERNET;
  static HINTERNET invalid() noexcept { return nullptr; }
  static void close(HINTERNET h) noexcept { ::InternetCloseHandle(h); }
};
using InternetHandle = UniqueHandle<InternetHandleTraits>;

// What every caller passes to OpenUrl.
constexpr DWORD kHttpContext = 1;
constexpr DWORD kHttpFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                             INTERNET_FLAG_TRANSFER_BINARY;  // 0x84000002
static_assert(kHttpFlags == 0x84000002u, "fetch flags");

class HttpClient {
 public:
  HttpClient() = default;
  virtual ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  bool OpenSession(const char* agent);
  // Refuses anything but https:// addresses and http:// to this PC (IsFetchUrl),
  // and a request that redirects anywhere else or from https to http.
  bool OpenUrl(const char* url, DWORD context, DWORD flags, const char* headers, DWORD headersLength);
  // Asks only for the answer's head (HTTP HEAD): status and length of a file
  // without starting its transfer. Read then has nothing to read.
  bool OpenHead(const char* url, DWORD context, DWORD flags);
  bool IsStatusOk();
  DWORD GetContentLength();
  // Bytes read, 0 at the end of the data, -1 when the read failed.
  int Read(void* buffer, DWORD wanted);
  void CloseRequest();
  void CloseAll();

  // Another thread may call this to end a read that is waiting on the network:
  // the request handle is closed under the reader, whose read then fails. It
  // touches nothing else.
  void AbortRequest();

 private:
  InternetHandle session_;
  // Used only by the thread that makes the requests.
  InternetHandle connection_;
  // Taken by exchange so the worker and a stopping wizard never close it twice.
  std::atomic<HINTERNET> request_{nullptr};
};

}  // namespace qz
