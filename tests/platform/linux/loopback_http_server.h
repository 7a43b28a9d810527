#pragma once
// LoopbackHttpServer: a plain HTTP/1.1 server on 127.0.0.1 and an ephemeral port, on its own
// thread, serving what the test put under each path (404 for the rest). A reply may claim another
// length than it sends, stop answering after some bytes until the client hangs up, or send its
// body a byte at a time with a pause between bytes.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vesk::test {

class LoopbackHttpServer {
 public:
  struct Reply {
    std::string body;
    std::optional<uint64_t> contentLength;  // none: the body's
    std::optional<size_t> stallAfter;       // sends this many body bytes, then nothing more
    std::optional<int> pauseMillis;         // between one byte and the next
  };

  LoopbackHttpServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 8);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    (void)::pipe2(wake_, O_CLOEXEC);
    thread_ = std::thread([this] { run(); });
  }
  ~LoopbackHttpServer() {
    (void)::write(wake_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void serve(const std::string& path, Reply reply) {
    const std::lock_guard lock(mutex_);
    replies_[path] = std::move(reply);
  }

 private:
  enum class Wait { stopped, hungUp, timedOut };

  // Waits until the client hangs up, the server is stopped or `millis` pass (-1: forever).
  Wait waitForHangUp(int client, int millis = -1) const {
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {client, POLLIN, 0}};
    for (;;) {
      const int ready = ::poll(fds, 2, millis);
      if (ready < 0 || (fds[0].revents & POLLIN) != 0) {
        return Wait::stopped;
      }
      if (ready == 0) {
        return Wait::timedOut;
      }
      char byte = 0;
      if (fds[1].revents != 0 && ::recv(client, &byte, 1, 0) <= 0) {
        return Wait::hungUp;
      }
    }
  }

  void run() {
    for (;;) {
      pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) {
        return;
      }
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        continue;
      }
      const bool stop = answer(client);
      ::close(client);
      if (stop) {
        return;
      }
    }
  }

  // Whether the server was stopped while answering.
  bool answer(int client) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) {
        return false;
      }
      request.append(buffer, static_cast<size_t>(got));
    }
    const size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    std::optional<Reply> reply;
    {
      const std::lock_guard lock(mutex_);
      if (const auto found = replies_.find(path); found != replies_.end()) {
        reply = found->second;
      }
    }
    if (!reply) {
      sendAll(client, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
      return false;
    }
    const uint64_t length = reply->contentLength.value_or(reply->body.size());
    sendAll(client,
            "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                std::to_string(length) + "\r\nConnection: close\r\n\r\n");
    if (reply->stallAfter) {
      sendAll(client, reply->body.substr(0, *reply->stallAfter));
      return waitForHangUp(client) == Wait::stopped;
    }
    if (reply->pauseMillis) {
      for (const char byte : reply->body) {
        sendAll(client, std::string(1, byte));
        if (const Wait wait = waitForHangUp(client, *reply->pauseMillis); wait != Wait::timedOut) {
          return wait == Wait::stopped;
        }
      }
      return false;
    }
    sendAll(client, reply->body);
    return false;
  }

  static void sendAll(int client, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t done = ::send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (done <= 0) {
        return;
      }
      sent += static_cast<size_t>(done);
    }
  }

  int listener_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::thread thread_;
};

}  // namespace vesk::test
