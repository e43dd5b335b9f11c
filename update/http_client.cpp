#include "update/http_client.h"

#include "update/wininet_handle.h"

#include <cstring>

#include "base/run_log.h"
#include "format/web_address.h"

namespace qz {

namespace {
// Every request: always from the server, never into the cache (the binary
// flag of the product's fetch flags 0x84000002 means nothing to HTTP). The
// context makes WinINet report redirects to the status callback.
constexpr DWORD kContext = 1;
constexpr DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// Certificate errors are never ignored, and WinINet must not follow a
// redirect from https to http on our behalf, whatever a caller passes.
constexpr DWORD kRefusedFlags = INTERNET_FLAG_IGNORE_CERT_CN_INVALID |
                                INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP;

// Where the request ended after WinINet followed its redirects must be a
// fetchable address too, and https stays https.
bool EndsWhereAllowed(HINTERNET request, const char* url) {
  char final[4096] = {};
  DWORD length = sizeof final;
  if (!InternetQueryOptionA(request, INTERNET_OPTION_URL, final, &length) || length >= sizeof final)
    return false;
  return IsFetchRedirect(url, final);
}

// A redirect on the way counts too: https to http and back to https ends at an
// allowed address, yet the hop in between could have sent it anywhere. WinINet
// reports each redirect to the session's status callback, on the thread that
// sends the request, while it is sent.
struct RedirectWatch {
  explicit RedirectWatch(const char* url) : requested(url) { current = this; }
  ~RedirectWatch() { current = nullptr; }
  const char* requested;
  bool refused = false;
  static thread_local RedirectWatch* current;
};
thread_local RedirectWatch* RedirectWatch::current = nullptr;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR, DWORD status, LPVOID info, DWORD) {
  RedirectWatch* watch = RedirectWatch::current;
  if (status != INTERNET_STATUS_REDIRECT || !watch) return;
  if (!info || !IsFetchRedirect(watch->requested, static_cast<const char*>(info))) watch->refused = true;
}

void SetTimeouts(HINTERNET h, DWORD ms) {
  for (DWORD option :
       {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    InternetSetOptionA(h, option, &ms, sizeof ms);
  }
}

}  // namespace

// The caller's last error (often the reason why a request is closed) stays.
void HttpClient::Close(std::atomic<void*>& handle) {
  if (HINTERNET h = handle.exchange(nullptr)) InternetHandleTraits::close(h);
}

bool HttpClient::OpenSession(const char* agent, DWORD timeoutMs) {
  Close(session_);
  aborted_ = false;
  HINTERNET session = InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) return false;
  if (InternetSetStatusCallbackA(session, OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
    InternetHandleTraits::close(session);
    return false;
  }
  SetTimeouts(session, timeoutMs);
  timeoutMs_ = timeoutMs;
  session_.store(session);
  return true;
}

bool HttpClient::Get(const char* url, const std::string& headers) { return Send("GET", url, headers); }

bool HttpClient::Head(const char* url) { return Send("HEAD", url, std::string()); }

// Every request is made step by step rather than by one InternetOpenUrl: the
// timeouts are set on each handle (Wine gives a connection made inside
// InternetOpenUrl no send or receive timeout at all), and the request handle
// is published before the request is sent, so an abort can close it while
// it waits.
bool HttpClient::Send(const char* verb, const char* url, const std::string& headers) {
  // The caller closes an open request first; a stray one is replaced, not leaked.
  CloseRequest();
  HINTERNET session = session_.load();
  if (!session || aborted_ || !url || !IsFetchUrl(url)) return false;
  char host[256] = {};
  char path[2048] = {};
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path;
  if (!InternetCrackUrlA(url, 0, 0, &parts)) return false;
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  HINTERNET connection =
      InternetConnectA(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, kContext);
  if (!connection) return false;
  SetTimeouts(connection, timeoutMs_);
  connection_.store(connection);
  static_assert((kFlags & kRefusedFlags) == 0, "certificate and redirect checks stay on");
  HINTERNET h = HttpOpenRequestA(connection, verb, path[0] ? path : "/", nullptr, nullptr, nullptr,
                                 kFlags | (secure ? INTERNET_FLAG_SECURE : 0), kContext);
  if (!h) {
    CloseRequest();
    return false;
  }
  SetTimeouts(h, timeoutMs_);
  request_.store(h);
  // An abort that came while the request was on its way leaves nothing behind.
  RedirectWatch watch(url);
  if (!HttpSendRequestA(h, headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
                        nullptr, 0) ||
      aborted_ || watch.refused || !EndsWhereAllowed(h, url)) {
    CloseRequest();
    return false;
  }
  return true;
}

DWORD HttpClient::Status() {
  HINTERNET request = request_.load();
  if (!request) return 0;
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr)) {
    return 0;
  }
  return status;
}

std::string HttpClient::Header(const char* name) {
  HINTERNET request = request_.load();
  if (!request || !name) return {};
  char value[512] = {};
  const std::size_t n = std::strlen(name);
  if (n >= sizeof value) return {};
  std::memcpy(value, name, n);
  DWORD length = sizeof value - 1;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CUSTOM, value, &length, nullptr) || length >= sizeof value)
    return {};
  return std::string(value, length);
}

std::uint64_t HttpClient::ContentLength() {
  HINTERNET request = request_.load();
  if (!request) return 0;
  // As text: the number query of WinINet is 32 bits wide.
  char text[32] = {};
  DWORD length = sizeof text - 1;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH, text, &length, nullptr) || length == 0 ||
      length > 16) {
    return 0;
  }
  return DecimalLength(std::string(text, length));
}

int HttpClient::Read(void* buffer, DWORD wanted, bool whole) {
  HINTERNET request = request_.load();
  if (!request) return -1;
  DWORD got = 0;
  if (whole) return InternetReadFile(request, buffer, wanted, &got) ? static_cast<int>(got) : -1;
  // A read that waits for its whole size sits through a trickle that keeps
  // each receive within its timeout (and Wine does not end such a wait when
  // the handle is closed): this one waits until some bytes are there, then
  // takes all that are, up to `wanted`.
  DWORD available = 0;
  if (!InternetQueryDataAvailable(request, &available, 0, 0)) return -1;
  if (available == 0) return 0;
  INTERNET_BUFFERSA taken{};
  taken.dwStructSize = sizeof taken;
  taken.lpvBuffer = buffer;
  taken.dwBufferLength = wanted;
  if (InternetReadFileExA(request, &taken, IRF_NO_WAIT, 0) && taken.dwBufferLength > 0) {
    return static_cast<int>(taken.dwBufferLength);
  }
  if (!InternetReadFile(request, buffer, available < wanted ? available : wanted, &got)) return -1;
  return static_cast<int>(got);
}

}  // namespace qz
