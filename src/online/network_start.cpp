// Start and end of libcurl's global state, the program's network layer.
#include <curl/curl.h>

#include "online/update_check.h"

namespace pixmoor::online {

bool startNetwork() {
  return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
}

void stopNetwork() {
  curl_global_cleanup();
}

}  // namespace pixmoor::online
