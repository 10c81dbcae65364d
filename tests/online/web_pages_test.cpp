#include "online/web_pages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pixmoor::online {
namespace {

TEST(WebPagesTest, AddressesOnTheVendorSite) {
  EXPECT_EQ(versionFileAddress(), "http://www.pixmoor.example/downloads/pixmoor2.txt");
  EXPECT_EQ(downloadPageAddress(), "http://www.pixmoor.example/telecharger_pixmoor.php");
  EXPECT_EQ(donationPageAddress(), "http://www.pixmoor.example/don.php");
  EXPECT_EQ(siteAddress(), "http://www.pixmoor.example");
}

TEST(WebPagesTest, AnotherHostKeepsThePaths) {
  EXPECT_EQ(versionFileAddress("http://127.0.0.1:8080"), "http://127.0.0.1:8080/downloads/pixmoor2.txt");
  EXPECT_EQ(donationPageAddress("http://h.example/"), "http://h.example/don.php");
  EXPECT_EQ(downloadPageAddress("http://h.example//"), "http://h.example/telecharger_pixmoor.php");
  EXPECT_EQ(siteAddress("http://h.example"), "http://h.example");
}

class RecordingOpener : public PageOpener {
 public:
  explicit RecordingOpener(bool accepts) : accepts_(accepts) {}
  bool openUrl(const std::string& address) override {
    opened.push_back(address);
    return accepts_;
  }
  std::vector<std::string> opened;

 private:
  bool accepts_;
};

TEST(WebPagesTest, OpenWebPageHandsTheAddressOverOnce) {
  for (bool accepts : {true, false}) {
    RecordingOpener opener(accepts);
    OpenWebPage(donationPageAddress(), opener);
    ASSERT_EQ(opener.opened.size(), 1u);
    EXPECT_EQ(opener.opened[0], "http://www.pixmoor.example/don.php");
  }
}

}  // namespace
}  // namespace pixmoor::online
