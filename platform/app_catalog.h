#pragma once
// AppCatalog: the desktop's knowledge of installed applications and file types: reading a
// desktop entry, finding one by its desktop id, the type of a file, type conformance, the
// applications able to open a file, and launching or opening through them.
//
// An application is named by the path of its desktop entry (a `*.desktop` file). Types are MIME
// types ("image/png"); the caller maps other type names to them. A media-type wildcard
// ("image/*") is a type too: every type of that media type conforms to it.
//
// Implementations are stateless towards the caller and callable from any thread; nothing here
// builds a command line from its arguments: launching goes through the desktop entry.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/result.h"

namespace vesk {

class AppCatalog {
 public:
  // How an application is started.
  struct LaunchOptions {
    // The X server time of the key press that asked for it (0: unknown). It ends the startup
    // id ("…_TIME<time>"), so that a window manager that prevents focus stealing still gives
    // the new window the focus.
    uint32_t userTime = 0;
    // The folder the application starts in; empty: the entry's own (its Path=) or Vesk's.
    std::string workingDirectory;
    // One of the entry's own actions (the id of its "[Desktop Action id]" group) to run
    // instead of the application itself; empty: the application.
    std::string action;
    // The entry of the terminal an entry with Terminal=true runs in; empty: one the platform
    // finds itself.
    std::string terminal;
  };

  // What a listed application entry says about itself, localized as the desktop reads it.
  struct Entry {
    struct Action {
      std::string id;  // the "[Desktop Action id]" group
      std::string name;
      std::string icon;  // empty: the application's
      bool operator==(const Action&) const = default;
    };
    std::string name;
    std::string genericName;            // "Calculator", "Web Browser"; may be empty
    std::string comment;                // a sentence about it; may be empty
    std::vector<std::string> keywords;  // further words it is known by
    std::vector<Action> actions;        // in the entry's order
    bool operator==(const Entry&) const = default;
  };

  AppCatalog() = default;
  virtual ~AppCatalog() = default;
  AppCatalog(const AppCatalog&) = delete;
  AppCatalog& operator=(const AppCatalog&) = delete;

  // The localized name of the application entry at `path`, or none when the entry is not one
  // Vesk lists: unreadable, not of Type=Application, NoDisplay or Hidden, not to be shown in
  // the current desktop (OnlyShowIn/NotShowIn against XDG_CURRENT_DESKTOP), or with a TryExec
  // program that is not installed.
  virtual std::optional<std::string> listedName(const std::string& path) const = 0;

  // The entry at `path` when `listedName` lists it. By default only its name.
  virtual std::optional<Entry> listedEntry(const std::string& path) const {
    std::optional<std::string> name = listedName(path);
    if (!name) {
      return std::nullopt;
    }
    Entry entry;
    entry.name = std::move(*name);
    return entry;
  }

  // The entry path of the application with this desktop id ("org.gnome.Terminal" or
  // "org.gnome.Terminal.desktop"), or none.
  virtual std::optional<std::string> pathForDesktopId(const std::string& desktopId) const = 0;

  // Whether the type database knows this MIME type (or, for "media/*", this media type).
  virtual bool isKnownType(const std::string& type) const = 0;
  // The type of a file judged by its name; none when it is unknown or generic data.
  virtual std::optional<std::string> typeOfFile(const std::string& path) const = 0;
  // Whether `type` is `other` or a subtype of it.
  virtual bool conforms(const std::string& type, const std::string& other) const = 0;

  // The entry paths of every application able to open the file, the default one first.
  virtual std::vector<std::string> appsToOpen(const std::string& path) const = 0;
  // The entry path of the application that opens the file by default, or none.
  virtual std::optional<std::string> defaultAppToOpen(const std::string& path) const = 0;

  // The desktop's own terminal: Debian's x-terminal-emulator alternative matched to its
  // desktop entry, else the first listed entry in the TerminalEmulator category; none when
  // the system has no terminal.
  virtual std::optional<std::string> systemTerminal() const = 0;
  // Whether the application entry at `path` is in the TerminalEmulator category.
  virtual bool isTerminalEmulator(const std::string& path) const = 0;

  // Starts the application with no files.
  virtual Result<void> launch(const std::string& appPath, const LaunchOptions& options) const = 0;
  // Opens files (absolute paths) or URLs (with a scheme) with the application.
  virtual Result<void> open(const std::vector<std::string>& targets, const std::string& appPath,
                            const LaunchOptions& options) const = 0;
  // Opens a file or URL with its default application.
  virtual Result<void> openWithDefault(const std::string& target,
                                       const LaunchOptions& options) const = 0;
};

}  // namespace vesk
