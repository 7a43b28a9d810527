#pragma once
// Xvfb: a private X server for one test process, started on a free display number and stopped
// with the process's tests. It also runs X clients (xclip, xdotool) against that display.
//
// Usage: `Xvfb::shared()` in a test; it points DISPLAY at the server, so every X connection
// and client of the process uses it. Tests skip themselves when Xvfb isn't installed.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vesk::test {

class Xvfb {
 public:
  // The process's server, started on first use; null when it can't start.
  static Xvfb* shared() {
    static const std::unique_ptr<Xvfb> server = start();
    return server.get();
  }

  ~Xvfb() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  const std::string& display() const { return display_; }

  // Runs a shell command against the display; its exit status.
  static int run(const std::string& command) {
    const int status = std::system(command.c_str());  // NOLINT(concurrency-mt-unsafe)
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Runs a shell command and returns what it printed.
  static std::string output(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
      return text;
    }
    char buffer[65536];
    size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
      text.append(buffer, read);
    }
    ::pclose(pipe);
    return text;
  }

  // Waits until `condition` holds, at most `timeout`; whether it did.
  template <class Condition>
  static bool waitUntil(Condition condition,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

 private:
  Xvfb(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}

  static std::unique_ptr<Xvfb> start() {
    if (run("command -v Xvfb >/dev/null 2>&1") != 0) {
      return nullptr;
    }
    int fds[2];
    if (::pipe(fds) != 0) {
      return nullptr;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
      return nullptr;
    }
    if (pid == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1600x1000x24",
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c = 0;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') {
      number.push_back(c);
    }
    ::close(fds[0]);
    if (number.empty()) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
      return nullptr;
    }
    const std::string display = ":" + number;
    ::setenv("DISPLAY", display.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    return std::unique_ptr<Xvfb>(new Xvfb(pid, display));
  }

  pid_t pid_;
  std::string display_;
};

}  // namespace vesk::test

// Skips the test when no X server could be started.
#define VESK_REQUIRE_XVFB()                        \
  do {                                             \
    if (::vesk::test::Xvfb::shared() == nullptr) { \
      GTEST_SKIP() << "Xvfb is not available";     \
    }                                              \
  } while (false)
