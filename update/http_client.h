// The one network component: synchronous HTTP requests (GET, with a range
// when a download goes on, and HEAD for a size), one at a time, always from
// the server (no cache), only to addresses the launcher fetches. Two builds
// of the same class: WinINet's for the launcher (the player's own proxy and
// connection settings), WinHTTP's for the maintenance service (WinINet is not
// made for services: it reads a user's settings that a service does not have).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "base/win_handles.h"

namespace qz {

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
  // Asks for `url` with GET, `headers` ("Name: value\r\n" lines) added, and
  // keeps the request open for the answer. Refuses anything but https://
  // addresses and http:// to this PC (IsFetchUrl), and a request that
  // redirects anywhere else or from https to http. A failure leaves its
  // error code for GetLastError.
  bool Get(const char* url, const std::string& headers = std::string());
  // Asks only for the answer's head (HTTP HEAD): status and length of a file
  // without starting its transfer. Read then has nothing to read.
  bool Head(const char* url);
  bool IsStatusOk();
  // The answer's status code; 0 when there is no answer.
  DWORD Status();
  // The answer's Content-Length, of any size (a game's archive may be over
  // 4 GiB); 0 without one or when it is not a plain decimal number.
  std::uint64_t ContentLength();
  // A header of the answer ("ETag", "Last-Modified", "Content-Range"); "" when absent.
  std::string Header(const char* name);
  // Bytes read, 0 at the end of the data, -1 when the read failed. Without
  // `whole` only what has arrived once anything has (for a link that may
  // crawl); with it, `wanted` bytes unless the data ends first.
  int Read(void* buffer, DWORD wanted, bool whole = true);
  // Closing keeps the caller's GetLastError.
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

 private:
  bool Send(const char* verb, const char* url, const std::string& headers);
  // One request without following its redirects (the WinHTTP build).
  bool SendOnce(const char* verb, const std::string& url, const std::string& headers);
  // A Content-Length's text as a number; 0 unless it is plain decimal digits.
  static std::uint64_t DecimalLength(const std::string& text);
  // Closes the handle taken from `handle`, once, keeping GetLastError.
  static void Close(std::atomic<void*>& handle);

  // Each handle is taken by exchange, so whichever thread closes it closes it
  // once, and a thread that still holds a copy only sees its calls fail.
  // (HINTERNET of either stack.)
  std::atomic<void*> session_{nullptr};
  std::atomic<void*> connection_{nullptr};  // the open request's own connection
  std::atomic<void*> request_{nullptr};
  std::atomic<bool> aborted_{false};
  DWORD timeoutMs_ = kHttpTimeoutMs;
};

// The answer as the support log gives it: "status 200, length 1234", or
// "no answer, error 12029 (...)" when the request could not be made.
std::string AnswerText(HttpClient& http, bool answered);

}  // namespace qz
