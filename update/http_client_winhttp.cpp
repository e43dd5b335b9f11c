// The HTTP client on WinHTTP, for the maintenance service: the same requests
// and checks as the launcher's WinINet build, without a user's settings (the
// machine's WinHTTP proxy, set with "netsh winhttp set proxy", is used).
#include <windows.h>
#include <winhttp.h>

#include "base/win_text.h"
#include "format/web_address.h"
#include "update/http_client.h"

namespace qz {

namespace {

// Redirects are followed here, not by WinHTTP, so that every hop is checked
// before it is asked for: at most this many.
constexpr int kMaxRedirects = 8;

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A Location against the address it came from: absolute, from the host's
// root, or beside the answered path. "" when it cannot be told.
std::string ResolvedLocation(const std::string& from, const std::string& location) {
  if (location.empty()) return {};
  if (location.rfind("https://", 0) == 0 || location.rfind("http://", 0) == 0) return location;
  const std::size_t scheme = from.find("://");
  if (scheme == std::string::npos || location.rfind("//", 0) == 0) return {};
  const std::size_t root = from.find('/', scheme + 3);
  const std::string origin = from.substr(0, root);
  if (location.front() == '/') return origin + location;
  std::string base = root == std::string::npos ? "/" : from.substr(root);
  base = base.substr(0, base.find_first_of("?#"));
  return origin + base.substr(0, base.rfind('/') + 1) + location;
}

bool QueryText(HINTERNET request, DWORD what, const wchar_t* name, std::wstring& text) {
  wchar_t value[512] = {};
  DWORD bytes = sizeof value - sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request, what, name ? name : WINHTTP_HEADER_NAME_BY_INDEX, value, &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  text.assign(value, bytes / sizeof(wchar_t));
  return true;
}

}  // namespace

// The caller's last error (often the reason why a request is closed) stays.
void HttpClient::Close(std::atomic<void*>& handle) {
  if (void* h = handle.exchange(nullptr)) {
    const DWORD error = GetLastError();
    WinHttpCloseHandle(h);
    SetLastError(error);
  }
}

bool HttpClient::OpenSession(const char* agent, DWORD timeoutMs) {
  Close(session_);
  aborted_ = false;
  HINTERNET session = WinHttpOpen(AnsiToWide(agent).c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return false;
  if (!WinHttpSetTimeouts(session, static_cast<int>(timeoutMs), static_cast<int>(timeoutMs),
                          static_cast<int>(timeoutMs), static_cast<int>(timeoutMs))) {
    WinHttpCloseHandle(session);
    return false;
  }
  timeoutMs_ = timeoutMs;
  session_.store(session);
  return true;
}

bool HttpClient::Get(const char* url, const std::string& headers) { return Send("GET", url, headers); }

bool HttpClient::Head(const char* url) { return Send("HEAD", url, std::string()); }

bool HttpClient::Send(const char* verb, const char* url, const std::string& headers) {
  if (!url || !IsFetchUrl(url)) return false;
  std::string at = url;
  for (int hop = 0;; ++hop) {
    if (!SendOnce(verb, at, headers)) return false;
    const DWORD status = Status();
    if (!IsRedirect(status)) return true;
    const std::string next = ResolvedLocation(at, Header("Location"));
    // Each hop must be an address the launcher fetches, and never plain http
    // once the request started with https.
    if (hop == kMaxRedirects || next.empty() || !IsFetchUrl(next) || !IsFetchRedirect(url, next.c_str())) {
      CloseRequest();
      SetLastError(ERROR_WINHTTP_REDIRECT_FAILED);
      return false;
    }
    at = next;
  }
}

bool HttpClient::SendOnce(const char* verb, const std::string& url, const std::string& headers) {
  CloseRequest();
  HINTERNET session = session_.load();
  if (!session || aborted_) return false;
  const std::wstring wideUrl = AnsiToWide(url);
  wchar_t host[256] = {};
  wchar_t path[2048] = {};
  wchar_t extra[2048] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = ARRAYSIZE(host);
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = ARRAYSIZE(path);
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = ARRAYSIZE(extra);
  if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts)) return false;
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  // The fragment is never sent.
  std::wstring target = std::wstring(path[0] ? path : L"/") + extra;
  if (const std::size_t hash = target.find(L'#'); hash != std::wstring::npos) target.resize(hash);
  HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
  if (!connection) return false;
  connection_.store(connection);
  HINTERNET h = WinHttpOpenRequest(connection, AnsiToWide(verb).c_str(), target.c_str(), nullptr,
                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                   WINHTTP_FLAG_REFRESH | (secure ? WINHTTP_FLAG_SECURE : 0));
  if (!h) {
    CloseRequest();
    return false;
  }
  // Certificate errors are never ignored (no security flag is set); redirects
  // come back as answers, for Send to check.
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  if (!WinHttpSetOption(h, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy)) {
    WinHttpCloseHandle(h);
    CloseRequest();
    return false;
  }
  request_.store(h);
  const std::wstring wideHeaders = AnsiToWide(headers);
  if (!WinHttpSendRequest(h, wideHeaders.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : wideHeaders.c_str(),
                          static_cast<DWORD>(wideHeaders.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !WinHttpReceiveResponse(h, nullptr) || aborted_) {
    CloseRequest();
    return false;
  }
  return true;
}

DWORD HttpClient::Status() {
  HINTERNET request = request_.load();
  if (!request) return 0;
  DWORD status = 0;
  DWORD bytes = sizeof status;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &bytes, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return status;
}

std::string HttpClient::Header(const char* name) {
  HINTERNET request = request_.load();
  std::wstring value;
  if (!request || !name || !QueryText(request, WINHTTP_QUERY_CUSTOM, AnsiToWide(name).c_str(), value))
    return {};
  return WideToAnsi(value.c_str(), static_cast<int>(value.size()));
}

std::uint64_t HttpClient::ContentLength() {
  HINTERNET request = request_.load();
  std::wstring text;
  if (!request || !QueryText(request, WINHTTP_QUERY_CONTENT_LENGTH, nullptr, text)) return 0;
  return DecimalLength(WideToAnsi(text.c_str(), static_cast<int>(text.size())));
}

int HttpClient::Read(void* buffer, DWORD wanted, bool whole) {
  HINTERNET request = request_.load();
  if (!request) return -1;
  // A read returns once some bytes are there, all that are, up to its size
  // (a link that crawls is never waited on for more); with `whole` the reads
  // go on to `wanted` or the end of the data, as WinINet's does.
  DWORD total = 0;
  while (total < wanted) {
    DWORD got = 0;
    if (!WinHttpReadData(request, static_cast<char*>(buffer) + total, wanted - total, &got)) return -1;
    if (got == 0) break;
    total += got;
    if (!whole) break;
  }
  return static_cast<int>(total);
}

}  // namespace qz
