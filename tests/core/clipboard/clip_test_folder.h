#pragma once
// Helpers of the clipboard tests: a temporary folder for one test, removed with everything in it
// afterwards, and a child process killed in the middle of its work.

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace vesk::test {

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vesk-clip-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Forks a child that runs `work`, waits until the child calls `ready`, then kills it with
// SIGKILL. Returns whether the child got that far and died of the signal.
inline bool killMidway(const std::function<void(const std::function<void()>& ready)>& work) {
  int ready[2];
  if (::pipe(ready) != 0) {
    return false;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    return false;
  }
  if (child == 0) {
    ::close(ready[0]);
    work([&] { (void)!::write(ready[1], "r", 1); });
    ::_exit(1);
  }
  ::close(ready[1]);
  char byte = 0;
  const bool reached = ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  return reached && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace vesk::test
