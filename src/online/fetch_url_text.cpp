// fetchHttpAnswer and FetchUrlText: one blocking HTTP GET through libcurl.
#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "online/update_check.h"

namespace pixmoor::online {
namespace {

// A version file is a few bytes and an error page a few kilobytes; a body
// beyond this is no answer we could show, so the fetch gives up on it.
constexpr std::size_t kMaxBodyBytes = std::size_t{1} << 20;

struct EasyDeleter {
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};

extern "C" std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* userData) {
  auto* body = static_cast<std::string*>(userData);
  const std::size_t bytes = size * count;
  if (bytes > kMaxBodyBytes - body->size()) {
    return 0;  // ends the transfer with a write error
  }
  body->append(data, bytes);
  return bytes;
}

long asMilliseconds(std::chrono::milliseconds value) {
  // 0 would mean "no limit" to libcurl: keep at least one millisecond.
  return value.count() < 1 ? 1L : static_cast<long>(value.count());
}

}  // namespace

std::optional<HttpAnswer> fetchHttpAnswer(const std::string& address, const FetchTimeouts& timeouts) {
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) {
    return std::nullopt;
  }
  // Always from the server: ask any cache on the way to revalidate.
  curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
  if (headers != nullptr) {
    curl_slist* more = curl_slist_append(headers, "Pragma: no-cache");
    if (more != nullptr) headers = more;
  }
  std::unique_ptr<curl_slist, SlistDeleter> headerList(headers);

  std::string body;
  CURL* h = easy.get();
  bool ok = curl_easy_setopt(h, CURLOPT_URL, address.c_str()) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_HTTPGET, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L) == CURLE_OK;
  // A direct connection: the empty text turns off proxies from the environment.
  ok = ok && curl_easy_setopt(h, CURLOPT_PROXY, "") == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, asMilliseconds(timeouts.connect)) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, asMilliseconds(timeouts.total)) == CURLE_OK;
  // Any status is an answer: its body is what the caller gets.
  ok = ok && curl_easy_setopt(h, CURLOPT_FAILONERROR, 0L) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &appendBody) == CURLE_OK;
  ok = ok && curl_easy_setopt(h, CURLOPT_WRITEDATA, &body) == CURLE_OK;
  if (headerList) {
    ok = ok && curl_easy_setopt(h, CURLOPT_HTTPHEADER, headerList.get()) == CURLE_OK;
  }
  if (!ok || curl_easy_perform(h) != CURLE_OK) {
    return std::nullopt;
  }
  long status = 0;
  if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) {
    return std::nullopt;
  }
  return HttpAnswer{status, std::move(body)};
}

std::string FetchUrlText(const std::string& address, const FetchTimeouts& timeouts) {
  std::optional<HttpAnswer> answer = fetchHttpAnswer(address, timeouts);
  return answer ? std::move(answer->body) : std::string();
}

}  // namespace pixmoor::online
