// A tiny HTTP server on 127.0.0.1 for the online tests.
//
// It listens on a free port chosen by the system and answers each request
// from a table of fixed raw responses by path. A path marked silent is
// accepted and never answered (the connection stays open until the server
// ends). Requests are recorded whole so that tests can look at what was sent.
// One thread serves every connection, one after another.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pixmoor::testing {

// A complete response with a Content-Length header.
inline std::string httpResponse(const std::string& status, const std::string& body,
                                const std::string& contentType = "text/plain") {
  return "HTTP/1.1 " + status + "\r\nContent-Type: " + contentType +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

class LocalHttpServer {
 public:
  LocalHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 || ::pipe(wake_) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }

  ~LocalHttpServer() {
    if (thread_.joinable()) {
      const char byte = 'x';
      while (::write(wake_[1], &byte, 1) < 0 && errno == EINTR) {
      }
      thread_.join();
    }
    for (int fd : silent_) ::close(fd);
    if (listener_ >= 0) ::close(listener_);
    if (wake_[0] >= 0) ::close(wake_[0]);
    if (wake_[1] >= 0) ::close(wake_[1]);
  }

  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  bool running() const { return port_ != 0; }
  std::uint16_t port() const { return port_; }
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // Call before the first request for the path.
  void answer(const std::string& path, const std::string& rawResponse) {
    std::lock_guard lock(mutex_);
    routes_[path] = rawResponse;
  }
  void neverAnswer(const std::string& path) {
    std::lock_guard lock(mutex_);
    silentPaths_.push_back(path);
  }

  std::vector<std::string> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::size_t requestCount() const { return requests().size(); }

 private:
  void serve() {
    for (;;) {
      pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) return;
      if (fds[1].revents != 0) return;
      if ((fds[0].revents & POLLIN) == 0) continue;
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      handle(client);
    }
  }

  // Reads up to the blank line that ends the request head (GET has no body).
  static std::string readHead(int client) {
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
      pollfd fd{client, POLLIN, 0};
      if (::poll(&fd, 1, 5000) <= 0) break;
      const ssize_t got = ::read(client, buffer, sizeof buffer);
      if (got <= 0) break;
      head.append(buffer, static_cast<std::size_t>(got));
    }
    return head;
  }

  void handle(int client) {
    const std::string head = readHead(client);
    std::string path;
    const auto firstSpace = head.find(' ');
    if (firstSpace != std::string::npos) {
      const auto secondSpace = head.find(' ', firstSpace + 1);
      if (secondSpace != std::string::npos) path = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    }
    std::string response = httpResponse("404 Not Found", "");
    bool silent = false;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(head);
      for (const auto& p : silentPaths_) silent = silent || p == path;
      if (auto it = routes_.find(path); it != routes_.end()) response = it->second;
    }
    if (silent) {
      silent_.push_back(client);
      return;
    }
    std::size_t sent = 0;
    while (sent < response.size()) {
      const ssize_t put = ::send(client, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
      if (put <= 0) break;
      sent += static_cast<std::size_t>(put);
    }
    ::shutdown(client, SHUT_WR);
    ::close(client);
  }

  int listener_ = -1;
  int wake_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> routes_;
  std::vector<std::string> silentPaths_;
  std::vector<std::string> requests_;
  std::vector<int> silent_;  // touched by the server thread only until it has ended
};

}  // namespace pixmoor::testing
