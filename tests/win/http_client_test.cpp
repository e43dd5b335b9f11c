// HttpClient against the test download server on 127.0.0.1, over https.
#include <gtest/gtest.h>

#include "tests/winsupport/win_test_support.h"
#include "update/http_client.h"
#include "update/wininet_handle.h"

namespace qz {
namespace {

using namespace qz::test;

class HttpClientTest : public testing::Test {
 protected:
  void SetUp() override {
    body_.resize(200000);
    for (size_t i = 0; i < body_.size(); ++i) body_[i] = static_cast<char>('a' + i % 23);
    ASSERT_TRUE(WriteFileBytes(ServerRoot() + "data.bin", body_));
    ASSERT_TRUE(client_.OpenSession("Quorlynx"));
  }
  bool Open(const std::string& path) {
    const std::string url = path.rfind("http", 0) == 0 ? path : ServerUrl(path);
    return client_.Get(url.c_str());
  }
  std::string ReadAll(size_t chunk) {
    std::string out;
    std::string buffer(chunk, '\0');
    for (;;) {
      const int n = client_.Read(&buffer[0], static_cast<DWORD>(chunk));
      EXPECT_GE(n, 0);
      if (n <= 0) break;
      out.append(buffer.data(), n);
    }
    return out;
  }
  std::string body_;
  HttpClient client_;
};

TEST_F(HttpClientTest, OkWithLengthReadsToTheEnd) {
  ASSERT_TRUE(Open("data.bin"));
  EXPECT_TRUE(client_.IsStatusOk());
  EXPECT_EQ(client_.ContentLength(), body_.size());
  EXPECT_EQ(ReadAll(65535), body_);
  char byte;
  EXPECT_EQ(client_.Read(&byte, 1), 0) << "end of data stays 0";
  client_.CloseRequest();
}

TEST_F(HttpClientTest, RedirectChainEndsInOk) {
  ASSERT_TRUE(Open("~redirect=3/data.bin"));
  EXPECT_TRUE(client_.IsStatusOk());
  EXPECT_EQ(client_.ContentLength(), body_.size());
  EXPECT_EQ(ReadAll(4096), body_);
}

TEST_F(HttpClientTest, OtherStatusesAreNotOk) {
  for (const char* path : {"~status=304/data.bin", "~status=404/data.bin", "~status=500/data.bin",
                           "missing.bin"}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(Open(path));
    EXPECT_FALSE(client_.IsStatusOk());
    client_.CloseRequest();
  }
}

TEST_F(HttpClientTest, NoContentLengthGivesZero) {
  for (const char* path : {"~chunked/data.bin", "~nolength/data.bin"}) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(Open(path));
    EXPECT_TRUE(client_.IsStatusOk());
    EXPECT_EQ(client_.ContentLength(), 0u);
    EXPECT_EQ(ReadAll(65535), body_) << "the body is still readable";
    client_.CloseRequest();
  }
}

TEST_F(HttpClientTest, ShortReadsAreNoError) {
  ASSERT_TRUE(Open("~rate=400000/data.bin"));
  std::string buffer(65535, '\0');
  const int n = client_.Read(&buffer[0], 65535);
  EXPECT_GT(n, 0);
  EXPECT_LE(n, 65535);
  client_.CloseRequest();
}

TEST_F(HttpClientTest, HeadGivesStatusAndLengthWithoutTheBody) {
  struct Case {
    const char* path;
    bool ok;
    DWORD length;
  } cases[] = {
      {"data.bin", true, 200000},
      {"~redirect=2/data.bin", true, 200000},
      {"missing.bin", false, 0},
      {"~nohead/data.bin", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_TRUE(client_.Head(ServerUrl(c.path).c_str()));
    EXPECT_EQ(client_.IsStatusOk(), c.ok);
    if (c.ok) {
      EXPECT_EQ(client_.ContentLength(), c.length);
    }
    char byte;
    EXPECT_LE(client_.Read(&byte, 1), 0) << "a head has no body";
    client_.CloseRequest();
  }
  EXPECT_FALSE(client_.Head("file:///C:/x"));
  // A GET after a HEAD works as ever.
  ASSERT_TRUE(Open("data.bin"));
  EXPECT_EQ(ReadAll(65535), body_);
}

TEST_F(HttpClientTest, OnlyWebAddressesAreFetched) {
  ASSERT_TRUE(WriteFileBytes("C:\\local.txt", "secret"));
  for (const char* url : {"file:///C:/local.txt", "C:\\local.txt", "ftp://127.0.0.1/x", "", "http://"}) {
    SCOPED_TRACE(url);
    EXPECT_FALSE(client_.Get(url));
  }
}

TEST_F(HttpClientTest, PlainHttpToAnotherHostIsRefusedBeforeAnyConnection) {
  const char* url = "http://dl.example/data.bin";
  InternetHandle session;
  {
    ProxyThroughTestServer proxy;
    ASSERT_TRUE(client_.OpenSession("Quorlynx"));
    session.reset(InternetOpenA("Quorlynx", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  }
  // Through the proxy the address would be served...
  InternetHandle raw(InternetOpenUrlA(session.get(), url, nullptr, 0,
                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 1));
  ASSERT_TRUE(raw) << GetLastError();
  raw.reset();
  // ...so only the rule refuses it.
  EXPECT_FALSE(client_.Get(url));
  EXPECT_FALSE(client_.Head(url));
  int asked = 0;
  for (const std::string& line : ServerRequests()) asked += line.find("dl.example") != std::string::npos;
  EXPECT_EQ(asked, 1) << "only the proxied request of the test itself";
}

TEST_F(HttpClientTest, DowngradesAndBadCertificatesAreRefused) {
  struct Case {
    const char* name;
    std::string url;
  } cases[] = {
      {"https redirected to http on this PC", ServerUrl("~to-http/data.bin")},
      {"the same after an https hop", ServerUrl("~redirect=1/~to-http/data.bin")},
      {"through http back to https", ServerUrl("~to-http/~to-https/data.bin")},
      {"certificate from an unknown authority", ServerUrl("data.bin", ServerListener::UnknownCa)},
      {"certificate for another host name", ServerUrl("data.bin", ServerListener::OtherName)},
      {"https to a plain http port", "https" + ServerUrl("data.bin", ServerListener::PlainHttp).substr(4)},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(client_.Get(c.url.c_str())) << c.name;
    EXPECT_FALSE(client_.Head(c.url.c_str())) << c.name;
  }
  // Plain http stays open on this PC, for local testing.
  ASSERT_TRUE(Open(ServerUrl("data.bin", ServerListener::PlainHttp).c_str()));
  EXPECT_EQ(ReadAll(65535), body_);
}

// The reason a request failed is what the log reports: closing handles
// afterwards must not replace it.
TEST_F(HttpClientTest, ClosingKeepsTheCallersLastError) {
  ASSERT_TRUE(Open("data.bin"));
  SetLastError(ERROR_HANDLE_EOF);
  client_.CloseRequest();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF)) << "a close of an open request";
  SetLastError(ERROR_HANDLE_EOF);
  client_.CloseRequest();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF)) << "a close with nothing open";
  // A refused certificate closes the request inside Get: WinINet's code stays.
  SetLastError(0);
  EXPECT_FALSE(client_.Get(ServerUrl("data.bin", ServerListener::UnknownCa).c_str()));
  const DWORD error = GetLastError();
  EXPECT_GE(error, 12000u) << error;
  EXPECT_LT(error, 13000u) << error;
  // Its text for the log leaves it too, for the next report of the same failure.
  EXPECT_NE(AnswerText(client_, false).find(std::to_string(error)), std::string::npos);
  EXPECT_EQ(GetLastError(), error);
}

TEST_F(HttpClientTest, ClosingWhatIsNotOpenDoesNothing) {
  HttpClient fresh;
  fresh.CloseRequest();
  fresh.CloseAll();
  client_.CloseRequest();
  client_.CloseRequest();
  char byte;
  EXPECT_EQ(client_.Read(&byte, 1), -1);
  EXPECT_FALSE(client_.IsStatusOk());
  EXPECT_EQ(client_.ContentLength(), 0u);
  client_.CloseAll();
  EXPECT_FALSE(client_.Get(ServerUrl("data.bin").c_str()))
      << "no session after CloseAll";
}

}  // namespace
}  // namespace qz
