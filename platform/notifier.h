#pragma once
// Notifier: tells the user about the outcome of what they asked for once the panel is gone: an
// update, a failure, a clip saved as a file, and zip archives (the notifier makes the archive and
// posts its outcome); and, at start, about Vesk itself where the panel may be out of reach (the
// keys that open it, a hot key it couldn't take).
//
// Threads: main thread; implementations do not block it.

#include <functional>
#include <optional>
#include <string>

namespace vesk {

class Notifier {
 public:
  virtual ~Notifier() = default;

  // The outcome of an update check or install, with no file.
  virtual void update(const std::string& title, const std::string& body) = 0;
  // "Couldn't …" with the file it is about, if any, and the reason.
  virtual void failed(const std::string& title, const std::optional<std::string>& path,
                      const std::string& reason) = 0;
  // A clip was saved at `path`.
  virtual void saved(const std::string& path) = 0;
  // Zips the file or folder at `path` beside it and tells the user how it went.
  virtual void zip(const std::string& path) = 0;
  // A notice about Vesk itself. Clicking it runs `onClick` on the main thread (`action` is its
  // label where the service shows the click as a button); an empty `onClick` offers no click.
  virtual void notice(const std::string& title, const std::string& body, const std::string& action,
                      std::function<void()> onClick) = 0;
};

}  // namespace vesk
