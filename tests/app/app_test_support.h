#pragma once
// Helpers for tests of main-thread owners: a temporary folder, and running the Qt event loop
// until a condition holds (results of background work arrive through it).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/base/pool_executor.h"

namespace vesk::test {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vesk-app-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the event loop until `condition` holds or `timeout` passed; whether it held.
template <class Condition>
bool pumpUntil(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeout.count()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

// Runs the event loop for a while. Only for waits on a timer or a file watcher's latency,
// which no flush can hurry; anything else waits on a condition or uses settle().
inline void pumpFor(std::chrono::milliseconds duration) {
  pumpUntil([] { return false; }, duration);
}

// The executor of the components under test: real thread pools, as in Vesk.
inline PoolExecutor& testExecutor() {
  static PoolExecutor executor;
  return executor;
}

// Finishes the background work started so far and delivers what it handed to the main thread,
// a few rounds deep (a result may start more work). After it, a check that something did not
// happen is not merely early.
inline void settle() {
  for (int round = 0; round < 4; ++round) {
    testExecutor().waitForDone();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
}

// The private XDG_DATA_HOME the test executable runs with (set up by its main); desktop entries
// a test needs go into its "applications" folder.
inline std::string dataHome() {
  const char* home = std::getenv("XDG_DATA_HOME");  // NOLINT(concurrency-mt-unsafe)
  return home == nullptr ? std::string() : std::string(home);
}

}  // namespace vesk::test
