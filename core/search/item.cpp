#include "core/search/item.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vesk {

namespace {

constexpr std::string_view kFilePrefix = "file:";
constexpr std::string_view kFolderPrefix = "folder:";
constexpr std::string_view kCommandPrefix = "command:";

struct CommandInfo {
  std::string_view rawValue;
  std::string_view title;
};

// Indexed by the command's value; same order as `kAllCommands`.
constexpr std::array<CommandInfo, kAllCommands.size()> kCommandInfo = {{
    {"clipboard", "Clipboard History"},
    {"pause-clipboard", "Pause Clipboard Recording"},
    {"resume-clipboard", "Resume Clipboard Recording"},
    {"clear-clipboard", "Clear Clipboard History"},
    {"install-update", "Update Vesk"},
    {"check-for-updates", "Check for Updates"},
    {"open-config", "Open Config"},
    {"reload-config", "Reload Config"},
    {"quit", "Quit Vesk"},
}};

constexpr std::array<std::string_view, 1> kClipboardAliases = {"c"};

const CommandInfo& info(Command command) {
  return kCommandInfo.at(static_cast<size_t>(command));
}

// The same mixing step as boost::hash_combine, widened to 64 bits.
void combine(size_t& seed, size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

}  // namespace

std::string_view rawValue(Command command) {
  return info(command).rawValue;
}

std::string_view title(Command command) {
  return info(command).title;
}

std::span<const std::string_view> aliases(Command command) {
  if (command == Command::clipboard) {
    return kClipboardAliases;
  }
  return {};
}

std::optional<Command> commandFromRawValue(std::string_view raw) {
  for (Command command : kAllCommands) {
    if (rawValue(command) == raw) {
      return command;
    }
  }
  return std::nullopt;
}

bool Item::Kind::operator==(const Kind& other) const {
  if (tag != other.tag) {
    return false;
  }
  return tag == Tag::command ? command == other.command
                             : url == other.url && action == other.action;
}

Item Item::app(std::string name, std::string_view path, std::optional<std::string> id) {
  std::string url = ItemPath::normalized(path);
  std::string itemID = id ? std::move(*id) : url;
  return Item{Kind::app(std::move(url)), std::move(name), std::move(itemID)};
}

Item Item::appAction(const Item& app, std::string_view actionId, std::string_view actionName) {
  Item action = app;
  action.kind.action = actionId;
  action.name += ": ";
  action.name += actionName;
  action.id += '#';
  action.id += actionId;
  return action;
}

Item Item::file(std::string_view path, bool isFolder) {
  std::string url = ItemPath::normalized(path);
  std::string name(ItemPath::lastComponent(url));
  std::string id(isFolder ? kFolderPrefix : kFilePrefix);
  id += path;
  return Item{isFolder ? Kind::folder(std::move(url)) : Kind::file(std::move(url)), std::move(name),
              std::move(id)};
}

std::optional<Item> Item::fromFileID(std::string_view id) {
  bool isFolder = false;
  std::string_view path;
  if (id.starts_with(kFilePrefix)) {
    path = id.substr(kFilePrefix.size());
  } else if (id.starts_with(kFolderPrefix)) {
    path = id.substr(kFolderPrefix.size());
    isFolder = true;
  } else {
    return std::nullopt;
  }
  std::string url = ItemPath::normalized(path);
  if (url.empty()) {
    return std::nullopt;  // "file:" names no file (a damaged history.json holds such ids)
  }
  std::string name(ItemPath::lastComponent(url));
  return Item{isFolder ? Kind::folder(std::move(url)) : Kind::file(std::move(url)), std::move(name),
              std::string(id)};
}

Item Item::command(Command command) {
  std::string id(kCommandPrefix);
  id += rawValue(command);
  return Item{Kind::forCommand(command), std::string(title(command)), std::move(id)};
}

std::optional<std::string> Item::url() const {
  if (kind.tag == Kind::Tag::command) {
    return std::nullopt;
  }
  return kind.url;
}

namespace ItemPath {

std::string normalized(std::string_view path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') {
    --end;
  }
  return std::string(path.substr(0, end));
}

std::string_view lastComponent(std::string_view normalizedPath) {
  if (normalizedPath == "/") {
    return normalizedPath;
  }
  size_t slash = normalizedPath.rfind('/');
  return slash == std::string_view::npos ? normalizedPath : normalizedPath.substr(slash + 1);
}

std::string_view deletingExtension(std::string_view fileName) {
  size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == fileName.size()) {
    return fileName;
  }
  return fileName.substr(0, dot);
}

}  // namespace ItemPath

}  // namespace vesk

size_t std::hash<vesk::Item::Kind>::operator()(const vesk::Item::Kind& kind) const noexcept {
  size_t seed = std::hash<uint8_t>{}(static_cast<uint8_t>(kind.tag));
  if (kind.tag == vesk::Item::Kind::Tag::command) {
    vesk::combine(seed, std::hash<uint8_t>{}(static_cast<uint8_t>(kind.command)));
  } else {
    vesk::combine(seed, std::hash<std::string>{}(kind.url));
    vesk::combine(seed, std::hash<std::string>{}(kind.action));
  }
  return seed;
}

size_t std::hash<vesk::Item>::operator()(const vesk::Item& item) const noexcept {
  size_t seed = std::hash<vesk::Item::Kind>{}(item.kind);
  vesk::combine(seed, std::hash<std::string>{}(item.name));
  vesk::combine(seed, std::hash<std::string>{}(item.id));
  return seed;
}
