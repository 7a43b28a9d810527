#pragma once
// What the launcher lists and opens: applications, files, folders and its own commands.
//
// `Item` is a plain value. Its `id` is the common key of the launch history, the search index
// and the running applications: an application's id is its bundle path with symbolic links
// resolved (the caller resolves them), a file or folder's is "file:" or "folder:" followed by
// its path, a command's is "command:" followed by its raw value. A "URL" here is an absolute
// UTF-8 path without a trailing "/" (the root stays "/").

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace vesk {

// The built-in commands, in listing order. Their raw values are stable identifiers (they appear
// in item ids and so in the launch history file); their titles are what the launcher shows.
enum class Command : uint8_t {
  clipboard,
  pauseClipboard,
  resumeClipboard,
  clearClipboard,
  installUpdate,
  checkForUpdates,
  openConfig,
  reloadConfig,
  quit,
};

// Every command, in listing order.
inline constexpr std::array<Command, 9> kAllCommands = {
    Command::clipboard,      Command::pauseClipboard, Command::resumeClipboard,
    Command::clearClipboard, Command::installUpdate,  Command::checkForUpdates,
    Command::openConfig,     Command::reloadConfig,   Command::quit,
};

// "clipboard", "pause-clipboard", … Static storage.
std::string_view rawValue(Command command);
// "Clipboard History", "Pause Clipboard Recording", … Static storage.
std::string_view title(Command command);
// The built-in aliases: "c" for `clipboard`, none for the others. The configured clipboard
// alias replaces this default in the search index at run time.
std::span<const std::string_view> aliases(Command command);
// The command with this raw value, or none. Exact, case-sensitive match.
std::optional<Command> commandFromRawValue(std::string_view raw);

struct Item {
  // What the item is, with its location or command. A tagged value: `url` is meaningful for
  // app, file and folder (and empty for a command), `command` only for a command. An app item
  // with an `action` stands for one of the app's own actions (the id of a "[Desktop Action id]"
  // group of its entry) rather than for the app itself.
  struct Kind {
    enum class Tag : uint8_t { app, file, folder, command };

    Tag tag = Tag::app;
    std::string url;
    Command command = Command::clipboard;
    std::string action;

    static Kind app(std::string url) { return {Tag::app, std::move(url), Command::clipboard, {}}; }
    static Kind file(std::string url) {
      return {Tag::file, std::move(url), Command::clipboard, {}};
    }
    static Kind folder(std::string url) {
      return {Tag::folder, std::move(url), Command::clipboard, {}};
    }
    static Kind forCommand(Command c) { return {Tag::command, {}, c, {}}; }

    // Compares the tag and the payload of that tag only (an app's url and action).
    bool operator==(const Kind& other) const;
  };

  Kind kind;
  std::string name;
  std::string id;

  // An application at `path`, shown as `name`. Its id is `id` or, when none is given, the
  // normalised path.
  static Item app(std::string name, std::string_view path,
                  std::optional<std::string> id = std::nullopt);
  // The action `actionId` of the app item `app`, named "App: Action"; its id is the app's id
  // followed by "#" and the action's id.
  static Item appAction(const Item& app, std::string_view actionId, std::string_view actionName);
  // A file or folder: named after the path's last component, id "file:" or "folder:" followed
  // by `path` exactly as given.
  static Item file(std::string_view path, bool isFolder);
  // The inverse of `file`: a file item for "file:PATH", a folder item for "folder:PATH", none
  // for any other id (applications, commands) and for an empty path. `id` is kept as given.
  static std::optional<Item> fromFileID(std::string_view id);
  // `command`'s title as name, "command:" + raw value as id.
  static Item command(Command command);

  // The location of an app, file or folder; none for a command.
  std::optional<std::string> url() const;
  bool isApp() const { return kind.tag == Kind::Tag::app; }
  // An app's own action (see `Kind::action`).
  bool isAppAction() const { return isApp() && !kind.action.empty(); }

  bool operator==(const Item&) const = default;
};

// Path helpers shared by the item constructors and the search index.
namespace ItemPath {
// `path` without trailing "/" characters; "/" (or only slashes) stays "/".
std::string normalized(std::string_view path);
// The last component of a normalised path: "Projects" for "/Users/me/Projects", "/" for "/".
std::string_view lastComponent(std::string_view normalizedPath);
// A file name without its extension: "Code" for "Code.app", "archive.tar" for
// "archive.tar.gz"; a leading dot (".zshrc") or a trailing dot ("notes.") is no extension.
std::string_view deletingExtension(std::string_view fileName);
}  // namespace ItemPath

}  // namespace vesk

template <>
struct std::hash<vesk::Item::Kind> {
  size_t operator()(const vesk::Item::Kind& kind) const noexcept;
};

template <>
struct std::hash<vesk::Item> {
  // Combines the kind, the name and the id, in this order.
  size_t operator()(const vesk::Item& item) const noexcept;
};
