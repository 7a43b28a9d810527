#include "app/launcher/panel_content.h"

#include <QLocale>
#include <QString>
#include <algorithm>

#include "app/clipboard/clip_text.h"
#include "app/clipboard/clipboard_notice.h"
#include "app/launcher/action.h"
#include "app/launcher/launcher_controller.h"

namespace vesk {

namespace {

bool isArmed(size_t position, const LauncherController& controller) {
  return controller.isConfirming() && position == controller.selection();
}

// The symbols of the run-actions shortcut at this action's place in the unfiltered list.
std::string runKeyTag(const Row& row, const LauncherController& controller) {
  const Rows all = controller.allActions();
  const auto found = std::find(all.begin(), all.end(), row);
  if (found == all.end()) {
    return {};
  }
  const auto position = static_cast<size_t>(found - all.begin());
  const auto& keys = controller.keys().runActions();
  if (position >= keys.size() || !keys[position]) {
    return {};
  }
  return keys[position]->symbols();
}

// A clip's row: its title for the query, detail and age, and its icon by kind.
void clipCell(const Clip& clip, const PanelContext& context, CellContent& cell) {
  const ClipText::Title title = ClipText::title(clip, context.controller->text());
  cell.title = title.text;
  cell.isQuietTitle = title.isQuiet;
  cell.detail = ClipText::detail(clip, context.home);
  cell.tag = ClipText::age(clip.copied, context.now);
  cell.isPinned = clip.pinned;
  cell.cutsAtTheEnd = clip.kind == Clip::Kind::text || clip.kind == Clip::Kind::richText;
  switch (clip.kind) {
    case Clip::Kind::image:
      cell.icon.kind = IconRef::Kind::image;
      cell.icon.cornerRadius = 4;
      if (context.clipImage) {
        cell.icon.image = context.clipImage(clip, false).value_or(QImage());
      }
      break;
    case Clip::Kind::files: {
      const std::vector<std::string> paths = ClipText::paths(clip);
      cell.icon = paths.empty() ? IconRef::symbol("folder")
                                : PanelContent::clipFileIcon(paths.front(), context);
      break;
    }
    default:
      cell.icon = PanelContent::sourceIcon(clip);
      break;
  }
}

}  // namespace

namespace PanelContent {

// The copying app's icon; the text or link symbol for a clip without a source (the store
// answers the symbol too once the source turns out to be missing).
IconRef sourceIcon(const Clip& clip) {
  const std::string fallback = clip.kind == Clip::Kind::link ? "link" : "text.alignleft";
  if (!clip.source) {
    return IconRef::symbol(fallback);
  }
  IconRef icon = IconRef::of(IconRef::Kind::source, *clip.source);
  icon.fallbackSymbol = fallback;
  return icon;
}

std::string appIconKey(const Item& app) {
  return app.isAppAction() ? app.kind.url + "#" + app.kind.action : app.kind.url;
}

IconRef itemIcon(const Item& item) {
  switch (item.kind.tag) {
    case Item::Kind::Tag::command:
      return IconRef::symbol(std::string(Symbols::command(item.kind.command)));
    case Item::Kind::Tag::folder:
      return IconRef::of(IconRef::Kind::folder, item.kind.url);
    case Item::Kind::Tag::app:
      return IconRef::of(IconRef::Kind::app, appIconKey(item));
    case Item::Kind::Tag::file:
      break;
  }
  return IconRef::of(IconRef::Kind::file, item.kind.url);
}

// A clip's file: a folder once its facts say so.
IconRef clipFileIcon(const std::string& path, const PanelContext& context) {
  const std::optional<FileFact> fact = context.fact ? context.fact(path) : std::nullopt;
  return IconRef::of(fact && fact->isFolder ? IconRef::Kind::folder : IconRef::Kind::file, path);
}

CellContent cell(const Row& row, size_t position, const PanelContext& context) {
  const LauncherController& controller = *context.controller;
  CellContent cell;
  const bool armed = isArmed(position, controller);
  if (position == controller.selection()) {
    cell.mark = controller.openSymbol();
  }
  if (const Item* item = row.item()) {
    cell.title = item->name;
    cell.icon = itemIcon(*item);
    switch (item->kind.tag) {
      case Item::Kind::Tag::file:
      case Item::Kind::Tag::folder:
        cell.detail = parentFolder(item->kind.url, context.home);
        break;
      case Item::Kind::Tag::app:
        if (controller.sublist() && !controller.sublist()->isOpenWith()) {
          cell.tag = runKeyTag(row, controller);  // one of the app's own actions
          break;
        }
        cell.detail = appDetail(*item, context);
        if (context.isRunning && context.isRunning(*item)) {
          cell.tag = "running";
        }
        break;
      case Item::Kind::Tag::command:
        if (armed) {
          cell.title = controller.confirmationPrompt().value_or(cell.title);
          cell.icon.tint = SymbolTint::danger;
          cell.isDanger = true;
        }
        break;
    }
  } else if (const Action* action = row.action()) {
    cell.title = controller.title(row);
    cell.tag = runKeyTag(row, controller);
    cell.icon = IconRef::symbol(std::string(symbol(*action)));
    if (armed) {
      cell.title = controller.confirmationPrompt().value_or(cell.title);
      cell.icon.tint = SymbolTint::danger;
      cell.isDanger = true;
    }
  } else if (const ClipAction* clipAction = row.clipAction()) {
    cell.title = controller.title(row);
    cell.tag = runKeyTag(row, controller);
    cell.icon = IconRef::symbol(std::string(symbol(*clipAction)));
    if (armed) {
      cell.title = controller.confirmationPrompt().value_or(cell.title);
      cell.icon.tint = SymbolTint::danger;
      cell.isDanger = true;
    }
  } else if (const Problem* problem = row.problem()) {
    cell.title = "Config problem, " + problem->text;
    cell.icon = IconRef::symbol(std::string(PanelContent::kWarningSymbol), SymbolTint::warning);
  } else if (const ClipboardNotice* notice = row.notice()) {
    cell.title = std::string(title(*notice));
    cell.icon =
        *notice == ClipboardNotice::paused
            ? IconRef::symbol(std::string(PanelContent::kPausedSymbol))
            : IconRef::symbol(std::string(PanelContent::kWarningSymbol), SymbolTint::warning);
  } else if (const Clip* clip = row.clip()) {
    clipCell(*clip, context, cell);
  }
  return cell;
}

std::string middle(const std::string& text, size_t keeping) {
  const QList<uint> points = QString::fromStdString(text).toUcs4();
  if (static_cast<size_t>(points.size()) <= keeping) {
    return text;
  }
  const size_t head = (keeping + 1) / 2;
  const size_t tail = keeping / 2;
  const auto part = [&points](size_t from, size_t count) {
    const QList<uint> slice =
        points.mid(static_cast<qsizetype>(from), static_cast<qsizetype>(count));
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(slice.constData()), slice.size())
        .toStdString();
  };
  return part(0, head) + "\u2026" + part(static_cast<size_t>(points.size()) - tail, tail);
}

std::string tildePath(const std::string& path, const std::string& home) {
  if (!home.empty() && home != "/" &&
      (path == home ||
       (path.rfind(home, 0) == 0 && path.size() > home.size() && path[home.size()] == '/'))) {
    std::string tilde = "~";
    tilde.append(path, home.size());
    return tilde;
  }
  return path;
}

std::string appDetail(const Item& app, const PanelContext& context) {
  const SearchIndex& index = context.controller->index();
  if (const std::optional<int> position = index.position(app.id)) {
    const std::string& about = index.details(static_cast<size_t>(*position)).about;
    if (!about.empty()) {
      return about;
    }
  }
  return parentFolder(app.kind.url, context.home);
}

std::string parentFolder(const std::string& path, const std::string& home) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    return {};
  }
  return tildePath(slash == 0 ? "/" : path.substr(0, slash), home);
}

std::string fileSize(int64_t bytes) {
  return QLocale::system().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat).toStdString();
}

}  // namespace PanelContent

}  // namespace vesk
