#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "online/local_http_server.h"
#include "online/update_check.h"

namespace pixmoor::online {
namespace {

using testing::httpResponse;
using testing::LocalHttpServer;

class FetchUrlTextTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(startNetwork()); }
  static void TearDownTestSuite() { stopNetwork(); }

  void SetUp() override { ASSERT_TRUE(server_.running()); }

  LocalHttpServer server_;
};

FetchTimeouts shortTimeouts() {
  FetchTimeouts t;
  t.connect = std::chrono::milliseconds(1000);
  t.total = std::chrono::milliseconds(1500);
  return t;
}

TEST_F(FetchUrlTextTest, AnswersTheBodyExactly) {
  server_.answer("/downloads/pixmoor2.txt", httpResponse("200 OK", "1.4.1"));
  EXPECT_EQ(FetchUrlText(server_.url("/downloads/pixmoor2.txt")), "1.4.1");
}

TEST_F(FetchUrlTextTest, KeepsLineEndsAndEveryByteValue) {
  std::string body = "1.4.1\r\n";
  for (int round = 0; round < 40; ++round) {
    for (int value = 0; value < 256; ++value) body.push_back(static_cast<char>(value));
  }
  ASSERT_GT(body.size(), 10000u);  // several reads' worth
  server_.answer("/bytes", httpResponse("200 OK", body, "application/octet-stream"));
  const std::string got = FetchUrlText(server_.url("/bytes"));
  EXPECT_EQ(got.size(), body.size());
  EXPECT_EQ(got, body);
}

TEST_F(FetchUrlTextTest, AnEmptyBodyIsTheEmptyText) {
  server_.answer("/empty", httpResponse("200 OK", ""));
  EXPECT_EQ(FetchUrlText(server_.url("/empty")), "");
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(FetchUrlTextTest, AnswersTheBodyOfAnErrorStatus) {
  const std::string page =
      "<html><head><title>404 Not Found</title></head>\n<body>No such file</body></html>\n";
  server_.answer("/missing", httpResponse("404 Not Found", page, "text/html"));
  EXPECT_EQ(FetchUrlText(server_.url("/missing")), page);

  server_.answer("/broken", httpResponse("500 Internal Server Error", "oops"));
  EXPECT_EQ(FetchUrlText(server_.url("/broken")), "oops");
}

// The answer keeps the final status beside the body, so that an error
// status with nothing to show can be told from an empty version file.
TEST_F(FetchUrlTextTest, AnswerCarriesTheFinalStatus) {
  server_.answer("/ok", httpResponse("200 OK", "1.4.1"));
  server_.answer("/gone", httpResponse("404 Not Found", ""));
  server_.answer("/broken", httpResponse("500 Internal Server Error", "oops"));
  server_.answer("/old", "HTTP/1.1 301 Moved\r\nLocation: /ok\r\nContent-Length: 0\r\n\r\n");
  const std::pair<const char*, HttpAnswer> rows[] = {
      {"/ok", {200, "1.4.1"}}, {"/gone", {404, ""}}, {"/broken", {500, "oops"}}, {"/old", {200, "1.4.1"}}};
  for (const auto& [path, expected] : rows) {
    const std::optional<HttpAnswer> got = fetchHttpAnswer(server_.url(path));
    ASSERT_TRUE(got.has_value()) << path;
    EXPECT_EQ(got->status, expected.status) << path;
    EXPECT_EQ(got->body, expected.body) << path;
  }
  std::string refused;
  {
    LocalHttpServer gone;
    refused = gone.url("/v");
  }
  EXPECT_FALSE(fetchHttpAnswer(refused, shortTimeouts()).has_value());
}

TEST_F(FetchUrlTextTest, ReadsChunkedAndCloseDelimitedBodies) {
  server_.answer("/chunked",
                 "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                 "3\r\n1.5\r\n2\r\n.0\r\n0\r\n\r\n");
  EXPECT_EQ(FetchUrlText(server_.url("/chunked")), "1.5.0");

  server_.answer("/closed", "HTTP/1.0 200 OK\r\n\r\n2.0.0");
  EXPECT_EQ(FetchUrlText(server_.url("/closed")), "2.0.0");
}

TEST_F(FetchUrlTextTest, FollowsARedirect) {
  server_.answer(
      "/old", "HTTP/1.1 302 Found\r\nLocation: /new\r\nContent-Length: 5\r\nConnection: close\r\n\r\nmoved");
  server_.answer("/new", httpResponse("200 OK", "1.6.0"));
  EXPECT_EQ(FetchUrlText(server_.url("/old")), "1.6.0");
}

TEST_F(FetchUrlTextTest, SendsAPlainGetThatBypassesCaches) {
  server_.answer("/v", httpResponse("200 OK", "1.4.1"));
  ASSERT_EQ(FetchUrlText(server_.url("/v")), "1.4.1");
  const auto requests = server_.requests();
  ASSERT_EQ(requests.size(), 1u);
  const std::string& head = requests[0];
  EXPECT_EQ(head.rfind("GET /v HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nCache-Control: no-cache\r\n"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nPragma: no-cache\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("User-Agent"), std::string::npos) << head;
}

TEST_F(FetchUrlTextTest, AsksTheServerAgainEveryTime) {
  server_.answer("/v", httpResponse("200 OK", "1.4.1"));
  EXPECT_EQ(FetchUrlText(server_.url("/v")), "1.4.1");
  EXPECT_EQ(FetchUrlText(server_.url("/v")), "1.4.1");
  EXPECT_EQ(server_.requestCount(), 2u);
}

TEST_F(FetchUrlTextTest, IgnoresProxiesFromTheEnvironment) {
  server_.answer("/v", httpResponse("200 OK", "1.4.1"));
  // A proxy that nobody listens on: used, it would make the fetch fail.
  ::setenv("http_proxy", "http://127.0.0.1:1", 1);
  ::setenv("HTTP_PROXY", "http://127.0.0.1:1", 1);
  ::unsetenv("no_proxy");
  ::unsetenv("NO_PROXY");
  const std::string got = FetchUrlText(server_.url("/v"), shortTimeouts());
  ::unsetenv("http_proxy");
  ::unsetenv("HTTP_PROXY");
  EXPECT_EQ(got, "1.4.1");
}

TEST_F(FetchUrlTextTest, ServerThatNeverAnswersGivesTheEmptyTextAfterTheTimeOut) {
  server_.neverAnswer("/silent");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FetchUrlText(server_.url("/silent"), shortTimeouts()), "");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(server_.requestCount(), 1u);
  // The request was really sent and then abandoned by the time-out, not
  // refused at once; and it did not wait past the time-out by much.
  EXPECT_GE(waited, std::chrono::milliseconds(1400));
  EXPECT_LT(waited, std::chrono::seconds(30));
}

TEST_F(FetchUrlTextTest, RefusedConnectionGivesTheEmptyText) {
  std::string address;
  {
    LocalHttpServer gone;
    address = gone.url("/downloads/pixmoor2.txt");
  }  // the port is closed again
  EXPECT_EQ(FetchUrlText(address, shortTimeouts()), "");
}

TEST_F(FetchUrlTextTest, UnusableAddressesGiveTheEmptyText) {
  for (const char* address : {"", "not an address", "file:///etc/hostname", "ftp://127.0.0.1/x", "http://",
                              "http://name.invalid/downloads/pixmoor2.txt"}) {
    EXPECT_EQ(FetchUrlText(address, shortTimeouts()), "") << address;
  }
}

TEST_F(FetchUrlTextTest, RedirectToAnotherProtocolIsRefused) {
  server_.answer("/away",
                 "HTTP/1.1 302 Found\r\nLocation: file:///etc/hostname\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(FetchUrlText(server_.url("/away"), shortTimeouts()), "");
}

TEST_F(FetchUrlTextTest, AnOversizedBodyIsRefused) {
  const std::string huge(std::size_t{1} << 21, 'x');
  server_.answer("/huge", httpResponse("200 OK", huge));
  EXPECT_EQ(FetchUrlText(server_.url("/huge")), "");
  const std::string justFits(std::size_t{1} << 20, 'y');
  server_.answer("/fits", httpResponse("200 OK", justFits));
  EXPECT_EQ(FetchUrlText(server_.url("/fits")), justFits);
}

}  // namespace
}  // namespace pixmoor::online
