#include "app/apps/history_store.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "app/shell/log.h"
#include "app/shell/run_in_background.h"
#include "core/base/atomic_file.h"
#include "core/base/xdg_folders.h"

namespace vesk {

namespace {

// The file's text, or none when it can't be read (missing or unreadable: a silent fresh start).
std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    return std::nullopt;
  }
  return text.str();
}

// The mode history.json has always had (what the umask usually leaves of 0666).
constexpr mode_t kHistoryMode = 0644;

Result<void> writeHistory(const std::string& path, const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
  if (error) {
    return Failure{error.message()};
  }
  return AtomicFile::write(path, text, kHistoryMode);
}

}  // namespace

std::string HistoryStore::defaultFile() {
  return XDGFolders().dataHome() + "/vesk/history.json";
}

HistoryStore::HistoryStore(std::string file)
    : file_(std::move(file)),
      self_(std::make_shared<HistoryStore*>(this)),
      writer_("launcher.history") {}

HistoryStore::~HistoryStore() {
  *self_ = nullptr;
}

void HistoryStore::load(std::function<void()> done) {
  loading_ = true;
  std::weak_ptr<HistoryStore*> weak = self_;
  runInBackground(
      QoS::userInitiated,
      [file = file_] {
        const std::optional<std::string> text = readFile(file);
        if (!text) {
          return History();
        }
        Result<History> decoded = History::fromJSON(*text);
        if (!decoded) {
          Log::app.error("Couldn't read the history, starting over: %s",
                         decoded.failure().description.c_str());
          return History();
        }
        return decoded.value().droppingDeadFiles();
      },
      [weak, done = std::move(done)](History loaded) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        HistoryStore& store = **self;
        store.history_ = std::move(loaded);
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
  writer_.async([file = file_, json = history_.toJSON()] {
    const Result<void> written = writeHistory(file, json);
    if (!written) {
      Log::app.error("Couldn't save the history: %s", written.failure().description.c_str());
    }
  });
}

}  // namespace vesk
