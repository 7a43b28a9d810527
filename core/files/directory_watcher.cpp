#include "core/files/directory_watcher.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <fts.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "core/files/file_rules.h"

namespace vesk {

namespace {

constexpr size_t kMaxExclusions = 8;
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_DELETE_SELF | IN_MOVE_SELF | IN_CLOSE_WRITE | IN_ATTRIB |
                                IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

void logToStderr(std::string_view line) {
  std::fprintf(stderr, "vesk: %.*s\n", static_cast<int>(line.size()), line.data());
}

std::string joinPath(const std::string& folder, std::string_view name) {
  if (name.empty()) {
    return folder;
  }
  // Appending into one reserved string: GCC 12 at -O3 misreads the temporaries of
  // `folder + "/" + std::string(name)` as overlapping copies (-Wrestrict).
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  if (folder != "/") {
    path.append(folder);
  }
  path.push_back('/');
  path.append(name);
  return path;
}

// The event flags of an inotify mask, for a folder when `isDir`.
uint32_t flagsOf(uint32_t mask, bool isDir) {
  using Event = DirectoryWatcher::Event;
  uint32_t flags = isDir ? Event::kItemIsDir : Event::kItemIsFile;
  if ((mask & IN_CREATE) != 0) {
    flags |= Event::kItemCreated;
  }
  if ((mask & (IN_DELETE | IN_DELETE_SELF)) != 0) {
    flags |= Event::kItemRemoved;
  }
  if ((mask & (IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF)) != 0) {
    flags |= Event::kItemRenamed;
  }
  if ((mask & IN_CLOSE_WRITE) != 0) {
    flags |= Event::kItemModified;
  }
  if ((mask & IN_ATTRIB) != 0) {
    flags |= Event::kItemInodeMetaMod;
  }
  return flags;
}

struct FtsCloser {
  void operator()(FTS* fts) const { fts_close(fts); }
};

}  // namespace

struct DirectoryWatcher::State {
  std::vector<std::string> roots;
  std::vector<std::string> excluding;
  bool fileEvents = false;
  std::chrono::milliseconds latency{0};
  SerialQueue* queue = nullptr;
  Handler handler;
  Options options;

  int inotifyFd = -1;
  int stopFd = -1;
  std::thread reader;
  std::atomic<bool> stopped{false};

  // Guards everything below.
  mutable std::mutex mutex;
  std::unordered_map<int, std::string> pathOfWatch;
  std::map<std::string, int, std::less<>> watchOfPath;
  size_t watchBudget = std::numeric_limits<size_t>::max();
  bool limitLogged = false;
  std::vector<Event> pending;
  bool flushScheduled = false;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  State(State&&) = delete;
  State& operator=(State&&) = delete;
  ~State() {
    if (inotifyFd >= 0) {
      close(inotifyFd);
    }
    if (stopFd >= 0) {
      close(stopFd);
    }
  }

  void log(std::string_view line) const { options.log ? options.log(line) : logToStderr(line); }

  bool excluded(std::string_view path) const {
    return std::any_of(excluding.begin(), excluding.end(),
                       [path](const std::string& e) { return isAtOrBelow(path, e); });
  }

  // Adds one watch; false when the watch limit is reached (logged once).
  bool addWatch(const std::string& path) {
    int wd = -1;
    if (watchBudget == 0) {
      errno = ENOSPC;
    } else {
      wd = inotify_add_watch(inotifyFd, path.c_str(), kWatchMask);
    }
    if (wd < 0) {
      if (errno == ENOSPC && !limitLogged) {
        limitLogged = true;
        log("Ran out of inotify watches at " + path +
            "; changes in folders added from now on are not seen until the next full scan "
            "(raise fs.inotify.max_user_watches)");
      }
      return errno != ENOSPC;
    }
    if (watchBudget != std::numeric_limits<size_t>::max()) {
      --watchBudget;
    }
    const auto previous = pathOfWatch.find(wd);
    if (previous != pathOfWatch.end()) {
      watchOfPath.erase(previous->second);  // the same folder, reached under a new path
    }
    pathOfWatch[wd] = path;
    watchOfPath[path] = wd;
    return true;
  }

  // Watches `top` and every folder below it that is not excluded. False when the watch limit
  // stopped it.
  bool addTree(const std::string& top) {
    if (excluded(top) || watchOfPath.contains(top)) {
      return true;
    }
    std::string start = top;
    std::array<char*, 2> argv = {start.data(), nullptr};
    const std::unique_ptr<FTS, FtsCloser> fts(
        fts_open(argv.data(), FTS_NOCHDIR | FTS_NOSTAT | FTS_PHYSICAL | FTS_XDEV, nullptr));
    if (!fts) {
      return true;
    }
    bool complete = true;
    while (FTSENT* item = fts_read(fts.get())) {
      if (item->fts_info != FTS_D) {
        continue;
      }
      const std::string path(item->fts_path, item->fts_pathlen);
      const bool wanted = item->fts_level == FTS_ROOTLEVEL ||
                          (!excluded(path) && (!options.watchFolder || options.watchFolder(path)));
      if (!wanted) {
        fts_set(fts.get(), item, FTS_SKIP);
      } else if (!addWatch(path)) {
        complete = false;
        fts_set(fts.get(), item, FTS_SKIP);
      }
    }
    return complete;
  }

  void removeTree(const std::string& top) {
    auto it = watchOfPath.lower_bound(top);
    while (it != watchOfPath.end() && it->first.starts_with(top)) {
      if (!isAtOrBelow(it->first, top)) {
        ++it;
        continue;
      }
      inotify_rm_watch(inotifyFd, it->second);
      pathOfWatch.erase(it->second);
      it = watchOfPath.erase(it);
    }
  }

  void pushOverflow() {
    for (const std::string& root : roots) {
      pending.push_back({root, Event::kKernelDropped});
    }
  }

  void push(std::string path, uint32_t flags) {
    if (!pending.empty() && pending.back().path == path && pending.back().flags == flags) {
      return;
    }
    pending.push_back({std::move(path), flags});
  }

  // Turns one kernel event into stream events, keeping watches in step with the tree.
  void translate(const inotify_event& raw) {
    if ((raw.mask & IN_Q_OVERFLOW) != 0) {
      pushOverflow();
      return;
    }
    const auto folder = pathOfWatch.find(raw.wd);
    if (folder == pathOfWatch.end()) {
      return;
    }
    if ((raw.mask & IN_IGNORED) != 0) {
      watchOfPath.erase(folder->second);
      pathOfWatch.erase(folder);
      return;
    }
    const std::string folderPath = folder->second;
    const bool self = (raw.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0;
    const std::string path = self ? folderPath : joinPath(folderPath, raw.len > 0 ? raw.name : "");
    const bool isDir = self || (raw.mask & IN_ISDIR) != 0;
    uint32_t flags = flagsOf(raw.mask, isDir);
    if (isDir && !self && (raw.mask & IN_MOVED_FROM) != 0) {
      removeTree(path);  // the watches below still point at the old paths
    }
    if (isDir && !self && (raw.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
      if (!excluded(path) && (!options.watchFolder || options.watchFolder(path))) {
        flags |= addTree(path) ? Event::kMustScanSubDirs : Event::kUserDropped;
      }
    }
    if (fileEvents) {
      push(path, flags);
    } else {
      push(folderPath, flags & 0x7);
    }
  }

  void scheduleFlush(const std::shared_ptr<State>& self) {
    if (pending.empty() || flushScheduled) {
      return;
    }
    flushScheduled = true;
    std::weak_ptr<State> weak = self;
    queue->asyncAfter(latency, [weak] {
      if (const auto state = weak.lock()) {
        state->flush();
      }
    });
  }

  void flush() {
    std::vector<Event> batch;
    {
      const std::lock_guard lock(mutex);
      batch.swap(pending);
      flushScheduled = false;
    }
    if (!batch.empty() && !stopped) {
      handler(std::move(batch));
    }
  }

  void read(const std::shared_ptr<State>& self) {
    alignas(inotify_event) std::array<char, size_t{64} * 1024> buffer{};
    std::array<pollfd, 2> fds = {pollfd{inotifyFd, POLLIN, 0}, pollfd{stopFd, POLLIN, 0}};
    while (!stopped) {
      if (poll(fds.data(), fds.size(), -1) < 0) {
        if (errno == EINTR) {
          continue;
        }
        log("The file watcher stopped: poll failed");
        return;
      }
      if ((fds[1].revents & POLLIN) != 0) {
        return;
      }
      const ssize_t length = ::read(inotifyFd, buffer.data(), buffer.size());
      if (length <= 0) {
        continue;
      }
      const std::lock_guard lock(mutex);
      for (ssize_t offset = 0; offset < length;) {
        const auto* raw = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
        translate(*raw);
        offset += static_cast<ssize_t>(sizeof(inotify_event) + raw->len);
      }
      scheduleFlush(self);
    }
  }
};

DirectoryWatcher::DirectoryWatcher(std::shared_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<DirectoryWatcher> DirectoryWatcher::create(
    std::vector<std::string> paths, std::vector<std::string> excluding, bool fileEvents,
    std::chrono::milliseconds latency, SerialQueue& queue, Handler handler, Options options) {
  auto state = std::make_shared<State>();
  state->roots = std::move(paths);
  if (excluding.size() > kMaxExclusions) {
    excluding.resize(kMaxExclusions);
  }
  state->excluding = std::move(excluding);
  state->fileEvents = fileEvents;
  state->latency = latency;
  state->queue = &queue;
  state->handler = std::move(handler);
  state->options = std::move(options);
  state->inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  state->stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (state->inotifyFd < 0 || state->stopFd < 0) {
    state->log("Couldn't start watching folders: inotify is not available");
    return nullptr;
  }
  {
    const std::lock_guard lock(state->mutex);
    for (const std::string& root : state->roots) {
      state->addTree(root);
    }
  }
  state->reader = std::thread([state] { state->read(state); });
  return std::unique_ptr<DirectoryWatcher>(new DirectoryWatcher(std::move(state)));
}

std::unique_ptr<DirectoryWatcher> DirectoryWatcher::create(std::vector<std::string> paths,
                                                           std::chrono::milliseconds latency,
                                                           SerialQueue& queue, Handler handler) {
  return create(std::move(paths), {}, false, latency, queue, std::move(handler));
}

DirectoryWatcher::~DirectoryWatcher() {
  state_->stopped = true;
  const uint64_t one = 1;
  if (write(state_->stopFd, &one, sizeof(one)) < 0) {
    // The reader also checks `stopped` after every wake-up; nothing more to do.
  }
  if (state_->reader.joinable()) {
    state_->reader.join();
  }
}

size_t DirectoryWatcher::watchCount() const {
  const std::lock_guard lock(state_->mutex);
  return state_->pathOfWatch.size();
}

void DirectoryWatcher::simulateOverflow() {
  const std::lock_guard lock(state_->mutex);
  state_->pushOverflow();
  state_->scheduleFlush(state_);
}

void DirectoryWatcher::limitWatchesForTesting(size_t watches) {
  const std::lock_guard lock(state_->mutex);
  state_->watchBudget = watches;
}

}  // namespace vesk
