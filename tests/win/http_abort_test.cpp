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
    if (client.OpenHead(slow.c_str(), kHttpContext, kHttpFlags) && client.IsStatusOk()) ++answered;
    client.CloseRequest();
  }
  done = true;
  wizard.join();
  RecordProperty("answered", answered);

  // Whatever was aborted, the next request works from start to end.
  ASSERT_TRUE(client.OpenUrl(ServerUrl("size.bin").c_str(), kHttpContext, kHttpFlags, nullptr, 0));
  EXPECT_TRUE(client.IsStatusOk());
  std::string got(body.size() + 1, '\0');
  int n = 0;
  std::size_t total = 0;
  while ((n = client.Read(&got[total], static_cast<DWORD>(got.size() - total))) > 0) total += n;
  EXPECT_EQ(got.substr(0, total), body);
  client.CloseAll();
}

}  // namespace
}  // namespace qz
