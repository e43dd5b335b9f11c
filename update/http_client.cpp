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
}  // namespace

HttpClient::~HttpClient() { CloseAll(); }

bool HttpClient::OpenSession(const char* agent) {
  session_.reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  return static_cast<bool>(session_);
}

bool HttpClient::OpenUrl(const char* url, DWORD context, DWORD flags, const char* headers,
                         DWORD headersLength) {
  // The caller closes an open request first; a stray one is replaced, not leaked.
  CloseRequest();
  if (!session_ || !IsFetchUrl(url)) return false;
  HINTERNET h = InternetOpenUrlA(session_.get(), url, headers, headersLength, flags & ~kRefusedFlags, context);
  request_.store(h);
  if (h && !EndsWhereAllowed(h, url)) {
    CloseRequest();
    return false;
  }
  return h != nullptr;
}

bool HttpClient::OpenHead(const char* url, DWORD context, DWORD flags) {
  CloseRequest();
  if (!session_ || !IsFetchUrl(url)) return false;
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
  if (!HttpSendRequestA(h, nullptr, 0, nullptr, 0) || !EndsWhereAllowed(h, url)) {
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

void HttpClient::AbortRequest() { CloseRequest(); }

}  // namespace qz
