// The vendor's web pages: their addresses and how the program opens them.
//
// Addresses are built from the vendor host (kVendorSite) and fixed paths;
// this is the one place that names them. Opening a page hands the address to
// the desktop's default browser through a PageOpener that the window
// implements (QDesktopServices there); the program does not wait for the
// browser and says nothing when opening fails. Interface thread. Qt-free.
#pragma once

#include <string>
#include <string_view>

namespace pixmoor::online {

// The vendor's web site. Until the project has a site of its own this is a
// host of the reserved ".example" domain.
inline constexpr std::string_view kVendorSite = "http://www.pixmoor.example";

inline constexpr std::string_view kVersionFilePath = "/downloads/pixmoor2.txt";
inline constexpr std::string_view kDownloadPagePath = "/telecharger_pixmoor.php";
inline constexpr std::string_view kDonationPagePath = "/don.php";

// The one-line file that holds the latest version number.
std::string versionFileAddress(std::string_view site = kVendorSite);
// The page opened after the user accepts a newer version.
std::string downloadPageAddress(std::string_view site = kVendorSite);
// The donation page.
std::string donationPageAddress(std::string_view site = kVendorSite);
// The site's home page: the host alone, no path.
std::string siteAddress(std::string_view site = kVendorSite);

// Hands an address to the default browser. Implemented by the window.
class PageOpener {
 public:
  virtual ~PageOpener() = default;
  // Answers whether the desktop accepted the address; the program ignores it.
  virtual bool openUrl(const std::string& address) = 0;
};

// Opens `address` in the default browser. Its outcome is ignored: a page that
// cannot be opened shows nothing.
void OpenWebPage(const std::string& address, PageOpener& opener);

}  // namespace pixmoor::online
