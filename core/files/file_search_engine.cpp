#include "core/files/file_search_engine.h"

#include <algorithm>

#include "core/files/file_events.h"
#include "core/files/file_scanner.h"
#include "core/search/item.h"

namespace vesk {

namespace {

using Event = DirectoryWatcher::Event;

// Folder levels from `root` down to `path` (0 for the root itself).
int levelsBelow(std::string_view path, std::string_view root) {
  const std::string_view rest = path.substr(std::min(path.size(), root.size()));
  const int slashes = static_cast<int>(std::count(rest.begin(), rest.end(), '/'));
  return root == "/" && !rest.empty() ? slashes + 1 : slashes;
}

}  // namespace

FileSearchEngine::FileSearchEngine(OnRemoved onRemoved, CanRead canRead, LogSink log)
    : onRemoved_(std::move(onRemoved)),
      log_(std::move(log)),
      access_(std::move(canRead), queue_, stopping_) {
  access_.setOnAnswer(
      [this](const std::string& folder, bool allowed) { answered(folder, allowed); });
}

FileSearchEngine::~FileSearchEngine() {
  stopping_ = true;
  queue_.sync([this] { watcher_.reset(); });
}

// --- Access to protected folders --------------------------------------------------------------

std::optional<FileSearchEngine::Access> FileSearchEngine::access(const std::string& folder) {
  return queue_.sync([&] { return access_.answer(folder); });
}

void FileSearchEngine::answered(const std::string& folder, bool allowed) {
  if (allowed && deferred_.erase(folder) > 0 && requested_) {
    (void)rebuild(*requested_);
  }
}

void FileSearchEngine::recheckRefused() {
  queue_.async([this] {
    if (stopping_) {
      return;
    }
    access_.recheckRefused();
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
    access_.ask(folders, kAccessWait,
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
    if (!access_.isAllowed(folder)) {
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
    const std::string_view name = ItemPath::lastComponent(path);
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
  const bool allowedSince = std::any_of(deferred.begin(), deferred.end(),
                                        [&](const auto& f) { return access_.isAllowed(f); });
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
  // A rescan usually finds about what the last one did: room for that and a little more
  // saves the index from regrowing its columns, which is most of its cost at a million entries.
  FileIndex::Capacity expected = index_.capacityUsed();
  expected.entries += expected.entries / 16;
  expected.nameBytes += expected.nameBytes / 16;
  expected.keyBytes += expected.keyBytes / 16;
  background_.async([this, g, effective = std::move(effective), expected, done] {
    if (stopping_ || !isNewest(g)) {
      return done->set_value();
    }
    FileIndex fresh;
    fresh.reserve(expected);
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
  auto result = std::make_shared<std::promise<Hits>>();
  auto ready = result->get_future();
  search(std::move(query), limit, generation,
         [result](Hits hits) { result->set_value(std::move(hits)); });
  return ready;
}

void FileSearchEngine::search(std::string query, int limit, int64_t generation,
                              std::function<void(Hits)> done) {
  latestSearch_ = generation;
  queue_.async([this, query = std::move(query), limit, generation, done = std::move(done)] {
    if (stopping_ || generation != latestSearch_.load()) {
      done(std::nullopt);
      return;
    }
    Hits hits;
    try {
      hits = index_.search(query, limit);
    } catch (const std::exception&) {
      hits.reset();  // out of memory: no file hits rather than no answer at all
    }
    done(std::move(hits));
  });
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
  const FileEvents::Applied applied = FileEvents::apply(
      index_, *rules_, events,
      [this](std::string_view change, const std::string& path) { report(change, path); });
  if (!applied.removed.empty() && onRemoved_) {
    onRemoved_(applied.removed);
  }
  if (applied.needsRebuild && requested_) {
    report("rebuild", requested_->roots.empty() ? std::string() : requested_->roots.front());
    (void)rebuild(*requested_);
  }
}

}  // namespace vesk
