// The launcher's one network component: synchronous HTTP GET of whole
// resources, one request at a time, always from the server (no cache).
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>

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

// A server that accepts and then says nothing fails a request after this long
// (connect, send and receive each), so no wait is unbounded.
constexpr DWORD kHttpTimeoutMs = 30000;

class HttpClient {
 public:
  HttpClient() = default;
  virtual ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  bool OpenSession(const char* agent, DWORD timeoutMs = kHttpTimeoutMs);
  // Refuses anything but https:// addresses and http:// to this PC (IsFetchUrl),
  // and a request that redirects anywhere else or from https to http.
  bool OpenUrl(const char* url, DWORD context, DWORD flags, const char* headers, DWORD headersLength);
  // Asks only for the answer's head (HTTP HEAD): status and length of a file
  // without starting its transfer. Read then has nothing to read.
  bool OpenHead(const char* url, DWORD context, DWORD flags);
  bool IsStatusOk();
  // The answer's status code; 0 when there is no answer.
  DWORD Status();
  DWORD GetContentLength();
  // A header of the answer ("ETag", "Last-Modified", "Content-Range"); "" when absent.
  std::string Header(const char* name);
  // Bytes read, 0 at the end of the data, -1 when the read failed.
  int Read(void* buffer, DWORD wanted);
  void CloseRequest();
  void CloseAll();

  // Another thread may call this to end a read that is waiting on the network:
  // the request handle is closed under the reader, whose read then fails. It
  // touches nothing else.
  void AbortRequest();
  // Another thread may call this to end whatever the client waits on, an open
  // still connecting included: the session is closed (which ends the opens
  // pending on it) and every later request fails at once. For a stop that
  // ends the run.
  void Abort();
  bool Aborted() const { return aborted_.load(); }

 private:
  bool Send(const char* verb, const char* url, DWORD context, DWORD flags, const char* headers,
            DWORD headersLength);

  // Each handle is taken by exchange, so whichever thread closes it closes it
  // once, and a thread that still holds a copy only sees its calls fail.
  std::atomic<HINTERNET> session_{nullptr};
  std::atomic<HINTERNET> connection_{nullptr};  // a head request's own connection
  std::atomic<HINTERNET> request_{nullptr};
  std::atomic<bool> aborted_{false};
  DWORD timeoutMs_ = kHttpTimeoutMs;
};

}  // namespace qz
