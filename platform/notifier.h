#pragma once
// Notifier: tells the user about the outcome of what they asked for once the panel is gone: an
// update, a failure, a clip saved as a file, and zip archives (the notifier makes the archive and
// posts its outcome).
//
// Threads: main thread; implementations do not block it.

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
};

}  // namespace vesk
