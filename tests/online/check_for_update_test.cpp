// The update check against a local server: what it finds for each answer.
// What the user then sees is the window's part (tests/app).
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "online/local_http_server.h"
#include "online/update_check.h"
#include "online/web_pages.h"

namespace pixmoor::online {
namespace {

using testing::httpResponse;
using testing::LocalHttpServer;

class CheckForUpdateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(startNetwork()); }
  static void TearDownTestSuite() { stopNetwork(); }

  void SetUp() override { ASSERT_TRUE(server_.running()); }

  void serveVersion(const std::string& body) {
    server_.answer("/downloads/pixmoor2.txt", httpResponse("200 OK", body));
  }
  std::string versionAddress() const { return versionFileAddress(server_.url("")); }

  UpdateFinding check(bool network = true, FetchTimeouts timeouts = {}) {
    return CheckForUpdate(network, "1.4.1", versionAddress(), timeouts);
  }

  LocalHttpServer server_;
};

TEST_F(CheckForUpdateTest, SameVersionIsUpToDate) {
  serveVersion("1.4.1");
  const UpdateFinding found = check();
  EXPECT_EQ(found.status, UpdateStatus::upToDate);
  EXPECT_EQ(found.latest, "");
  EXPECT_EQ(server_.requestCount(), 1u);
  ASSERT_EQ(server_.requests()[0].rfind("GET /downloads/pixmoor2.txt HTTP/1.1\r\n", 0), 0u);
}

TEST_F(CheckForUpdateTest, NewerVersionComesWithItsText) {
  serveVersion("1.5.0");
  const UpdateFinding found = check();
  EXPECT_EQ(found.status, UpdateStatus::newerVersion);
  EXPECT_EQ(found.latest, "1.5.0");
}

// Any text but our own version byte for byte is a newer version, kept as
// received.
TEST_F(CheckForUpdateTest, EveryOtherTextIsOfferedAsItCame) {
  for (const std::string body : {"1.4.1\r\n", "1.4.1\n", " 1.4.1", "1.4.0", "1.4.10", "1.4.", "V1.4.1"}) {
    LocalHttpServer server;
    ASSERT_TRUE(server.running());
    server.answer("/downloads/pixmoor2.txt", httpResponse("200 OK", body));
    const UpdateFinding found = CheckForUpdate(true, "1.4.1", versionFileAddress(server.url("")));
    EXPECT_EQ(found.status, UpdateStatus::newerVersion) << body;
    EXPECT_EQ(found.latest, body);
  }
}

TEST_F(CheckForUpdateTest, NotFoundPageIsTheVersionWhole) {
  const std::string page =
      "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>404 Not Found</title>\n"
      "</head><body>\n<h1>Not Found</h1>\n<p>The requested URL was not found on this "
      "server.</p>\n</body></html>\n";
  server_.answer("/downloads/pixmoor2.txt", httpResponse("404 Not Found", page, "text/html"));
  const UpdateFinding found = check();
  EXPECT_EQ(found.status, UpdateStatus::newerVersion);
  EXPECT_EQ(found.latest, page);
}

TEST_F(CheckForUpdateTest, EmptyVersionFileCountsAsUpToDate) {
  serveVersion("");
  EXPECT_EQ(check().status, UpdateStatus::upToDate);
}

// An error status with nothing to show is no version at all: the check
// could not read the file, and says nothing about being up to date.
TEST_F(CheckForUpdateTest, ErrorStatusWithoutABodyIsNotRead) {
  for (const char* status : {"404 Not Found", "500 Internal Server Error", "503 Service Unavailable"}) {
    LocalHttpServer server;
    ASSERT_TRUE(server.running());
    server.answer("/downloads/pixmoor2.txt", httpResponse(status, ""));
    const UpdateFinding found = CheckForUpdate(true, "1.4.1", versionFileAddress(server.url("")));
    EXPECT_EQ(found.status, UpdateStatus::notRead) << status;
    EXPECT_EQ(found.latest, "") << status;
    EXPECT_EQ(server.requestCount(), 1u) << status;
  }
}

TEST_F(CheckForUpdateTest, ServerThatNeverAnswersIsNotReadAfterTheTimeOut) {
  server_.neverAnswer("/downloads/pixmoor2.txt");
  FetchTimeouts timeouts;
  timeouts.connect = std::chrono::milliseconds(1000);
  timeouts.total = std::chrono::milliseconds(2000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(check(true, timeouts).status, UpdateStatus::notRead);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(CheckForUpdateTest, RefusedConnectionAndBadAddressesAreNotRead) {
  std::string address;
  {
    LocalHttpServer gone;
    address = versionFileAddress(gone.url(""));
  }  // the port is closed again: the connection is refused
  for (const std::string& where :
       {address, std::string("http://name.invalid/downloads/pixmoor2.txt"), std::string("not an address")}) {
    const UpdateFinding found = CheckForUpdate(true, "1.4.1", where);
    EXPECT_EQ(found.status, UpdateStatus::notRead) << where;
    EXPECT_EQ(found.latest, "") << where;
  }
}

TEST_F(CheckForUpdateTest, NoNetworkAtStartUpMakesNoRequest) {
  serveVersion("1.5.0");
  const UpdateFinding found = check(/*network=*/false);
  EXPECT_EQ(found.status, UpdateStatus::noNetwork);
  EXPECT_EQ(found.latest, "");
  EXPECT_EQ(server_.requestCount(), 0u);
}

}  // namespace
}  // namespace pixmoor::online
