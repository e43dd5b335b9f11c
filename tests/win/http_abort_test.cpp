// A stopping wizard aborts the worker's request from its own thread while the
// worker asks for file sizes: neither side may close a handle the other uses.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/winsupport/win_test_support.h"
#include "update/http_client.h"

namespace qz {
namespace {

using namespace qz::test;

TEST(HttpAbort, AbortsDuringTheSizePassLeaveTheClientWhole) {
  const std::string body(4096, 'q');
  ASSERT_TRUE(WriteFileBytes(ServerRoot() + "size.bin", body));
  HttpClient client;
  ASSERT_TRUE(client.OpenSession("Quorlynx"));
  const std::string slow = ServerUrl("~delay=3/size.bin");

  std::atomic<bool> done{false};
  std::thread wizard([&] {
    while (!done.load()) {
      client.AbortRequest();
      std::this_thread::yield();
    }
  });
  int answered = 0;
  for (int i = 0; i < 300; ++i) {
    if (client.Head(slow.c_str()) && client.IsStatusOk()) ++answered;
    client.CloseRequest();
  }
  done = true;
  wizard.join();
  RecordProperty("answered", answered);

  // Whatever was aborted, the next request works from start to end.
  ASSERT_TRUE(client.Get(ServerUrl("size.bin").c_str()));
  EXPECT_TRUE(client.IsStatusOk());
  std::string got(body.size() + 1, '\0');
  int n = 0;
  std::size_t total = 0;
  while ((n = client.Read(&got[total], static_cast<DWORD>(got.size() - total))) > 0) total += n;
  EXPECT_EQ(got.substr(0, total), body);
  client.CloseAll();
}

// The plain http form of the listener that accepts and never answers (its
// https form holds Wine's WinINet in the TLS handshake, where no timeout
// applies).
std::string SilentPlainUrl(const std::string& path) {
  const std::string https = ServerUrl(path, ServerListener::Silent);
  return "http" + https.substr(5);
}

// A stopped run makes no more requests: what was pending fails (under Wine
// only by its timeout: a closed handle does not end a synchronous wait there,
// so the launcher's stop is bounded on its own) and so does every later one.
TEST(HttpAbort, AbortedClientFailsWhatWasPendingAndAllThatFollows) {
  struct Case {
    const char* phase;
    std::string url;
    bool head;
  } cases[] = {
      {"silent server", SilentPlainUrl("x.bin"), false},
      {"head", ServerUrl("~hang/x.bin"), true},
      {"get", ServerUrl("~hang/x.bin"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phase);
    HttpClient client;
    ASSERT_TRUE(client.OpenSession("Quorlynx", 1500));
    bool opened = true;
    std::thread worker([&] {
      opened = c.head ? client.Head(c.url.c_str())
                      : client.Get(c.url.c_str());
    });
    Sleep(300);
    client.Abort();
    worker.join();
    EXPECT_FALSE(opened);
    EXPECT_FALSE(client.Get(ServerUrl("x.bin").c_str()));
  }
}

// An answer that never comes fails the request on its own after the timeout.
TEST(HttpAbort, UnansweredRequestTimesOut) {
  HttpClient client;
  ASSERT_TRUE(client.OpenSession("Quorlynx", 1500));
  for (const std::string& url : {SilentPlainUrl("x.bin"), ServerUrl("~hang/x.bin")}) {
    SCOPED_TRACE(url);
    const DWORD start = GetTickCount();
    EXPECT_FALSE(client.Get(url.c_str()));
    EXPECT_LT(GetTickCount() - start, 10000u);
  }
}

}  // namespace
}  // namespace qz
