#include "tests/e2e/vesk_process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace vesk::test {

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) {
    result.push_back(s.data());
  }
  result.push_back(nullptr);
  return result;
}

std::vector<std::string> environmentList(const std::map<std::string, std::string>& env) {
  std::vector<std::string> list;
  for (const auto& [name, value] : env) {
    list.push_back(name + "=" + value);
  }
  return list;
}

int waitFor(pid_t pid, std::chrono::milliseconds timeout) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < timeout.count()) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(5);
  }
  return -1;
}

}  // namespace

Home::Home() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vesk-e2e-XXXXXX").string();
  root_ = ::mkdtemp(pattern.data());
  for (const char* folder : {"/home/.local/share/applications", "/home/.config", "/runtime",
                             "/share", "/home/.local/state", "/home/.cache"}) {
    std::filesystem::create_directories(root_ + folder);
  }
  std::filesystem::permissions(root_ + "/runtime", std::filesystem::perms::owner_all);
}

Home::~Home() {
  std::error_code error;
  std::filesystem::remove_all(root_, error);
}

std::map<std::string, std::string> Home::environment() const {
  const char* ownDisplay = std::getenv("DISPLAY");  // NOLINT(concurrency-mt-unsafe)
  const char* path = std::getenv("PATH");           // NOLINT(concurrency-mt-unsafe)
  std::map<std::string, std::string> environment = {
      {"HOME", home()},
      {"DISPLAY", !display.empty()        ? display
                  : ownDisplay == nullptr ? ""
                                          : ownDisplay},
      {"PATH", path == nullptr ? "/usr/bin:/bin" : path},
      {"XDG_RUNTIME_DIR", root_ + "/runtime"},
      {"XDG_DATA_HOME", dataHome()},
      {"XDG_CONFIG_HOME", home() + "/.config"},
      {"XDG_STATE_HOME", home() + "/.local/state"},
      {"XDG_CACHE_HOME", home() + "/.cache"},
      // Only the test's own applications, so that the index is small and known.
      {"XDG_DATA_DIRS", root_ + "/share"},
      {"LANG", "C.UTF-8"},
  };
  // A sanitizer build of vesk reports with the options the test run was given.
  for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) {  // NOLINT(concurrency-mt-unsafe)
      environment.emplace(name, value);
    }
  }
  for (const auto& [name, value] : extra) {
    environment[name] = value;
  }
  return environment;
}

VeskProcess::VeskProcess(const Home& home) : home_(home) {}

VeskProcess::~VeskProcess() {
  stop();
}

bool VeskProcess::start(const std::vector<std::string>& options) {
  std::vector<std::string> env = environmentList(home_.environment());
  std::vector<std::string> args = runThrough;
  args.emplace_back(VESK_BINARY);
  args.insert(args.end(), options.begin(), options.end());
  winsize size{};
  size.ws_col = 200;
  size.ws_row = 50;
  const pid_t pid = ::forkpty(&terminal_, nullptr, nullptr, &size);
  if (pid < 0) {
    return false;
  }
  if (pid == 0) {
    auto argv = pointers(args);
    auto envp = pointers(env);
    ::execve(args.front().c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  pid_ = pid;
  reader_ = std::thread([this] { read(); });
  return true;
}

void VeskProcess::read() {
  char buffer[4096];
  while (true) {
    const ssize_t n = ::read(terminal_, buffer, sizeof buffer);
    if (n <= 0) {
      return;  // EIO once the process and its terminal are gone
    }
    const std::lock_guard lock(mutex_);
    log_.append(buffer, static_cast<size_t>(n));
  }
}

int VeskProcess::stop() {
  int status = -1;
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    status = waitFor(pid_, std::chrono::seconds(5));
    if (status == -1) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  if (terminal_ >= 0) {
    ::close(terminal_);
    terminal_ = -1;
  }
  if (reader_.joinable()) {
    reader_.join();
  }
  failOnSanitizerReport();
  return status;
}

void VeskProcess::failOnSanitizerReport() {
  if (reported_) {
    return;
  }
  const std::string all = log();
  for (const char* marker : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                             "runtime error:", "WARNING: ThreadSanitizer"}) {
    if (all.find(marker) != std::string::npos) {
      reported_ = true;
      ADD_FAILURE() << "vesk's sanitizer found a fault:\n" << all;
      return;
    }
  }
}

int VeskProcess::wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) {
    return -1;
  }
  const int status = waitFor(pid_, timeout);
  if (status != -1) {
    pid_ = -1;
  }
  return status;
}

std::string VeskProcess::log() const {
  const std::lock_guard lock(mutex_);
  return log_;
}

size_t VeskProcess::count(const std::string& text) const {
  const std::string all = log();
  size_t found = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) {
    ++found;
  }
  return found;
}

bool VeskProcess::waitForLog(const std::string& text, std::chrono::milliseconds timeout) const {
  return pumpUntil([&] { return log().find(text) != std::string::npos; }, timeout);
}

int runProgram(const Home& home, const std::vector<std::string>& arguments,
               const std::string& input) {
  std::vector<std::string> env = environmentList(home.environment());
  std::vector<std::string> args = arguments;
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) {
    return -1;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    return -1;
  }
  if (pid == 0) {
    ::dup2(pipeFds[0], STDIN_FILENO);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    auto argv = pointers(args);
    auto envp = pointers(env);
    ::execvpe(args[0].c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipeFds[0]);
  size_t written = 0;
  while (written < input.size()) {
    const ssize_t n = ::write(pipeFds[1], input.data() + written, input.size() - written);
    if (n <= 0) {
      break;
    }
    written += static_cast<size_t>(n);
  }
  ::close(pipeFds[1]);
  return waitFor(pid, std::chrono::seconds(30));
}

bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QElapsedTimer timer;
  timer.start();
  while (!condition()) {
    if (timer.elapsed() > timeout.count()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return true;
}

}  // namespace vesk::test
