#pragma once
// SwaySession: a headless sway with Xwayland for one test, and the programs run in it. sway
// refuses to run as root, so when the test runs as root the compositor and its Wayland clients
// run as "nobody", with a runtime folder of their own; Vesk runs as the test does and reaches
// them through the socket's full path.

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vesk::test {

// A program running beside the test, its output read line by line; killed on destruction.
class Child {
 public:
  Child(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Waits until a line of its output is `line` (pumping the Qt event loop meanwhile).
  bool waitForLine(const std::string& line,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Its last line of output that starts with `prefix`, without the prefix.
  std::string last(const std::string& prefix);
  // Ends it with `signal` and waits for it.
  void kill(int signal);
  pid_t pid() const { return pid_; }

 private:
  void read();

  pid_t pid_ = -1;
  int output_ = -1;
  std::string buffer_;
  std::vector<std::string> lines_;
};

class SwaySession {
 public:
  // Starts sway with `bindings` (lines of its config such as "bindsym Ctrl+Alt+l exec …");
  // `problem()` says why when it couldn't.
  explicit SwaySession(const std::vector<std::string>& bindings = {});
  ~SwaySession();
  SwaySession(const SwaySession&) = delete;
  SwaySession& operator=(const SwaySession&) = delete;

  const std::string& problem() const { return problem_; }
  // The full path of the compositor's socket (for WAYLAND_DISPLAY) and Xwayland's display.
  const std::string& socket() const { return socket_; }
  const std::string& x11Display() const { return x11Display_; }
  // The socket swaymsg talks to.
  const std::string& ipcSocket() const { return ipcSocket_; }

  // What runs a program as the compositor's user: empty, or setpriv's "nobody" for a root test.
  static std::vector<std::string> asCompositorUser();
  // Gives `path` and everything in it to the compositor's user, for a program run as it.
  static void giveToCompositorUser(const std::string& path);

  // `arguments` as a client of the compositor (as "nobody" when the test is root).
  std::vector<std::string> client(std::vector<std::string> arguments,
                                  const std::map<std::string, std::string>& env = {}) const;

 private:
  std::string root_;
  std::string problem_;
  std::string socket_;
  std::string x11Display_;
  std::string ipcSocket_;
  std::unique_ptr<Child> sway_;
};

}  // namespace vesk::test
