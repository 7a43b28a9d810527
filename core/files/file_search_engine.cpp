#include "core/files/file_search_engine.h"

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include "core/files/file_scanner.h"

namespace vesk {

namespace {

using Event = DirectoryWatcher::Event;

std::string_view lastComponent(std::string_view path) {
  return path.substr(path.rfind('/') + 1);
}

// Folder levels from `root` down to `path` (0 for the root itself).
int levelsBelow(std::string_view path, std::string_view root) {
  const std::string_view rest = path.substr(std::min(path.size(), root.size()));
  const int slashes = static_cast<int>(std::count(rest.begin(), rest.end(), '/'));
  return root == "/" && !rest.empty() ? slashes + 1 : slashes;
}

// On a case-insensitive volume a path still resolves after a rename that changed only letter
// case; the name stored in the folder then differs from the path's last component.
bool nameDiffersOnDisk(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
  const std::string name = path.substr(slash + 1);
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
  if (!dir) {
    return false;
  }
  bool caseVariant = false;
  while (const dirent* item = readdir(dir.get())) {
    if (name == item->d_name) {
      return false;
    }
    caseVariant = caseVariant || strcasecmp(name.c_str(), item->d_name) == 0;
  }
  return caseVariant;
}

}  // namespace

bool canListFolder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir != nullptr) {
    closedir(dir);
    return true;
  }
  return errno == ENOENT;
}

struct FileSearchEngine::Waiter {
  std::set<std::string> outstanding;
  std::function<void()> then;
  bool fired = false;

  void fire() {
    if (!fired) {
      fired = true;
      then();
    }
  }
};

FileSearchEngine::FileSearchEngine(OnRemoved onRemoved, CanRead canRead, LogSink log)
    : onRemoved_(std::move(onRemoved)), canRead_(std::move(canRead)), log_(std::move(log)) {}

FileSearchEngine::~FileSearchEngine() {
  stopping_ = true;
  queue_.sync([this] { watcher_.reset(); });
}

// --- Access to protected folders --------------------------------------------------------------

std::optional<FileSearchEngine::Access> FileSearchEngine::access(const std::string& folder) {
  return queue_.sync([&]() -> std::optional<Access> {
    const auto found = access_.find(folder);
    return found == access_.end() ? std::nullopt : std::optional(found->second);
  });
}

void FileSearchEngine::ask(const std::vector<std::string>& folders, std::chrono::milliseconds wait,
                           std::function<void()> then) {
  auto waiter = std::make_shared<Waiter>();
  waiter->then = std::move(then);
  for (const std::string& folder : folders) {
    const auto known = access_.find(folder);
    if (known != access_.end() && known->second != Access::refused) {
      continue;  // asking or allowed: left alone
    }
    access_[folder] = Access::asking;
    waiter->outstanding.insert(folder);
    accessQueue_.async([this, folder] {
      if (stopping_) {
        return;
      }
      const bool allowed = canRead_(folder);
      queue_.async([this, folder, allowed] {
        if (!stopping_) {
          answered(folder, allowed);
        }
      });
    });
  }
  if (waiter->outstanding.empty()) {
    waiter->fire();
    return;
  }
  waiters_.push_back(waiter);
  queue_.asyncAfter(wait, [this, waiter] {
    if (!stopping_) {
      waiter->fire();
      std::erase(waiters_, waiter);
    }
  });
}

void FileSearchEngine::answered(const std::string& folder, bool allowed) {
  access_[folder] = allowed ? Access::allowed : Access::refused;
  for (const auto& waiter : std::vector(waiters_)) {
    waiter->outstanding.erase(folder);
    if (waiter->outstanding.empty()) {
      waiter->fire();
      std::erase(waiters_, waiter);
    }
  }
  if (allowed && deferred_.erase(folder) > 0 && requested_) {
    (void)rebuild(*requested_);
  }
}

void FileSearchEngine::recheckRefused() {
  queue_.async([this] {
    if (stopping_) {
      return;
    }
    std::vector<std::string> refused;
    for (const auto& [folder, answer] : access_) {
      if (answer == Access::refused) {
        refused.push_back(folder);
      }
    }
    ask(refused, std::chrono::milliseconds(0), [] {});
  });
}

// --- Rebuilds ---------------------------------------------------------------------------------

std::future<void> FileSearchEngine::rebuild(FileRules rules) {
  auto done = std::make_shared<std::promise<void>>();
  auto ready = done->get_future();
  const uint64_t g = ++rebuilds_;
  queue_.async([this, g, rules = std::move(rules), done]() mutable {
    if (stopping_ || !isNewest(g)) {
      return done->set_value();
    }
    const std::vector<std::string> folders = rules.protectedFolders();
    ask(folders, kAccessWait,
        [this, g, rules = std::move(rules), done] { settleAccess(g, rules, done); });
  });
  return ready;
}

void FileSearchEngine::settleAccess(uint64_t g, FileRules rules, const Done& done) {
  if (stopping_ || !isNewest(g)) {
    return done->set_value();
  }
  std::set<std::string> deferred;
  for (const std::string& folder : rules.protectedFolders()) {
    if (!isAllowed(folder)) {
      deferred.insert(folder);
    }
  }
  FileRules effective = rules.deferring(deferred);
  background_.async([this, g, rules = std::move(rules), effective = std::move(effective),
                     deferred = std::move(deferred), done]() mutable {
    if (stopping_ || !isNewest(g)) {
      return done->set_value();
    }
    // The watcher is set up before the scan starts, so no change between the two is missed.
    // Boxed: work items must be copyable.
    auto watcher = std::make_shared<std::unique_ptr<DirectoryWatcher>>(makeWatcher(g, effective));
    queue_.async([this, g, rules = std::move(rules), effective = std::move(effective),
                  deferred = std::move(deferred), watcher, done]() mutable {
      install(g, std::move(rules), std::move(effective), std::move(deferred), std::move(*watcher),
              done);
    });
  });
}

std::unique_ptr<DirectoryWatcher> FileSearchEngine::makeWatcher(uint64_t g,
                                                                const FileRules& effective) {
  DirectoryWatcher::Options options;
  options.log = log_;
  // Only folders whose contents the index holds are worth a watch.
  options.watchFolder = [effective](std::string_view path) {
    const int r = effective.rootOf(path);
    if (r < 0) {
      return false;
    }
    const std::string& root = effective.roots[static_cast<size_t>(r)];
    const std::string_view name = lastComponent(path);
    return path == root || (levelsBelow(path, root) < effective.maxDepth &&
                            !effective.ignoreInRoots[static_cast<size_t>(r)].ignores(name, path) &&
                            !FileScanner::isPackage(path));
  };
  return DirectoryWatcher::create(
      effective.roots, FileScanner::watchExclusions(effective, kWatchExclusions), true,
      kWatchLatency, queue_,
      [this, g](std::vector<Event> events) { onEvents(g, std::move(events)); }, options);
}

void FileSearchEngine::install(uint64_t g, FileRules requested, FileRules effective,
                               std::set<std::string> deferred,
                               std::unique_ptr<DirectoryWatcher> watcher, const Done& done) {
  if (stopping_ || !isNewest(g)) {
    return done->set_value();
  }
  // A folder allowed while this rebuild was on its way would otherwise stay out until the
  // next change of rules: start over with it instead.
  const bool allowedSince =
      std::any_of(deferred.begin(), deferred.end(), [&](const auto& f) { return isAllowed(f); });
  requested_ = std::move(requested);
  if (allowedSince) {
    (void)rebuild(*requested_);
    return done->set_value();
  }
  rules_ = effective;
  deferred_ = std::move(deferred);
  pendingEvents_.emplace();
  watcher_ = std::move(watcher);
  watcherGeneration_ = g;
  background_.async([this, g, effective = std::move(effective), done] {
    if (stopping_ || !isNewest(g)) {
      return done->set_value();
    }
    FileIndex fresh;
    FileScanner::scan(effective, fresh);
    fresh.trim();
    if (hooks_.afterScan) {
      hooks_.afterScan();
    }
    queue_.async(
        [this, g, fresh = std::move(fresh), done]() mutable { finish(g, std::move(fresh), done); });
  });
}

void FileSearchEngine::finish(uint64_t g, FileIndex index, const Done& done) {
  if (stopping_ || !isNewest(g)) {
    return done->set_value();
  }
  index_ = std::move(index);
  index_.setBoosts(boosts_);
  const std::vector<Event> held = std::move(*pendingEvents_);
  pendingEvents_.reset();
  apply(held);
  if (onApplied_) {
    onApplied_();
  }
  done->set_value();
}

void FileSearchEngine::setOnChange(OnChange onChange) {
  queue_.sync([&] { onChange_ = std::move(onChange); });
}

void FileSearchEngine::setOnApplied(std::function<void()> onApplied) {
  queue_.sync([&] { onApplied_ = std::move(onApplied); });
}

void FileSearchEngine::onEvents(uint64_t g, std::vector<Event> events) {
  if (stopping_ || g != watcherGeneration_) {
    return;  // a watcher not yet installed: the scan that follows will see these changes
  }
  if (pendingEvents_) {
    pendingEvents_->insert(pendingEvents_->end(), std::make_move_iterator(events.begin()),
                           std::make_move_iterator(events.end()));
    if (hooks_.eventsHeld) {
      hooks_.eventsHeld();
    }
    return;
  }
  apply(events);
  if (onApplied_) {
    onApplied_();
  }
}

// --- Searches ---------------------------------------------------------------------------------

std::future<FileSearchEngine::Hits> FileSearchEngine::search(std::string query, int limit,
                                                             int64_t generation) {
  latestSearch_ = generation;
  auto result = std::make_shared<std::promise<Hits>>();
  auto ready = result->get_future();
  queue_.async([this, query = std::move(query), limit, generation, result] {
    if (stopping_ || generation != latestSearch_.load()) {
      return result->set_value(std::nullopt);
    }
    result->set_value(index_.search(query, limit));
  });
  return ready;
}

void FileSearchEngine::setBoosts(FileBoosts boosts) {
  queue_.async([this, boosts = std::move(boosts)]() mutable {
    boosts_ = std::move(boosts);
    index_.setBoosts(boosts_);
  });
}

std::future<size_t> FileSearchEngine::count() {
  auto result = std::make_shared<std::promise<size_t>>();
  auto ready = result->get_future();
  queue_.async([this, result] { result->set_value(index_.count()); });
  return ready;
}

// --- Events -----------------------------------------------------------------------------------

void FileSearchEngine::apply(const std::vector<Event>& events) {
  if (!rules_) {
    return;
  }
  std::vector<std::string> removed;
  bool fullRebuild = false;
  for (const Event& event : events) {
    std::string path = event.path;
    while (path.size() > 1 && path.back() == '/') {
      path.pop_back();
    }
    const bool atOrAboveRoot =
        std::any_of(rules_->roots.begin(), rules_->roots.end(),
                    [&](const auto& root) { return isAtOrBelow(root, path); });
    if (atOrAboveRoot) {
      fullRebuild = fullRebuild || event.mustRescan() || event.isAddedRemovedOrMoved();
      continue;
    }
    const bool walked = update(path, event.isAddedRemovedOrMoved(), removed);
    if (event.mustRescan() && !walked) {
      const auto entry = index_.entry(path);
      if (entry && (index_.flags(*entry) & FileIndex::kFolder) != 0) {
        index_.removeDescendants(path);
        FileScanner::scan(path, *rules_, index_);
        report("rescanned", path);
      }
    }
  }
  if (!removed.empty() && onRemoved_) {
    onRemoved_(removed);
  }
  if (fullRebuild && requested_) {
    report("rebuild", requested_->roots.empty() ? std::string() : requested_->roots.front());
    (void)rebuild(*requested_);
  }
}

bool FileSearchEngine::update(const std::string& path, bool moved,
                              std::vector<std::string>& removed) {
  const auto entry = index_.entry(path);
  const bool indexed = entry && (index_.flags(*entry) & FileIndex::kRoot) == 0;
  if (!indexed) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || !index_.entry(slash == 0 ? "/" : path.substr(0, slash))) {
      return false;
    }
  }
  struct stat status {};
  const bool exists = lstat(path.c_str(), &status) == 0;
  const bool missing = !exists || (indexed && moved && nameDiffersOnDisk(path));
  const std::string_view name = lastComponent(path);
  if (!missing && !rules_->ignoreAt(path).ignores(name, path)) {
    const bool isFolder = S_ISDIR(status.st_mode) && !FileScanner::isPackage(path);
    if (indexed) {
      if (((index_.flags(*entry) & FileIndex::kFolder) != 0) == isFolder) {
        return false;
      }
      index_.remove(path);
    }
    if (!index_.insert(path, isFolder, rules_->maxDepth)) {
      return false;
    }
    report(indexed ? "replaced" : "added", path);
    if (isFolder) {
      FileScanner::scan(path, *rules_, index_);
      return true;
    }
    return false;
  }
  if (indexed) {
    index_.remove(path);
    removed.push_back(path);
    report("removed", path);
  }
  return false;
}

}  // namespace vesk
