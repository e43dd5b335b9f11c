#include "update/http_client.h"

#include "update/url_rules.h"

namespace qz {

namespace {
// Certificate errors are never ignored, and no caller's flags may let a
// redirect from https to http through (Wine follows one even without them, so
// the address the request ended at is checked as well).
constexpr DWORD kRefusedFlags = INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID |
                                INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP;

// Where the request ended after WinINet followed its redirects must be a
// fetchable address too, and https stays https.
bool EndsWhereAllowed(HINTERNET request, const char* url) {
  char final[4096] = {};
  DWORD length = sizeof final;
  if (!InternetQueryOptionA(request, INTERNET_OPTION_URL, final, &length) || length >= sizeof final) return false;
  return IsFetchRedirect(url, final);
}

// A redirect on the way counts too: https to http and back to https ends at an
// allowed address, yet the hop in between could have sent it anywhere. WinINet
// reports each redirect to the session's status callback, on the thread that
// opens the request, while the open runs.
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
}  // namespace

HttpClient::~HttpClient() { CloseAll(); }

bool HttpClient::OpenSession(const char* agent) {
  session_.reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (session_ && InternetSetStatusCallbackA(session_.get(), OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
    session_.reset();
  }
  return static_cast<bool>(session_);
}

bool HttpClient::OpenUrl(const char* url, DWORD context, DWORD flags, const char* headers,
                         DWORD headersLength) {
  // The caller closes an open request first; a stray one is replaced, not leaked.
  CloseRequest();
  if (!session_ || !IsFetchUrl(url)) return false;
  RedirectWatch watch(url);
  if (context == 0) context = kHttpContext;  // WinINet calls back only for a request with one
  HINTERNET h = InternetOpenUrlA(session_.get(), url, headers, headersLength, flags & ~kRefusedFlags, context);
  request_.store(h);
  if (h && (watch.refused || !EndsWhereAllowed(h, url))) {
    CloseRequest();
    return false;
  }
  return h != nullptr;
}

bool HttpClient::OpenHead(const char* url, DWORD context, DWORD flags) {
  CloseRequest();
  if (!session_ || !IsFetchUrl(url)) return false;
  if (context == 0) context = kHttpContext;
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
  connection_.reset(InternetConnectA(session_.get(), host, parts.nPort, nullptr, nullptr,
                                     INTERNET_SERVICE_HTTP, 0, context));
  if (!connection_) return false;
  HINTERNET h = HttpOpenRequestA(connection_.get(), "HEAD", path[0] ? path : "/", nullptr, nullptr,
                                 nullptr, (flags & ~(INTERNET_FLAG_TRANSFER_BINARY | kRefusedFlags)) |
                                              (secure ? INTERNET_FLAG_SECURE : 0),
                                 context);
  if (!h) {
    connection_.reset();
    return false;
  }
  request_.store(h);
  RedirectWatch watch(url);
  if (!HttpSendRequestA(h, nullptr, 0, nullptr, 0) || watch.refused || !EndsWhereAllowed(h, url)) {
    CloseRequest();
    return false;
  }
  return true;
}

bool HttpClient::IsStatusOk() {
  HINTERNET request = request_.load();
  if (!request) return false;
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &length, nullptr)) {
    return false;
  }
  return status == 200;
}

DWORD HttpClient::GetContentLength() {
  HINTERNET request = request_.load();
  if (!request) return 0;
  DWORD value = 0;
  DWORD length = sizeof value;
  if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value,
                      &length, nullptr)) {
    return 0;
  }
  return value;
}

int HttpClient::Read(void* buffer, DWORD wanted) {
  HINTERNET request = request_.load();
  if (!request) return -1;
  DWORD got = 0;
  if (!InternetReadFile(request, buffer, wanted, &got)) return -1;
  return static_cast<int>(got);
}

void HttpClient::CloseRequest() {
  if (HINTERNET h = request_.exchange(nullptr)) InternetCloseHandle(h);
  // Only a head request opens a connection of its own.
  connection_.reset();
}

void HttpClient::CloseAll() {
  CloseRequest();
  connection_.reset();
  session_.reset();
}

// Runs on another thread than the requests: only the atomic request handle is
// touched here; the connection stays with the requesting thread, which drops
// it at its next CloseRequest.
void HttpClient::AbortRequest() {
  if (HINTERNET h = request_.exchange(nullptr)) InternetCloseHandle(h);
}

}  // namespace qz
