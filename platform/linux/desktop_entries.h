#pragma once
// DesktopEntries: the desktop entries of the application folders, read without ever blocking.
//
// GIO opens an entry with a blocking open and no size limit, and its listing of every
// application (g_app_info_get_all) and its lookup by desktop id do so under a lock that every
// other GIO desktop call takes: one FIFO named "x.desktop" in an application folder would stop
// them all. Here each entry is read through RegularFile (a regular file within the bound, opened
// without blocking) and handed to GIO as bytes; only the folders' listings are read in place.
//
// The folders are fixed at construction: $XDG_DATA_HOME/applications, then each of
// $XDG_DATA_DIRS's. An entry's desktop id is its path below its folder with "/" replaced by
// "-"; an id in an earlier folder hides the same id in later ones. Any thread; stateless after
// construction.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// GIO's type, declared as GIO does, so that users of this header need no GIO headers.
using GDesktopAppInfo = struct _GDesktopAppInfo;

namespace vesk {

class DesktopEntries final {
 public:
  // A larger desktop entry is not an application: real ones, with every translation, stay
  // well under 100 KB.
  static constexpr size_t kMaxEntryBytes = size_t{1} << 20;

  struct Unref {
    void operator()(GDesktopAppInfo* app) const;
  };
  // An entry read from bytes: GIO knows neither its file name nor its desktop id.
  using App = std::unique_ptr<GDesktopAppInfo, Unref>;

  struct Listed {
    std::string id;  // "org.gnome.Terminal.desktop"
    std::string path;
    App app;
  };

  // The folders of the process environment.
  DesktopEntries();
  explicit DesktopEntries(std::vector<std::string> folders);

  // The entry at `path`, or none when it is not a regular file within the bound, is not a valid
  // application entry, or names a TryExec program that is not installed.
  static App read(const std::string& path);

  // Every application entry of the folders that GIO accepts, first folder first.
  std::vector<Listed> all() const;
  // The path of the entry with this desktop id (with ".desktop"), or none.
  std::optional<std::string> pathForId(const std::string& id) const;

  const std::vector<std::string>& folders() const { return folders_; }

 private:
  std::vector<std::string> folders_;
};

}  // namespace vesk
