// The details stage: what it shows for the selected row, at the top level and in sublists.

#include <QString>
#include <algorithm>
#include <cctype>
#include <numeric>

#include "app/clipboard/clip_text.h"
#include "app/clipboard/clipboard_notice.h"
#include "app/launcher/icon_store.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/panel_content.h"
#include "core/search/history.h"

namespace vesk {

namespace {

using PanelContent::kPausedSymbol;
using PanelContent::kWarningSymbol;
constexpr int64_t kLargeText = 10000;

std::string typeName(const std::string& path, bool isFolder, const PanelContext& context) {
  return context.icons != nullptr ? context.icons->typeName(path, isFolder).value_or("")
                                  : std::string();
}

std::vector<std::string> capsOf(const LauncherController& controller, PanelKey key) {
  const std::vector<Shortcut> shortcuts = controller.keys()[key];
  return shortcuts.empty() ? std::vector<std::string>{} : shortcuts.front().caps();
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) {
    if (part.empty()) {
      continue;
    }
    out += out.empty() ? part : " \u00B7 " + part;
  }
  return out;
}

std::string upperFirst(std::string text) {
  if (!text.empty()) {
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  }
  return text;
}

std::optional<std::string> openedText(const Item& item, const PanelContext& context) {
  if (context.history == nullptr) {
    return std::nullopt;
  }
  const std::optional<double> last = context.history->lastOpened(item.id);
  return last ? std::optional<std::string>(opened(*last, context.now)) : std::nullopt;
}

StageContent itemStage(const Item& item, const PanelContext& context) {
  const LauncherController& controller = *context.controller;
  StageContent stage;
  stage.icon = PanelContent::itemIcon(item);
  stage.name = item.name;
  stage.primaryCaps = capsOf(controller, PanelKey::open);
  const StageContent::Key actions{"Actions", capsOf(controller, PanelKey::actions)};
  switch (item.kind.tag) {
    case Item::Kind::Tag::file:
    case Item::Kind::Tag::folder: {
      const bool folder = item.kind.tag == Item::Kind::Tag::folder;
      stage.place = PanelContent::parentFolder(item.kind.url, context.home);
      stage.kind = joined(
          {typeName(item.kind.url, folder, context), openedText(item, context).value_or("")});
      stage.primary = folder ? "Open in File Manager" : "Open";
      stage.secondary = actions;
      return stage;
    }
    case Item::Kind::Tag::app: {
      stage.place = PanelContent::appDetail(item, context);
      const bool running = context.isRunning && context.isRunning(item);
      stage.kind = joined({"Application", running ? std::string("running")
                                                  : openedText(item, context).value_or("")});
      stage.primary = "Open";
      stage.secondary = actions;
      return stage;
    }
    case Item::Kind::Tag::command:
      break;
  }
  const std::string version = controller.settings().version.value_or("");
  stage.place = "Vesk command";
  stage.primary = "Run";
  switch (item.kind.command) {
    case Command::clipboard:
      stage.primary = "Open";
      stage.kind = controller.settings().clipboardHotkey
                       ? "Also " + *controller.settings().clipboardHotkey + ", from any app"
                       : std::string();
      break;
    case Command::clearClipboard:
      stage.primary = "Clear";
      stage.kind = "Pinned items stay";
      if (controller.isConfirming()) {
        stage.isDanger = true;
        stage.secondary = StageContent::Key{"Cancel", capsOf(controller, PanelKey::back)};
      }
      break;
    case Command::installUpdate:
      stage.primary = "Restart";
      stage.place = "Vesk " + controller.settings().readyUpdate.value_or("") + " is ready";
      stage.kind = "Vesk restarts into it";
      break;
    case Command::checkForUpdates:
      stage.primary = "Check";
      stage.kind = version.empty() ? std::string() : "Vesk " + version;
      break;
    case Command::quit:
      stage.kind = version.empty() ? std::string() : "Vesk " + version;
      break;
    default:
      break;
  }
  return stage;
}

// An image clip: its preview over the checkerboard, its size, format and when it was copied.
void imageStage(const Clip& clip, const std::optional<std::string>& source,
                const PanelContext& context, StageContent& stage) {
  const auto [width, height] = ClipText::previewSize(clip);
  std::optional<QImage> image = context.clipImage ? context.clipImage(clip, true) : std::nullopt;
  stage.preview = StageContent::ImagePreview{image.value_or(QImage()), width, height};
  stage.name = "Image";
  stage.place = ClipText::detail(clip, context.home) + " \u00B7 PNG \u00B7 " +
                PanelContent::fileSize(clip.size);
  std::string copied = opened(clip.copied, context.now);
  if (copied.rfind("opened", 0) == 0) {
    copied.replace(0, 6, "copied");
  }
  if (source) {
    copied += " from " + *source;
  }
  stage.kind = upperFirst(copied);
}

// A clip of files: the first file's icon, their folders, and once every file's facts are known
// their total size; a single file that is gone says so.
void filesStage(const Clip& clip, const PanelContext& context, StageContent& stage) {
  const std::vector<std::string> paths = ClipText::paths(clip);
  stage.name = ClipText::title(clip, "").text;
  stage.place = ClipText::folders(clip, context.home);
  if (paths.empty()) {
    return;
  }
  stage.icon = PanelContent::clipFileIcon(paths.front(), context);
  std::vector<std::optional<FileFact>> facts;
  facts.reserve(paths.size());
  for (const std::string& path : paths) {
    facts.push_back(context.fact ? context.fact(path) : std::nullopt);
  }
  if (paths.size() == 1 && facts.front() && !facts.front()->exists) {
    stage.place = "No longer in " + stage.place;
  }
  stage.kind = paths.size() > 1
                   ? std::to_string(paths.size()) + " files"
                   : typeName(paths.front(), facts.front() && facts.front()->isFolder, context);
  if (std::all_of(facts.begin(), facts.end(), [](const auto& f) { return f.has_value(); })) {
    const int64_t total =
        std::accumulate(facts.begin(), facts.end(), int64_t{0},
                        [](int64_t sum, const auto& f) { return sum + f->size.value_or(0); });
    if (total > 0) {
      stage.kind = joined({stage.kind, PanelContent::fileSize(total)});
    }
  }
}

StageContent clipStage(const Clip& clip, const PanelContext& context) {
  const LauncherController& controller = *context.controller;
  StageContent stage;
  const std::optional<std::string> source =
      clip.source && context.icons != nullptr ? context.icons->appName(*clip.source) : std::nullopt;
  switch (clip.kind) {
    case Clip::Kind::text:
    case Clip::Kind::richText: {
      const std::string preview = ClipText::preview(clip);
      const bool blank = std::all_of(preview.begin(), preview.end(), [](char c) {
        return std::isspace(static_cast<unsigned char>(c)) != 0;
      });
      stage.preview = StageContent::TextPreview{preview, blank};
      stage.kind = ClipText::about(
          {clip.kind == Clip::Kind::text ? "Text" : "Rich text",
           ClipText::detail(clip, context.home),
           clip.textBytes >= kLargeText ? PanelContent::fileSize(clip.textBytes) : std::string()},
          clip.copied, source, context.now);
      break;
    }
    case Clip::Kind::link:
      stage.icon = PanelContent::sourceIcon(clip);
      stage.name = ClipText::host(clip);
      stage.place = clip.text;
      stage.placeLines = 3;
      stage.kind = ClipText::about({"Link"}, clip.copied, source, context.now);
      break;
    case Clip::Kind::image:
      imageStage(clip, source, context, stage);
      break;
    case Clip::Kind::files:
      filesStage(clip, context, stage);
      break;
  }
  stage.primary = controller.settings().canPaste ? "Paste" : "Copy";
  stage.primaryCaps = capsOf(controller, PanelKey::open);
  stage.secondary = StageContent::Key{"Actions", capsOf(controller, PanelKey::actions)};
  return stage;
}

StageContent noticeStage(ClipboardNotice notice, const PanelContext& context) {
  StageContent stage;
  stage.primaryCaps = capsOf(*context.controller, PanelKey::open);
  stage.name = std::string(title(notice));
  stage.place = std::string(detail(notice));
  switch (notice) {
    case ClipboardNotice::historyUnreadable:
      stage.icon = IconRef::symbol(std::string(kWarningSymbol), SymbolTint::warning);
      break;
    case ClipboardNotice::paused:
      stage.icon = IconRef::symbol(std::string(kPausedSymbol));
      stage.primary = "Resume";
      break;
    case ClipboardNotice::cannotRead:
      stage.icon = IconRef::symbol(std::string(kWarningSymbol), SymbolTint::warning);
      stage.kind = "System Settings, Privacy & Security";
      stage.primary = "Open Settings";
      break;
    case ClipboardNotice::needsAccessibility:
      stage.icon = IconRef::symbol(std::string(kWarningSymbol), SymbolTint::warning);
      stage.kind = "System Settings, Privacy & Security, Accessibility";
      stage.primary = "Open Settings";
      break;
  }
  return stage;
}

// The subject of the open sublist, with the selected action as the primary word.
StageContent sublistStage(const Row& selected, const PanelContext& context) {
  const LauncherController& controller = *context.controller;
  const Sublist& sublist = *controller.sublist();
  StageContent stage;
  if (const auto* actions = std::get_if<Sublist::Actions>(&sublist.value)) {
    stage = itemStage(actions->item, context);
    stage.secondary.reset();
    stage.isDanger = false;
    stage.primary = controller.title(selected);
    if (controller.isConfirming()) {
      stage.isDanger = true;
      stage.secondary = StageContent::Key{"Cancel", capsOf(controller, PanelKey::back)};
    }
  } else if (const auto* openWith = std::get_if<Sublist::OpenWith>(&sublist.value)) {
    stage = itemStage(openWith->file, context);
    stage.secondary.reset();
    const Item* app = selected.item();
    stage.primary = "Open in " + (app != nullptr ? app->name : std::string());
  } else if (const auto* clipActions = std::get_if<Sublist::ClipActions>(&sublist.value)) {
    stage = clipStage(clipActions->clip, context);
    stage.secondary.reset();
    stage.primary = controller.title(selected);
    if (controller.isConfirming()) {
      stage.isDanger = true;
      stage.secondary = StageContent::Key{"Cancel", capsOf(controller, PanelKey::back)};
    }
  }
  return stage;
}

}  // namespace

namespace PanelContent {

std::optional<StageContent> stage(const PanelContext& context) {
  const LauncherController& controller = *context.controller;
  const Rows& rows = controller.rows();
  if (rows.empty() && controller.showsEmptyClipboard()) {
    StageContent empty;
    empty.icon = IconRef::symbol("doc.on.clipboard");
    empty.name = "Nothing copied yet";
    empty.place = "Copy text, a link, an image or a file and it shows up here";
    return empty;
  }
  if (controller.selection() >= rows.size()) {
    return std::nullopt;
  }
  const Row& row = rows[controller.selection()];
  if (controller.sublist()) {
    return sublistStage(row, context);
  }
  if (const Item* item = row.item()) {
    return itemStage(*item, context);
  }
  if (const Clip* clip = row.clip()) {
    return clipStage(*clip, context);
  }
  if (const ClipboardNotice* notice = row.notice()) {
    return noticeStage(*notice, context);
  }
  if (const Problem* problem = row.problem()) {
    StageContent stage;
    const auto [title, detail] = problemTile(problem->text);
    stage.icon = IconRef::symbol(std::string(kWarningSymbol), SymbolTint::warning);
    stage.name = title;
    stage.place = detail;
    stage.kind = tildePath(context.configFile, context.home);
    stage.primary = "Open Config";
    stage.primaryCaps = capsOf(controller, PanelKey::open);
    return stage;
  }
  return StageContent{};
}

std::pair<std::string, std::string> problemTile(const std::string& problem) {
  constexpr std::string_view kLine = "line ";
  const size_t colon = problem.find(": ");
  if (problem.rfind(kLine, 0) == 0 && colon != std::string::npos && colon > kLine.size() &&
      std::all_of(problem.begin() + static_cast<long>(kLine.size()),
                  problem.begin() + static_cast<long>(colon),
                  [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
    QString message = QString::fromStdString(problem.substr(colon + 2));
    if (!message.isEmpty()) {
      message[0] = message[0].toUpper();
    }
    return {message.toStdString(), "Config problem, " + problem.substr(0, colon)};
  }
  return {problem, "Config problem"};
}

}  // namespace PanelContent

}  // namespace vesk
