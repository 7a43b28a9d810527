#pragma once
// WindowManager: one window manager ("openbox", "xfwm4", "mutter"; "none" for none) on the
// shared Xvfb server for one test, stopped with it.

#include <chrono>
#include <string>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/e2e/vesk_process.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk::test {

// Its root properties are removed after it, so the next test sees a bare server again.
class WindowManager {
 public:
  explicit WindowManager(const std::string& name) : name_(name) {
    if (name == "none") {
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      if (name == "xfwm4") {
        ::execlp("dbus-run-session", "dbus-run-session", "--", "xfwm4", "--compositor=off",
                 "--sm-client-disable", nullptr);
      } else if (name == "mutter") {
        // GNOME's window manager on its own, as an X11 one, in a D-Bus session of its own.
        ::execlp("dbus-run-session", "dbus-run-session", "--", "mutter", "--x11", "--replace",
                 "--sm-disable", nullptr);
      } else {
        ::execlp(name.c_str(), name.c_str(), nullptr);
      }
      ::_exit(127);
    }
  }
  ~WindowManager() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      Xvfb::run(
          "xprop -root -remove _NET_SUPPORTING_WM_CHECK; xprop -root -remove "
          "_NET_ACTIVE_WINDOW; xprop -root -remove _GTK_WORKAREAS_D0");
    }
  }
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  // The window manager manages the screen; mutter publishes its work areas last, after its
  // key bindings are set up.
  bool ready() const {
    const std::string last = name_ == "mutter" ? "_GTK_WORKAREAS_D0" : "_NET_SUPPORTING_WM_CHECK";
    return pid_ <= 0 ||
           pumpUntil(
               [&last] {
                 return Xvfb::output("xprop -root " + last).find("=") != std::string::npos ||
                        Xvfb::output("xprop -root " + last).find("window id") != std::string::npos;
               },
               std::chrono::seconds(10));
  }

 private:
  std::string name_;
  pid_t pid_ = -1;
};

}  // namespace vesk::test
