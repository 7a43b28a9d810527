#include "app/apps/history_store.h"

#include <filesystem>
#include <utility>

#include <sys/stat.h>

#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "core/base/atomic_file.h"
#include "core/base/regular_file.h"
#include "core/base/xdg_folders.h"

namespace vesk {

namespace {

// The history names the files the user opened: its folder is 0700 and the file 0600, whatever
// the umask. A folder found wider is narrowed, and that is logged.
Result<void> writeHistory(const std::string& path, const std::string& text) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  std::error_code error;
  const bool existed = std::filesystem::exists(folder, error);
  std::filesystem::create_directories(folder, error);
  if (error) {
    return Failure{error.message()};
  }
  struct stat status {};
  if (::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
      (status.st_mode & 077) != 0 && ::chmod(folder.c_str(), status.st_mode & 0700) == 0 &&
      existed) {
    Log::app.info("%s was open to other users; only you can read it now", folder.c_str());
  }
  return AtomicFile::write(path, text, 0600);
}

}  // namespace

std::string HistoryStore::defaultFile() {
  return XDGFolders().dataHome() + "/vesk/history.json";
}

HistoryStore::HistoryStore(Executor& executor, std::string file)
    : executor_(executor),
      file_(std::move(file)),
      self_(std::make_shared<HistoryStore*>(this)),
      writer_("launcher.history") {}

HistoryStore::~HistoryStore() {
  *self_ = nullptr;
}

void HistoryStore::load(std::function<void()> done) {
  loading_ = true;
  std::weak_ptr<HistoryStore*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated,
      [file = file_] {
        Loaded loaded;
        const RegularFile read = RegularFile::read(file, kMaxFileBytes);
        switch (read.problem) {
          case RegularFile::Problem::none:
            break;
          case RegularFile::Problem::tooLarge:
            Log::app.error(
                "history.json is larger than 8 MiB, so it is left as it is and launches are "
                "remembered only until Vesk quits");
            loaded.keepFile = true;
            return loaded;
          case RegularFile::Problem::notRegular:
            Log::app.error(
                "history.json isn't a regular file, so it is left as it is and launches are "
                "remembered only until Vesk quits");
            loaded.keepFile = true;
            return loaded;
          case RegularFile::Problem::missing:
          case RegularFile::Problem::unreadable:
            return loaded;  // A silent fresh start.
        }
        Result<History> decoded = History::fromJSON(read.bytes);
        if (!decoded) {
          Log::app.error("Couldn't read the history, starting over: %s",
                         decoded.failure().description.c_str());
          return loaded;
        }
        loaded.history = decoded.value().droppingDeadFiles();
        return loaded;
      },
      [weak, done = std::move(done)](Loaded loaded) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        HistoryStore& store = **self;
        store.history_ = std::move(loaded.history);
        store.keepFile_ = loaded.keepFile;
        store.loaded_ = true;
        store.loading_ = false;
        const bool replayed = !store.pending_.empty();
        for (const Pending& change : store.pending_) {
          if (!change.id.empty()) {
            store.history_.record(change.id, change.at);
          } else {
            store.history_.forget(change.paths);
          }
        }
        store.pending_.clear();
        if (replayed) {
          store.save();
        }
        if (done) {
          done();
        }
      });
}

void HistoryStore::record(const std::string& id, double at) {
  if (loading_) {
    pending_.push_back(Pending{id, at, {}});
  }
  history_.record(id, at);
  if (!loading_) {
    save();
  }
}

void HistoryStore::forget(const std::unordered_set<std::string>& paths) {
  if (loading_) {
    pending_.push_back(Pending{{}, 0, paths});
  }
  if (history_.forget(paths) && !loading_) {
    save();
  }
}

void HistoryStore::flush() {
  writer_.sync([] {});
}

void HistoryStore::save() {
  if (keepFile_) {
    return;
  }
  writer_.async([file = file_, json = history_.toJSON()] {
    const Result<void> written = writeHistory(file, json);
    if (!written) {
      Log::app.error("Couldn't save the history: %s", written.failure().description.c_str());
    }
  });
}

}  // namespace vesk
