#include "tests/e2e/wayland/sway_session.h"

#include <QElapsedTimer>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/e2e/vesk_process.h"

namespace vesk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> list;
  for (std::string& s : strings) {
    list.push_back(s.data());
  }
  list.push_back(nullptr);
  return list;
}

bool isRoot() {
  return ::geteuid() == 0;
}

}  // namespace

Child::Child(const std::vector<std::string>& arguments,
             const std::map<std::string, std::string>& env) {
  std::vector<std::string> args = arguments;
  std::vector<std::string> environment;
  for (const auto& [name, value] : env) {
    environment.push_back(name + "=" + value);
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    return;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, STDIN_FILENO);
    ::setpgid(0, 0);
    auto argv = pointers(args);
    auto envp = pointers(environment);
    ::execvpe(args[0].c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  output_ = fds[0];
  ::fcntl(output_, F_SETFL, O_NONBLOCK);
}

Child::~Child() {
  kill(SIGTERM);
  if (output_ >= 0) {
    ::close(output_);
  }
}

void Child::kill(int signal) {
  if (pid_ <= 0) {
    return;
  }
  ::kill(-pid_, signal);
  ::kill(pid_, signal);
  int status = 0;
  for (int i = 0; i < 300 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
    ::usleep(10000);
    if (i == 200) {
      ::kill(-pid_, SIGKILL);
      ::kill(pid_, SIGKILL);
    }
  }
  pid_ = -1;
}

void Child::read() {
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(output_, chunk, sizeof chunk);
    if (got <= 0) {
      break;
    }
    buffer_.append(chunk, static_cast<size_t>(got));
  }
  for (size_t end = buffer_.find('\n'); end != std::string::npos; end = buffer_.find('\n')) {
    lines_.push_back(buffer_.substr(0, end));
    buffer_.erase(0, end + 1);
  }
}

bool Child::waitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  return pumpUntil(
      [&] {
        read();
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
      },
      timeout);
}

std::string Child::last(const std::string& prefix) {
  read();
  for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
    if (it->starts_with(prefix)) {
      return it->substr(prefix.size());
    }
  }
  return {};
}

std::vector<std::string> SwaySession::asCompositorUser() {
  if (!isRoot()) {
    return {};
  }
  return {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"};
}

void SwaySession::giveToCompositorUser(const std::string& path) {
  const passwd* nobody = ::getpwnam("nobody");
  if (!isRoot() || nobody == nullptr) {
    return;
  }
  const auto give = [&](const fs::path& each) {
    [[maybe_unused]] const int owned = ::lchown(each.c_str(), nobody->pw_uid, nobody->pw_gid);
  };
  give(path);
  for (const auto& entry : fs::recursive_directory_iterator(path)) {
    give(entry.path());
  }
}

SwaySession::SwaySession(const std::vector<std::string>& bindings) {
  if (std::system("command -v sway >/dev/null && command -v Xwayland >/dev/null") != 0) {
    problem_ = "sway or Xwayland is not installed (scripts/install-deps)";
    return;
  }
  char pattern[] = "/tmp/vesk-sway-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    problem_ = "no temporary folder";
    return;
  }
  root_ = pattern;
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  const std::string runtime = root_ + "/runtime";
  const std::string shared = root_ + "/shared";
  fs::create_directories(runtime);
  fs::create_directories(shared);
  fs::permissions(runtime, fs::perms::owner_all);
  if (isRoot()) {
    const passwd* nobody = ::getpwnam("nobody");
    if (nobody == nullptr) {
      problem_ = "there is no user \"nobody\" to run sway as";
      return;
    }
    [[maybe_unused]] const int owned = ::chown(runtime.c_str(), nobody->pw_uid, nobody->pw_gid);
    [[maybe_unused]] const int sharedOwned =
        ::chown(shared.c_str(), nobody->pw_uid, nobody->pw_gid);
  }
  // Xwayland lets in only the compositor's user: the test's own user (who runs Vesk) is let in
  // before the display is announced.
  std::string letIn;
  if (isRoot()) {
    const passwd* self = ::getpwuid(::geteuid());
    letIn = "xhost +si:localuser:" + std::string(self != nullptr ? self->pw_name : "root") +
            " >/dev/null && ";
  }
  std::ofstream config(root_ + "/config");
  config << "xwayland enable\n"
         << "exec sh -c '" << letIn << "echo $DISPLAY > " << shared << "/display'\n";
  for (const std::string& line : bindings) {
    config << line << "\n";
  }
  config.close();
  const std::map<std::string, std::string> env = {
      {"PATH", "/usr/bin:/bin"},    {"HOME", shared},           {"XDG_RUNTIME_DIR", runtime},
      {"WLR_BACKENDS", "headless"}, {"WLR_RENDERER", "pixman"}, {"WLR_LIBINPUT_NO_DEVICES", "1"},
  };
  std::vector<std::string> command = asCompositorUser();
  command.insert(command.end(), {"sway", "-c", root_ + "/config"});
  sway_ = std::make_unique<Child>(command, env);
  const bool ready = pumpUntil(
      [&] {
        std::ifstream file(shared + "/display");
        std::string display;
        std::getline(file, display);
        if (display.empty()) {
          return false;
        }
        for (const auto& entry : fs::directory_iterator(runtime)) {
          const std::string name = entry.path().filename();
          if (name.starts_with("wayland-") && !name.ends_with(".lock")) {
            socket_ = entry.path();
          } else if (name.starts_with("sway-ipc.")) {
            ipcSocket_ = entry.path();
          }
        }
        x11Display_ = display;
        return !socket_.empty() && !ipcSocket_.empty();
      },
      20s);
  if (!ready) {
    problem_ = "sway didn't start";
  }
}

SwaySession::~SwaySession() {
  sway_.reset();
  std::error_code error;
  if (!root_.empty()) {
    fs::remove_all(root_, error);
  }
}

std::vector<std::string> SwaySession::client(std::vector<std::string> arguments,
                                             const std::map<std::string, std::string>& env) const {
  std::vector<std::string> command = asCompositorUser();
  command.insert(command.end(),
                 {"env", "XDG_RUNTIME_DIR=" + root_ + "/runtime", "WAYLAND_DISPLAY=" + socket_,
                  "HOME=" + root_ + "/shared", "SWAYSOCK=" + ipcSocket_});
  for (const auto& [name, value] : env) {
    command.push_back(name + "=" + value);
  }
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

}  // namespace vesk::test
