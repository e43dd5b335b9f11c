#include "update/http_client.h"

#include "update/url_rules.h"

namespace qz {

HttpClient::~HttpClient() { CloseAll(); }

bool HttpClient::OpenSession(const char* agent) {
  session_.reset(InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  return static_cast<bool>(session_);
}

bool HttpClient::OpenUrl(const char* url, DWORD context, DWORD flags, const char* headers,
                         DWORD headersLength) {
  // The caller closes an open request first; a stray one is replaced, not leaked.
  request_.reset();
  if (!session_ || !IsWebUrl(url)) return false;
  request_.reset(InternetOpenUrlA(session_.get(), url, headers, headersLength, flags, context));
  return static_cast<bool>(request_);
}

bool HttpClient::IsStatusOk() {
  if (!request_) return false;
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!HttpQueryInfoA(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &length, nullptr)) {
    return false;
  }
  return status == 200;
}

DWORD HttpClient::GetContentLength() {
  if (!request_) return 0;
  DWORD value = 0;
  DWORD length = sizeof value;
  if (!HttpQueryInfoA(request_.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &value,
                      &length, nullptr)) {
    return 0;
  }
  return value;
}

int HttpClient::Read(void* buffer, DWORD wanted) {
  if (!request_) return -1;
  DWORD got = 0;
  if (!InternetReadFile(request_.get(), buffer, wanted, &got)) return -1;
  return static_cast<int>(got);
}

void HttpClient::CloseRequest() {
  HINTERNET h = request_.release();
  // A request closed by AbortRequest must not be closed twice.
  if (h && aborted_.exchange(nullptr) != h) InternetCloseHandle(h);
}

void HttpClient::CloseAll() {
  CloseRequest();
  connection_.reset();
  session_.reset();
}

void HttpClient::AbortRequest() {
  HINTERNET h = request_.get();
  if (h && aborted_.exchange(h) != h) InternetCloseHandle(h);
}

}  // namespace qz
