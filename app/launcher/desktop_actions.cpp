#include "app/launcher/desktop_actions.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#include "app/apps/app_resolver.h"
#include "app/base/run_in_background.h"
#include "app/clipboard/clip_text.h"
#include "core/base/utf8.h"
#include "core/clipboard/clip_reading.h"
#include "core/clipboard/clipboard_store.h"
#include "platform/app_catalog.h"
#include "platform/file_manager.h"
#include "platform/pasteboard_writer.h"

namespace vesk {

namespace {

constexpr std::string_view kFileUrlType = "public.file-url";
constexpr std::string_view kUriListType = "text/uri-list";

std::string nameOf(const std::string& path) {
  return std::string(ItemPath::lastComponent(ItemPath::normalized(path)));
}

std::string stemOf(const std::string& path) {
  return std::string(ItemPath::deletingExtension(nameOf(path)));
}

std::string fileURL(const std::string& path) {
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || c == '/' || c == '-' || c == '_' ||
                       c == '.' || c == '~';
    if (plain) {
      url.push_back(c);
    } else {
      url.push_back('%');
      url.push_back(kHex[byte >> 4]);
      url.push_back(kHex[byte & 15]);
    }
  }
  return url;
}

Bytes bytesOf(std::string_view text) {
  return {text.begin(), text.end()};
}

// Creates `path` with `data`, failing when a file of that name exists.
Result<void> writeNew(const std::string& path, const std::string& data) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    return Failure{std::strerror(errno)};  // NOLINT(concurrency-mt-unsafe)
  }
  size_t written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      // A write that takes nothing has no errno of its own: the disk is full.
      const std::string reason =
          std::strerror(n == 0 ? ENOSPC : errno);  // NOLINT(concurrency-mt-unsafe)
      ::close(fd);
      ::unlink(path.c_str());
      return Failure{reason};
    }
    written += static_cast<size_t>(n);
  }
  if (::close(fd) != 0) {
    const std::string reason = std::strerror(errno);  // NOLINT(concurrency-mt-unsafe)
    ::unlink(path.c_str());
    return Failure{reason};
  }
  return {};
}

}  // namespace

DesktopActions::DesktopActions(Executor& executor, DesktopServices services)
    : executor_(executor),
      services_(std::move(services)),
      self_(std::make_shared<DesktopActions*>(this)) {}

std::string DesktopActions::configuredTerminal() const {
  return terminalApp != nullptr && *terminalApp ? **terminalApp : std::string();
}

DesktopActions::~DesktopActions() {
  *self_ = nullptr;
}

void DesktopActions::report(const std::string& title, const std::optional<std::string>& path,
                            const std::string& reason) const {
  if (failed) {
    failed(title, path, reason);
  }
}

// Runs `work` (giving a failure's reason, or none) in the background and reports a failure
// under `title` on the main thread.
template <class Work>
void DesktopActions::reporting(std::string title, std::optional<std::string> path, Work work) {
  runInBackground(executor_, QoS::userInitiated, std::move(work),
                  [weak = std::weak_ptr<DesktopActions*>(self_), title = std::move(title),
                   path = std::move(path)](std::optional<std::string> reason) {
                    const auto self = weak.lock();
                    if (reason && self && *self != nullptr) {
                      (*self)->report(title, path, *reason);
                    }
                  });
}

void DesktopActions::openApp(const Item& app, const std::optional<RunningApp>& running,
                             uint32_t userTime) {
  if (running && services_.workspace && services_.workspace->activate(*running)) {
    return;
  }
  const std::optional<std::string> path = app.url();
  if (!path || !services_.catalog) {
    return;
  }
  reporting(
      "Couldn't open " + app.name, std::optional<std::string>(),
      ([catalog = services_.catalog, entry = *path, userTime, action = app.kind.action,
        terminal = configuredTerminal()]() -> std::optional<std::string> {
        const Result<void> launched = catalog->launch(entry, {userTime, {}, action, terminal});
        return launched ? std::nullopt : std::optional(launched.failure().description);
      }));
}

void DesktopActions::open(const std::vector<std::string>& targets,
                          const std::optional<std::string>& app, uint32_t userTime) {
  if (targets.empty() || !services_.catalog) {
    return;
  }
  std::weak_ptr<DesktopActions*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated,
      [catalog = services_.catalog, targets, app, userTime,
       terminal = configuredTerminal()]() -> std::optional<std::pair<std::string, std::string>> {
        const AppCatalog::LaunchOptions options{userTime, {}, {}, terminal};
        if (app) {
          const Result<void> opened = catalog->open(targets, *app, options);
          if (opened) {
            return std::nullopt;
          }
          const std::string appName = catalog->listedName(*app).value_or(stemOf(*app));
          return std::pair("Couldn't open " + nameOf(targets.front()) + " in " + appName,
                           opened.failure().description);
        }
        for (const std::string& target : targets) {
          const Result<void> opened = catalog->openWithDefault(target, options);
          if (!opened) {
            return std::pair("Couldn't open " + nameOf(target), opened.failure().description);
          }
        }
        return std::nullopt;
      },
      [weak, path = targets.front()](std::optional<std::pair<std::string, std::string>> failure) {
        const auto self = weak.lock();
        if (failure && self && *self != nullptr) {
          (*self)->report(failure->first, path, failure->second);
        }
      });
}

void DesktopActions::openFile(const std::string& path,
                              const std::map<std::string, std::string>& openWith,
                              uint32_t userTime) {
  if (!services_.catalog) {
    return;
  }
  std::weak_ptr<DesktopActions*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated,
      [catalog = services_.catalog, path, openWith] {
        return AppResolver::app(path, openWith, *catalog);
      },
      [weak, path, userTime](const std::optional<std::string>& app) {
        if (const auto self = weak.lock(); self && *self != nullptr) {
          (*self)->open({path}, app, userTime);
        }
      });
}

void DesktopActions::openInTerminal(const std::string& folder,
                                    const std::optional<std::string>& terminal, uint32_t userTime) {
  if (!terminal) {
    report("Couldn't open " + nameOf(folder) + " in the terminal", folder,
           "No terminal app is set up (actions.terminal)");
    return;
  }
  if (!services_.catalog) {
    return;
  }
  // No folder argument: terminals do not agree on one, but all start in their working folder.
  reporting("Couldn't open " + nameOf(folder) + " in " + stemOf(*terminal),
            std::optional<std::string>(folder),
            ([catalog = services_.catalog, app = *terminal, folder,
              userTime]() -> std::optional<std::string> {
              const Result<void> launched = catalog->launch(app, {userTime, folder, {}, {}});
              return launched ? std::nullopt : std::optional(launched.failure().description);
            }));
}

void DesktopActions::reveal(const std::vector<std::string>& paths) {
  if (paths.empty() || !services_.fileManager) {
    return;
  }
  reporting("Couldn't reveal " + nameOf(paths.front()), std::optional<std::string>(paths.front()),
            ([manager = services_.fileManager, paths]() -> std::optional<std::string> {
              const Result<void> shown = manager->reveal(paths);
              return shown ? std::nullopt : std::optional(shown.failure().description);
            }));
}

void DesktopActions::revealExisting(const std::vector<std::string>& paths) {
  if (paths.empty()) {
    return;
  }
  std::weak_ptr<DesktopActions*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated,
      [paths] {
        std::vector<std::string> existing;
        for (const std::string& path : paths) {
          std::error_code error;
          if (std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
            existing.push_back(path);
          }
        }
        return existing;
      },
      [weak, first = paths.front()](const std::vector<std::string>& existing) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        if (existing.empty()) {
          (*self)->report("Couldn't reveal " + nameOf(first), std::nullopt,
                          "It was moved or deleted since it was copied");
          return;
        }
        (*self)->reveal(existing);
      });
}

void DesktopActions::copyPath(const std::string& path) {
  if (!services_.writer) {
    return;
  }
  reporting(
      "Couldn't copy the path of " + nameOf(path), std::optional<std::string>(path),
      ([writer = services_.writer, path]() -> std::optional<std::string> {
        // A name that isn't UTF-8 is no text: it goes out as its file URL, whose escapes keep
        // every byte, and never as UTF-8 text that would lie about it.
        const ClipItems items{
            {UTF8::isValid(path)
                 ? Representation{std::string(ClipReading::utf8Text), bytesOf(path)}
                 : Representation{std::string(kUriListType), bytesOf(fileURL(path) + "\r\n")}}};
        const auto written = writer->write(items);
        return written ? std::nullopt : std::optional(written.failure().description);
      }));
}

void DesktopActions::copyItem(const std::string& path) {
  if (!services_.writer) {
    return;
  }
  // The file's URL (offered as a URI list and as the file managers' copied files) and its
  // path as text, so that it pastes as a file in file managers and as a path in editors.
  reporting(
      "Couldn't copy " + nameOf(path), std::optional<std::string>(path),
      ([writer = services_.writer, path]() -> std::optional<std::string> {
        const ClipItems items{{Representation{std::string(kFileUrlType), bytesOf(fileURL(path))},
                               Representation{std::string(ClipReading::utf8Text), bytesOf(path)}}};
        const auto written = writer->write(items);
        return written ? std::nullopt : std::optional(written.failure().description);
      }));
}

void DesktopActions::trash(const Item& item, std::function<void()> trashed) {
  const std::optional<std::string> path = item.url();
  if (!path || !services_.fileManager) {
    return;
  }
  std::weak_ptr<DesktopActions*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated,
      [manager = services_.fileManager, path = *path] { return manager->trash(path); },
      [weak, path = *path, name = item.name,
       trashed = std::move(trashed)](const Result<void>& done) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        if (!done) {
          (*self)->report("Couldn't move " + name + " to the Trash", path,
                          done.failure().description);
        } else if (trashed) {
          trashed();
        }
      });
}

void DesktopActions::quit(const RunningApp& app, bool force) {
  if (!services_.workspace) {
    return;
  }
  if (force) {
    if (services_.workspace->forceQuit(app) == Workspace::ForceQuit::windowsClosed) {
      report("Closed the windows of " + app.name, std::nullopt,
             "Its process wasn't stopped: it runs other windows too, or it can't be told apart.");
    }
  } else {
    services_.workspace->quit(app);
  }
}

void DesktopActions::save(const Clip& clip, std::shared_ptr<ClipboardStore> store,
                          const std::string& folder, double now,
                          std::function<void(const std::string&)> saved) {
  // Where the clip went or would have gone, and why it didn't: every failure names the file.
  struct Saved {
    std::string path;
    std::optional<std::string> failure;
  };
  std::weak_ptr<DesktopActions*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated,
      [clip, store = std::move(store), folder, now]() -> Saved {
        std::string data;
        std::string extension = "txt";
        if (clip.kind == Clip::Kind::image) {
          extension = "png";
          const std::string image = store->imageFile(clip.id);
          std::ifstream in(image, std::ios::binary);
          if (!in) {
            return {image, "the image is no longer in the history"};
          }
          data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } else {
          auto text = store->text(clip.id);
          if (!text) {
            return {{}, text.failure().description};
          }
          data = std::move(text).value();
        }
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        std::string path = ClipFiles::destination(folder, now, extension);
        const Result<void> written = writeNew(path, data);
        if (!written) {
          std::string failure = "Couldn't write " + path + ": " + written.failure().description;
          return {std::move(path), std::move(failure)};
        }
        return {std::move(path), std::nullopt};
      },
      [weak, saved = std::move(saved)](const Saved& outcome) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        if (outcome.failure) {
          const std::string name = std::filesystem::path(outcome.path).filename().string();
          (*self)->report(name.empty() ? "Couldn't save the clip" : "Couldn't save " + name,
                          std::nullopt, *outcome.failure);
        } else if (saved) {
          saved(outcome.path);
        }
      });
}

}  // namespace vesk
