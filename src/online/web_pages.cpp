// The vendor's page addresses and OpenWebPage.
#include "online/web_pages.h"

namespace pixmoor::online {
namespace {

std::string join(std::string_view site, std::string_view path) {
  std::string address(site);
  // A host given with its root slash must not double the slash of the path.
  while (!address.empty() && address.back() == '/') address.pop_back();
  address += path;
  return address;
}

}  // namespace

std::string versionFileAddress(std::string_view site) {
  return join(site, kVersionFilePath);
}
std::string downloadPageAddress(std::string_view site) {
  return join(site, kDownloadPagePath);
}
std::string donationPageAddress(std::string_view site) {
  return join(site, kDonationPagePath);
}
std::string siteAddress(std::string_view site) {
  return std::string(site);
}

void OpenWebPage(const std::string& address, PageOpener& opener) {
  // Nothing is shown when the desktop refuses the address.
  static_cast<void>(opener.openUrl(address));
}

}  // namespace pixmoor::online
