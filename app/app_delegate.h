#pragma once
// AppDelegate: the application object. It owns every long-lived component, starts them in a
// fixed order, applies each new configuration, and reacts to what they report.
//
// Main thread only.

#include <string>
#include <vector>

namespace vesk {

class AppDelegate final {
 public:
  struct Environment {
    static Environment standard();
  };

  explicit AppDelegate(Environment environment);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  void applicationDidFinishLaunching();
  // A second start of `vesk`: present the launcher.
  bool applicationShouldHandleReopen();
  void applicationWillTerminate();

  // A problem of the platform itself (a Wayland session), listed before the others.
  void addPlatformProblem(std::string problem);

 private:
  Environment environment_;
  std::vector<std::string> platformProblems_;
};

}  // namespace vesk
