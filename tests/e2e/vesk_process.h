#pragma once
// VeskProcess: one `vesk` run for an end-to-end test, in a private home with its own XDG
// folders, on the test's X server. It runs on a pseudo-terminal, so Vesk mirrors its log
// there, and the test reads the log as it grows.

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace vesk::test {

class Home {
 public:
  Home();
  ~Home();
  Home(const Home&) = delete;
  Home& operator=(const Home&) = delete;

  const std::string& root() const { return root_; }
  std::string home() const { return root_ + "/home"; }
  std::string dataHome() const { return home() + "/.local/share"; }
  std::string configFile() const { return home() + "/.config/vesk/config.toml"; }
  std::string clipboardFolder() const { return dataHome() + "/vesk/clipboard"; }
  std::string database() const { return clipboardFolder() + "/history.sqlite"; }
  std::string applications() const { return dataHome() + "/applications"; }
  // The environment of a process of this home, with `extra` over it.
  std::map<std::string, std::string> environment() const;
  std::map<std::string, std::string> extra;

  // The X display of this home's programs; empty: the test process's own.
  std::string display;

 private:
  std::string root_;
};

class VeskProcess {
 public:
  explicit VeskProcess(const Home& home);
  ~VeskProcess();
  VeskProcess(const VeskProcess&) = delete;
  VeskProcess& operator=(const VeskProcess&) = delete;

  // Starts `vesk` with `options`; false when it could not be started.
  bool start(const std::vector<std::string>& options = {});
  // Stops it (SIGTERM, then SIGKILL after a while); its exit status, or -1.
  int stop();
  // Waits until it ended by itself; its exit status, or -1 on timeout.
  int wait(std::chrono::milliseconds timeout);

  // What `vesk` is run through (a program and its arguments, such as setpriv's); empty: none.
  std::vector<std::string> runThrough;

  std::string log() const;
  // Waits until the log contains `text`, pumping the Qt event loop meanwhile.
  bool waitForLog(const std::string& text,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  // How many times `text` occurs in the log.
  size_t count(const std::string& text) const;

 private:
  void read();
  // Fails the running test when vesk's log holds a sanitizer's report (once).
  void failOnSanitizerReport();

  const Home& home_;
  pid_t pid_ = -1;
  int terminal_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::string log_;
  bool reported_ = false;
};

// Runs a program with arguments (no shell) in `home`'s environment; its exit status.
int runProgram(const Home& home, const std::vector<std::string>& arguments,
               const std::string& input = {});

// Runs the event loop until `condition` holds or `timeout` passed; whether it held.
bool pumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

}  // namespace vesk::test
