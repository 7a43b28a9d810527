#include "app/config/config_store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "core/base/regular_file.h"
#include "core/base/utf8.h"
#include "core/base/xdg_folders.h"
#include "platform/app_catalog.h"

namespace vesk {

namespace {

namespace fs = std::filesystem;

std::string resolvedPath(const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::weakly_canonical(path, error);
  return error ? path : canonical.string();
}

}  // namespace

std::string ConfigStore::defaultFile() {
  return XDGFolders().configHome() + "/vesk/config.toml";
}

ConfigStore::ConfigStore(Executor& executor, std::string file,
                         std::shared_ptr<const AppCatalog> catalog)
    : executor_(executor),
      file_(std::move(file)),
      catalog_(std::move(catalog)),
      self_(std::make_shared<ConfigStore*>(this)),
      events_("launcher.config.watch") {}

ConfigStore::~ConfigStore() {
  *self_ = nullptr;
  watcher_.reset();
}

bool ConfigStore::createIfMissing(const std::string& file) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(file, error))) {
    return false;
  }
  fs::create_directories(fs::path(file).parent_path(), error);
  if (error) {
    Log::app.error("Couldn't create config.toml: %s", error.message().c_str());
    return false;
  }
  // O_EXCL: never overwrite a file that appeared meanwhile.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno != EEXIST) {
      Log::app.error("Couldn't create config.toml: %s", std::strerror(errno));
    }
    return false;
  }
  const std::string_view text = Config::templateText();
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      Log::app.error("Couldn't create config.toml: %s", std::strerror(errno));
      break;
    }
    written += static_cast<size_t>(n);
  }
  ::close(fd);
  if (written != text.size()) {
    ::unlink(file.c_str());  // a cut default file would be read as the user's own
    return false;
  }
  return true;
}

ConfigStore::Loaded ConfigStore::read(const std::string& file,
                                      const std::optional<Config>& previous) {
  Loaded loaded;
  const RegularFile read = RegularFile::read(file, maxFileBytes);
  switch (read.problem) {
    case RegularFile::Problem::none:
      // The settings name programs to run: a file someone else may write would let them run
      // theirs as this user.
      if (!read.isTrusted()) {
        loaded.parsed = Config::unchanged((read.owner != ::geteuid() && read.owner != 0)
                                              ? "config.toml belongs to another user"
                                              : "config.toml can be changed by other users",
                                          previous);
        break;
      }
      loaded.parsed = UTF8::isValid(read.bytes)
                          ? Config::parse(read.bytes, previous)
                          : Config::unchanged("config.toml isn't UTF-8 text", previous);
      break;
    case RegularFile::Problem::missing:
      loaded.parsed = Config::unchanged("config.toml is missing", previous);
      break;
    case RegularFile::Problem::notRegular:
      loaded.parsed = Config::unchanged("config.toml isn't a regular file", previous);
      break;
    case RegularFile::Problem::tooLarge:
      loaded.parsed = Config::unchanged("config.toml is larger than 1 MiB", previous);
      break;
    case RegularFile::Problem::unreadable:
      loaded.parsed = Config::unchanged("config.toml can't be read", previous);
      break;
  }
  // The file may be a link into another folder: watch both folders, for both names.
  const std::string resolved = resolvedPath(file);
  std::set<std::string> folders = {resolvedPath(fs::path(file).parent_path().string()),
                                   resolvedPath(fs::path(resolved).parent_path().string())};
  loaded.folders.assign(folders.begin(), folders.end());
  loaded.names = {fs::path(file).filename().string(), fs::path(resolved).filename().string()};
  return loaded;
}

void ConfigStore::start() {
  std::weak_ptr<ConfigStore*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated, [file = file_] { return createIfMissing(file); },
      [weak](bool created) {
        if (const auto self = weak.lock(); self && *self != nullptr) {
          (*self)->createdFile_ = created;
          (*self)->load();
        }
      });
}

void ConfigStore::reload() {
  load();
}

void ConfigStore::load() {
  const int64_t generation = ++generation_;
  std::optional<Config> previous;
  if (hasLoaded_) {
    previous = config_;
  }
  std::weak_ptr<ConfigStore*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated, [file = file_, previous] { return read(file, previous); },
      [weak, generation](Loaded loaded) {
        const auto self = weak.lock();
        if (!self || *self == nullptr || (*self)->generation_ != generation) {
          return;  // A newer load started: its result is the one that counts.
        }
        (*self)->apply(std::move(loaded));
      });
}

void ConfigStore::apply(Loaded loaded) {
  watch(loaded.folders, loaded.names);
  const Config old = config_;
  config_ = std::move(loaded.parsed.config);
  problems_ = std::move(loaded.parsed.problems);
  hasLoaded_ = true;
  for (const std::string& problem : problems_) {
    Log::app.error("config.toml %s", problem.c_str());
  }
  if (onChange) {
    onChange(old);
  }
}

void ConfigStore::watch(const std::vector<std::string>& folders,
                        const std::set<std::string>& names) {
  if (watched_ && watched_->first == folders && watched_->second == names) {
    return;
  }
  watched_.emplace(folders, names);
  watcher_.reset();
  std::weak_ptr<ConfigStore*> weak = self_;
  watcher_ = DirectoryWatcher::create(
      folders, {}, true, watchLatency, events_,
      [&executor = executor_, weak, names](std::vector<DirectoryWatcher::Event> events) {
        const bool ours = std::any_of(events.begin(), events.end(), [&names](const auto& event) {
          return names.contains(fs::path(event.path).filename().string());
        });
        if (!ours) {
          return;
        }
        executor.deliver([weak] {
          if (const auto self = weak.lock(); self && *self != nullptr) {
            (*self)->load();
          }
        });
      },
      DirectoryWatcher::Options{{}, [](std::string_view line) {
                                  Log::app.error("%.*s", static_cast<int>(line.size()),
                                                 line.data());
                                }});
  if (!watcher_) {
    Log::app.error("Couldn't watch config.toml for changes; Reload Config reads it again");
  }
}

void ConfigStore::open() {
  runInBackground(executor_, QoS::userInitiated, [file = file_, catalog = catalog_] {
    createIfMissing(file);
    std::optional<std::string> editor = catalog->defaultAppToOpen(file);
    Result<void> opened =
        editor ? catalog->open({file}, *editor, {}) : catalog->openWithDefault(file, {});
    if (!opened) {
      Log::app.error("Couldn't open config.toml: %s", opened.failure().description.c_str());
    }
  });
}

}  // namespace vesk
