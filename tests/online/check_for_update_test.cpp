#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "texts/ui_texts.h"
#include "online/local_http_server.h"
#include "online/update_check.h"
#include "online/web_pages.h"

namespace pixmoor::online {
namespace {

using testing::httpResponse;
using testing::LocalHttpServer;

// Records every call in order and answers the Yes/No question as told.
class FakeWindow : public UpdateCheckWindow {
 public:
  explicit FakeWindow(bool answerYes = false) : answerYes_(answerYes) {}

  void showStatus(const std::string& text) override { calls.push_back("status:" + text); }
  bool askYesNo(const std::string& title, const std::string& text) override {
    calls.push_back("ask:" + title + "|" + text);
    return answerYes_;
  }
  void openWebPage(const std::string& address) override { calls.push_back("open:" + address); }
  void playCue(int milliseconds) override { calls.push_back("cue:" + std::to_string(milliseconds)); }

  std::vector<std::string> calls;

 private:
  bool answerYes_;
};

texts::UiTexts textsFor(const char* language) {
  return texts::BuildUiTexts(language, "Pixmoor 2011 v", "1.4.1", "\n", 1920, 1080, SiteAddress());
}

const std::string kOfferUk =
    " is available, you want to download it?\n(Click Yes button to go to the download page)";
const std::string kOfferFr =
    " est disponible, souhaitez vous la télécharger ?\n(Cliquez sur Oui pour accéder à la page de "
    "téléchargement)";

class CheckForUpdateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(StartNetwork()); }
  static void TearDownTestSuite() { StopNetwork(); }

  void SetUp() override { ASSERT_TRUE(server_.running()); }

  void serveVersion(const std::string& body) {
    server_.answer("/downloads/pixmoor2.txt", httpResponse("200 OK", body));
  }
  std::string versionAddress() const { return VersionFileAddress(server_.url("")); }
  std::string downloadAddress() const { return DownloadPageAddress(server_.url("")); }

  UpdateOutcome check(FakeWindow& window, const char* language = "UK", bool network = true,
                      FetchTimeouts timeouts = {}) {
    return CheckForUpdate(network, "1.4.1", versionAddress(), downloadAddress(), textsFor(language), window,
                          timeouts);
  }

  LocalHttpServer server_;
};

TEST_F(CheckForUpdateTest, SameVersionIsUpToDateWithTheShortCue) {
  serveVersion("1.4.1");
  FakeWindow window;
  EXPECT_EQ(check(window), UpdateOutcome::UpToDate);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"status:You have the latest version", "cue:60"}));
  EXPECT_EQ(server_.requestCount(), 1u);
  ASSERT_EQ(server_.requests()[0].rfind("GET /downloads/pixmoor2.txt HTTP/1.1\r\n", 0), 0u);
}

TEST_F(CheckForUpdateTest, SameVersionInFrench) {
  serveVersion("1.4.1");
  FakeWindow window;
  EXPECT_EQ(check(window, "FR"), UpdateOutcome::UpToDate);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"status:Vous avez la dernière version", "cue:60"}));
}

TEST_F(CheckForUpdateTest, NewerVersionAcceptedOpensTheDownloadPage) {
  serveVersion("1.5.0");
  FakeWindow window(/*answerYes=*/true);
  EXPECT_EQ(check(window), UpdateOutcome::Accepted);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"ask:Update|Version 1.5.0" + kOfferUk,
                                                    "open:" + server_.url("/telecharger_pixmoor.php")}));
}

TEST_F(CheckForUpdateTest, NewerVersionDeclinedSaysSoWithTheShortCue) {
  serveVersion("1.5.0");
  FakeWindow window(/*answerYes=*/false);
  EXPECT_EQ(check(window), UpdateOutcome::Declined);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"ask:Update|Version 1.5.0" + kOfferUk,
                                                    "status:User canceled", "cue:60"}));
}

TEST_F(CheckForUpdateTest, NewerVersionInFrench) {
  serveVersion("1.5.0");
  FakeWindow window(/*answerYes=*/false);
  EXPECT_EQ(check(window, "FR"), UpdateOutcome::Declined);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"ask:Mise à jour|La version 1.5.0" + kOfferFr,
                                                    "status:Annulé par l'utilisateur", "cue:60"}));
}

// Any text but our own version byte for byte is offered, shown as received.
TEST_F(CheckForUpdateTest, EveryOtherTextIsOfferedAsItCame) {
  for (const std::string body : {"1.4.1\r\n", "1.4.1\n", " 1.4.1", "1.4.0", "1.4.10", "1.4.", "V1.4.1"}) {
    LocalHttpServer server;
    ASSERT_TRUE(server.running());
    server.answer("/downloads/pixmoor2.txt", httpResponse("200 OK", body));
    FakeWindow window(false);
    EXPECT_EQ(CheckForUpdate(true, "1.4.1", VersionFileAddress(server.url("")), "d", textsFor("UK"), window),
              UpdateOutcome::Declined)
        << body;
    ASSERT_FALSE(window.calls.empty());
    EXPECT_EQ(window.calls[0], "ask:Update|Version " + body + kOfferUk);
  }
}

TEST_F(CheckForUpdateTest, NotFoundPageIsShownWholeAsTheVersion) {
  const std::string page =
      "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>404 Not Found</title>\n"
      "</head><body>\n<h1>Not Found</h1>\n<p>The requested URL was not found on this "
      "server.</p>\n</body></html>\n";
  server_.answer("/downloads/pixmoor2.txt", httpResponse("404 Not Found", page, "text/html"));
  FakeWindow window(true);
  EXPECT_EQ(check(window), UpdateOutcome::Accepted);
  ASSERT_EQ(window.calls.size(), 2u);
  EXPECT_EQ(window.calls[0], "ask:Update|Version " + page + kOfferUk);
}

TEST_F(CheckForUpdateTest, EmptyVersionFileCountsAsUpToDate) {
  serveVersion("");
  FakeWindow window;
  EXPECT_EQ(check(window), UpdateOutcome::UpToDate);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"status:You have the latest version", "cue:60"}));
}

TEST_F(CheckForUpdateTest, ServerThatNeverAnswersEndsUpToDateAfterTheTimeOut) {
  server_.neverAnswer("/downloads/pixmoor2.txt");
  FetchTimeouts timeouts;
  timeouts.connect = std::chrono::milliseconds(1000);
  timeouts.total = std::chrono::milliseconds(2000);
  FakeWindow window(true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(check(window, "UK", true, timeouts), UpdateOutcome::UpToDate);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_EQ(window.calls, (std::vector<std::string>{"status:You have the latest version", "cue:60"}));
  EXPECT_EQ(server_.requestCount(), 1u);
}

TEST_F(CheckForUpdateTest, UnreachableServerIsUpToDate) {
  std::string address;
  {
    LocalHttpServer gone;
    address = VersionFileAddress(gone.url(""));
  }
  FakeWindow window(true);
  EXPECT_EQ(CheckForUpdate(true, "1.4.1", address, "d", textsFor("UK"), window), UpdateOutcome::UpToDate);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"status:You have the latest version", "cue:60"}));
}

TEST_F(CheckForUpdateTest, NoNetworkAtStartUpSaysSoAndAsksNothing) {
  serveVersion("1.5.0");
  for (const char* language : {"UK", "FR"}) {
    FakeWindow window(true);
    EXPECT_EQ(check(window, language, /*network=*/false), UpdateOutcome::NoNetwork);
    ASSERT_EQ(window.calls.size(), 1u);
    EXPECT_EQ(window.calls[0],
              std::string("status:") + (language == std::string("UK")
                                            ? "No internet connection is available."
                                            : "Aucune connexion internet n'est disponible."));
  }
  EXPECT_EQ(server_.requestCount(), 0u);
}

}  // namespace
}  // namespace pixmoor::online
