// What both builds of the HTTP client share: closing (each build closes a
// handle its own way) and the log's text of an answer.
#include "base/run_log.h"
#include "update/http_client.h"

namespace qz {

HttpClient::~HttpClient() { CloseAll(); }

bool HttpClient::IsStatusOk() { return Status() == 200; }

std::uint64_t HttpClient::DecimalLength(const std::string& text) {
  if (text.empty() || text.size() > 16) return 0;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10u + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

void HttpClient::CloseRequest() {
  Close(request_);
  // Each request has a connection of its own.
  Close(connection_);
}

void HttpClient::CloseAll() {
  CloseRequest();
  Close(session_);
}

// Runs on another thread than the requests: only the atomic request handle is
// touched here; the connection stays with the requesting thread, which drops
// it at its next CloseRequest.
void HttpClient::AbortRequest() { Close(request_); }

void HttpClient::Abort() {
  aborted_ = true;
  Close(request_);
  Close(connection_);
  Close(session_);
}

std::string AnswerText(HttpClient& http, bool answered) {
  if (!answered) return "no answer, error " + runlog::ErrorText(GetLastError());
  return "status " + std::to_string(http.Status()) + ", length " + std::to_string(http.ContentLength());
}

}  // namespace qz
