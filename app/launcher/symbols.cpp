#include "app/launcher/symbols.h"

#include <QFile>
#include <algorithm>
#include <array>

#include "app/launcher/palette.h"

// Outside any namespace: the resource's initialiser is declared at global scope.
static void initSymbolDrawings() {
  Q_INIT_RESOURCE(symbols);
}

namespace vesk {

namespace {

struct Entry {
  std::string_view name;
  // Freedesktop names, without the "-symbolic" suffix, best first. None where the common
  // themes draw something else under the nearest name (Adwaita's "insert-link" is a chain of
  // its own style, its "process-stop" and "window-close" are one plain cross, and
  // "software-update-available" points up): Vesk's drawing keeps those apart.
  std::array<std::string_view, 2> theme;
};

// Names and their freedesktop counterparts, in the order rows list them.
constexpr std::array<Entry, 26> kEntries = {{
    {"magnifyingglass", {"system-search", "edit-find"}},
    {"doc.on.clipboard", {"edit-paste", ""}},
    {"pause.circle", {"media-playback-pause", ""}},
    {"play.circle", {"media-playback-start", ""}},
    {"trash", {"user-trash", "edit-delete"}},
    {"arrow.down.circle", {"", ""}},
    {"arrow.triangle.2.circlepath", {"emblem-synchronizing", "view-refresh"}},
    {"gearshape", {"emblem-system", "preferences-system"}},
    {"arrow.clockwise", {"view-refresh", ""}},
    {"power", {"system-shutdown", ""}},
    {"arrow.up.forward.app", {"", ""}},
    {"folder", {"folder", ""}},
    {"link", {"", ""}},
    {"square.grid.2x2", {"view-app-grid", "view-grid"}},
    {"terminal", {"utilities-terminal", ""}},
    {"doc.on.doc", {"edit-copy", ""}},
    {"doc.zipper", {"", ""}},
    {"xmark.circle", {"", ""}},
    {"xmark.octagon", {"", ""}},
    {"arrow.down.doc", {"document-import", ""}},
    {"textformat", {"", ""}},
    {"square.and.arrow.down", {"document-save", ""}},
    {"pin", {"", ""}},  // With "pin.slash", which no theme has: the two drawings match.
    {"pin.slash", {"", ""}},
    {"exclamationmark.triangle", {"dialog-warning", ""}},
    {"text.alignleft", {"format-justify-left", ""}},
}};

constexpr std::array<std::string_view, kEntries.size()> kNames = [] {
  std::array<std::string_view, kEntries.size()> names{};
  for (size_t i = 0; i < kEntries.size(); ++i) {
    names[i] = kEntries[i].name;
  }
  return names;
}();

}  // namespace

std::span<const std::string_view> Symbols::all() {
  return kNames;
}

std::string_view Symbols::command(Command command) {
  switch (command) {
    case Command::clipboard:
      return "doc.on.clipboard";
    case Command::pauseClipboard:
      return "pause.circle";
    case Command::resumeClipboard:
      return "play.circle";
    case Command::clearClipboard:
      return "trash";
    case Command::installUpdate:
      return "arrow.down.circle";
    case Command::checkForUpdates:
      return "arrow.triangle.2.circlepath";
    case Command::openConfig:
      return "gearshape";
    case Command::reloadConfig:
      return "arrow.clockwise";
    case Command::quit:
      return "power";
  }
  return "gearshape";
}

const std::vector<SymbolKey>& Symbols::rendered() {
  static const std::vector<SymbolKey> keys = [] {
    std::vector<SymbolKey> list;
    const auto add = [&list](std::string_view name, SymbolTint tint, IconSize size) {
      SymbolKey key{std::string(name), tint, size};
      if (std::find(list.begin(), list.end(), key) == list.end()) {
        list.push_back(std::move(key));
      }
    };
    for (const std::string_view name : kNames) {
      add(name, SymbolTint::quiet, IconSize::row);
    }
    for (const Command command : kAllCommands) {
      add(Symbols::command(command), SymbolTint::quiet, IconSize::tile);
    }
    add("text.alignleft", SymbolTint::quiet, IconSize::tile);
    add("link", SymbolTint::quiet, IconSize::tile);
    add("exclamationmark.triangle", SymbolTint::warning, IconSize::row);
    add("exclamationmark.triangle", SymbolTint::warning, IconSize::tile);
    // Armed rows: clearing the clipboard, deleting a pinned clip, force quitting.
    add("trash", SymbolTint::danger, IconSize::row);
    add("xmark.octagon", SymbolTint::danger, IconSize::row);
    return list;
  }();
  return keys;
}

std::vector<std::string> Symbols::themeNames(std::string_view name) {
  const auto* const found = std::find_if(kEntries.begin(), kEntries.end(),
                                         [name](const Entry& entry) { return entry.name == name; });
  std::vector<std::string> names;
  if (found == kEntries.end()) {
    return names;
  }
  for (const std::string_view theme : found->theme) {
    if (!theme.empty()) {
      names.push_back(std::string(theme) + "-symbolic");
    }
  }
  return names;
}

QString Symbols::drawing(std::string_view name) {
  // The resource is compiled into a static library: nothing would pull it in otherwise.
  static const bool initialised = [] {
    initSymbolDrawings();
    return true;
  }();
  (void)initialised;
  const QString path = QStringLiteral(":/vesk/symbols/") +
                       QString::fromUtf8(name.data(), static_cast<int>(name.size())) +
                       QStringLiteral(".svg");
  return QFile::exists(path) ? path : QString();
}

QColor Symbols::color(SymbolTint tint, bool dark) {
  const Palette palette{dark};
  switch (tint) {
    case SymbolTint::quiet:
      return palette[Palette::Role::quiet];
    case SymbolTint::warning:
      return palette[Palette::Role::warning];
    case SymbolTint::danger:
      return palette[Palette::Role::danger];
  }
  return {};
}

}  // namespace vesk
