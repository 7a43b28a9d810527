// Where the lock and the socket of the one running Vesk live when the session has no runtime
// folder (never in a folder another user could have made first), and what a later start asks.

#include "app/shell/single_instance.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace vesk {
namespace {

// Sets (or, with none, unsets) one environment variable while it lives.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) {  // NOLINT(concurrency-mt-unsafe): test thread
      old_ = old;
    }
    set(value);
  }
  ~ScopedEnvironment() { set(old_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    } else {
      ::unsetenv(name_);  // NOLINT(concurrency-mt-unsafe)
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

unsigned modeOf(const std::string& path) {
  struct stat status {};
  ::lstat(path.c_str(), &status);
  return status.st_mode & 07777;
}

class SingleInstanceFolder : public testing::Test {
 protected:
  std::string folder() {
    const auto result = SingleInstance::defaultFolder();
    return result ? result.value() : "failed: " + result.failure().description;
  }

  test::TempFolder temp;
  test::TempFolder cache;
  const std::string shared = temp / ("vesk-" + std::to_string(::getuid()));
  ScopedEnvironment runtime{"XDG_RUNTIME_DIR", std::nullopt};
  ScopedEnvironment tmpdir{"TMPDIR", temp.path()};
  ScopedEnvironment cacheHome{"XDG_CACHE_HOME", cache.path()};
};

TEST_F(SingleInstanceFolder, MadeInTheTemporaryFolderWhenMissingAndPrivate) {
  EXPECT_EQ(folder(), shared);
  EXPECT_EQ(modeOf(shared), 0700U);
  EXPECT_EQ(folder(), shared);  // and used again on the next start
}

TEST_F(SingleInstanceFolder, AFolderOpenToOthersOrALinkIsNeverUsed) {
  ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);  // as another user would have left it
  EXPECT_EQ(folder(), cache / "vesk/run");
  EXPECT_EQ(modeOf(cache / "vesk/run"), 0700U);
  EXPECT_EQ(modeOf(shared), 0777U);  // left alone: it may not even be ours

  ASSERT_EQ(::rmdir(shared.c_str()), 0);
  const std::string elsewhere = temp / "elsewhere";
  ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
  ASSERT_EQ(::symlink(elsewhere.c_str(), shared.c_str()), 0);
  EXPECT_EQ(folder(), cache / "vesk/run");
}

TEST_F(SingleInstanceFolder, WithNoPrivateFolderAtAllVeskSaysWhyItCantStart) {
  ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
  test::writeFile(cache / "vesk", "a file where the folder would go");
  const auto result = SingleInstance::defaultFolder();
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.failure().description.starts_with("Vesk can't start")) << folder();
}

TEST_F(SingleInstanceFolder, TheRuntimeFolderWinsWhenTheSessionHasOne) {
  const ScopedEnvironment session("XDG_RUNTIME_DIR", cache.path());
  EXPECT_EQ(folder(), cache.path());
}

// A raw client of the instance socket that connects without blocking.
int connectTo(const std::string& socketPath) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  (void)::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return fd;
}

// Whether the server closed the connection (end of file), without waiting.
bool closedByServer(int fd) {
  char byte = 0;
  return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

// Connections that never say anything (any process of the user can open them) are dropped,
// only a few are held at a time, and a real second start is still answered among them.
TEST(SingleInstance, IdleConnectionsAreDroppedAndARequestIsStillAnswered) {
  test::TempFolder folder;
  SingleInstance instance(folder.path());
  int reopened = 0;
  ASSERT_TRUE(instance.lock());
  instance.listen([&](SingleInstance::Request) { ++reopened; });
  const std::string socketPath = folder / "vesk.socket";

  std::vector<int> idle;
  for (int i = 0; i < 200; ++i) {
    idle.push_back(connectTo(socketPath));
    QCoreApplication::processEvents();
  }
  const int request = connectTo(socketPath);
  ASSERT_EQ(::write(request, "reopen\n", 7), 7);
  std::string answer;
  ASSERT_TRUE(test::pumpUntil([&] {
    char block[8];
    const ssize_t n = ::recv(request, block, sizeof block, MSG_DONTWAIT);
    if (n > 0) {
      answer.append(block, static_cast<size_t>(n));
    }
    return answer == "ok\n";
  }));
  EXPECT_EQ(reopened, 1);
  EXPECT_LE(instance.openConnections(), 8U);

  // The connections still held are dropped too, as each stays silent.
  const int last = connectTo(socketPath);
  EXPECT_TRUE(test::pumpUntil([&] { return closedByServer(last); }, std::chrono::seconds(10)));
  for (const int fd : idle) {
    ::close(fd);
  }
  ::close(request);
  ::close(last);
}

TEST(SingleInstance, ALaterStartHandsItsRequestToTheRunningOne) {
  using Request = SingleInstance::Request;
  EXPECT_EQ(SingleInstance::requestOf({}), Request::reopen);
  EXPECT_EQ(SingleInstance::requestOf({"--launcher"}), Request::launcher);
  EXPECT_EQ(SingleInstance::requestOf({"--clipboard"}), Request::clipboard);
  EXPECT_EQ(SingleInstance::requestOf({"--paste-next"}), Request::pasteNext);
  EXPECT_EQ(SingleInstance::requestOf({"--reopen"}), std::nullopt);
  EXPECT_EQ(SingleInstance::requestOf({"--launcher", "--clipboard"}), std::nullopt);

  test::TempFolder folder;
  SingleInstance running(folder.path());
  ASSERT_TRUE(running.lock());
  std::vector<Request> asked;
  running.listen([&asked](Request request) { asked.push_back(request); });
  ASSERT_EQ(running.problem(), "");

  for (const Request request : {Request::clipboard, Request::pasteNext, Request::reopen}) {
    SingleInstance later(folder.path());
    ASSERT_FALSE(later.lock());
    // The running one answers from its event loop, which this thread pumps.
    SingleInstance::Role role = SingleInstance::Role::failed;
    std::thread sender([&] { role = later.send(request); });
    EXPECT_TRUE(test::pumpUntil([&] { return asked.size() == 1; }));
    sender.join();
    EXPECT_EQ(role, SingleInstance::Role::notified);
    ASSERT_EQ(asked, std::vector<Request>{request});
    asked.clear();
  }
}

}  // namespace
}  // namespace vesk
