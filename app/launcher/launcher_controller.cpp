#include "app/launcher/launcher_controller.h"

#include <QStandardPaths>
#include <algorithm>
#include <utility>

#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/clipboard/clipboard_history.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/icon_store.h"
#include "app/launcher/launcher_view.h"
#include "app/launcher/panel_content.h"
#include "core/base/wall_clock.h"
#include "platform/notifier.h"

namespace vesk {

namespace {

std::string downloads() {
  return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toStdString();
}

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

LauncherController::LauncherController(LauncherServices services, LauncherRequests requests)
    : services_(std::move(services)),
      requests_(std::move(requests)),
      history_(services_.history),
      running_(services_.running),
      files_(services_.files),
      desktop_(services_.desktop),
      view_(&LauncherView::none()),
      saveFolder_(downloads()),
      self_(std::make_shared<LauncherController*>(this)) {
  if (!services_.now) {
    services_.now = secondsSince1970;
  }
  if (!services_.searchFiles) {
    services_.searchFiles = [&files = files_](std::string query, int limit, int64_t generation,
                                              std::function<void(FileSearchEngine::Hits)> done) {
      files.search(std::move(query), limit, generation, std::move(done));
    };
  }
  desktop_.failed = [this](const std::string& title, const std::optional<std::string>& path,
                           const std::string& reason) { failed(title, path, reason); };
  desktop_.terminalApp = &settings_.terminalApp;
  queueTimer_.setSingleShot(true);
  queueTimer_.setInterval(kNoRowsWait);
  QObject::connect(&queueTimer_, &QTimer::timeout, [this] { queueTimedOut(); });
  indexRowsTimer_.setSingleShot(true);
  QObject::connect(&indexRowsTimer_, &QTimer::timeout, [this] { showIndexRows(); });
}

LauncherController::~LauncherController() {
  *self_ = nullptr;
  desktop_.failed = nullptr;
  desktop_.terminalApp = nullptr;
  if (clipboard_ != nullptr) {
    clipboard_->onChange = nullptr;
  }
}

void LauncherController::setView(LauncherView* view) {
  view_ = view != nullptr ? view : &LauncherView::none();
}

void LauncherController::apply(LauncherSettings settings) {
  if (settings == settings_) {
    return;
  }
  const LauncherSettings previous = std::exchange(settings_, std::move(settings));
  saveFolder_ = settings_.saveFolder.empty() ? downloads() : settings_.saveFolder;
  if (settings_.openLinks != previous.openLinks) {
    linkApps_.clear();
  }
  if (settings_.clipboardAlias != previous.clipboardAlias) {
    applyAlias();
  }
  if (settings_.keys != previous.keys) {
    const std::vector<Shortcut> open = settings_.keys[PanelKey::open];
    openSymbol_ = open.empty() ? std::string() : open.front().symbols();
    view_->reconfigureVisibleRows();
    view_->refreshStage();
  }
  // The plain ones show at the next refresh, but the clipboard's notices are rows of the list
  // shown and a new paste behaviour changes its stage.
  if (mode_ == Mode::clipboard && (settings_.clipboardNotices != previous.clipboardNotices ||
                                   settings_.canPaste != previous.canPaste)) {
    refresh();
  }
}

// The application index and the clipboard history.

void LauncherController::setIndex(SearchIndex index) {
  index_ = std::move(index);
  applyAlias();
  recomputeBoosts();
  loadIcons();
  indexChanged_ = true;  // e.g. during a package update: the selected app stays selected
  refresh();
}

void LauncherController::setClipboard(ClipboardHistory* clipboard) {
  if (clipboard_ != nullptr) {
    clipboard_->onChange = nullptr;
  }
  clipboard_ = clipboard;
  if (clipboard_ == nullptr) {
    return;
  }
  std::weak_ptr<LauncherController*> weak = self_;
  clipboard_->onChange = [weak] {
    if (const auto self = weak.lock(); self && *self != nullptr) {
      (*self)->clipboardChanged();
    }
  };
  clipboardChanged();
}

void LauncherController::applyAlias() {
  const std::string& alias = settings_.clipboardAlias;
  const std::vector<std::string> aliases =
      alias.empty() ? std::vector<std::string>{} : std::vector<std::string>{alias};
  index_.setAliases(aliases, Command::clipboard);
}

// The icons wanted now: every indexed item with a location and every running app's entry.
void LauncherController::loadIcons() {
  if (services_.icons == nullptr) {
    return;
  }
  std::vector<std::string> urls;
  for (const Item& item : index_.items()) {
    if (item.isApp()) {
      urls.push_back(PanelContent::appIconKey(item));
    } else if (auto url = item.url()) {
      urls.push_back(std::move(*url));
    }
  }
  if (running_ != nullptr) {
    for (const std::string& id : running_->order()) {
      if (const auto app = running_->application(id); app && !app->entryPath.empty()) {
        urls.push_back(app->entryPath);
      }
    }
  }
  services_.icons->load(urls);
}

void LauncherController::iconsChanged() {
  view_->reconfigureVisibleRows();
  view_->refreshStage();
}

void LauncherController::recomputeBoosts() {
  boosts_ = history_.history().boosts(index_, services_.now());
}

// The lists.

LauncherLists::CommandRules LauncherController::commandRules() const {
  return {&settings_.hiddenCommands, settings_.checksForUpdates, settings_.readyUpdate.has_value()};
}

bool LauncherController::showsEmptyClipboard() const {
  return mode_ == Mode::clipboard && !sublist_ && !LauncherLists::hasText(text_) &&
         (clipboard_ == nullptr || clipboard_->index().count() == 0) &&
         settings_.clipboardNotices.empty();
}

void LauncherController::refresh(std::optional<Keystroke> keystroke) {
  ++searchGeneration_;
  keepsSelected_ = userMoved_ || std::exchange(indexChanged_, false);
  // Every list but a launcher search's is made at once.
  rowsCurrent_ = true;
  pendingSearch_.reset();
  indexHits_.reset();
  indexRowsTimer_.stop();
  if (sublist_) {
    update(sublistRows(*sublist_, text_, sublistContext()), 0, keystroke);
  } else if (mode_ == Mode::clipboard) {
    LauncherLists::Listed listed = LauncherLists::clips(
        clipboard_ != nullptr ? &clipboard_->index() : nullptr, text_, settings_.clipboardNotices);
    const size_t selection = keptSelection(listed.rows, listed.selection);
    update(std::move(listed.rows), selection, keystroke);
  } else if (LauncherLists::hasText(text_)) {
    launcherSearch(text_, keystroke);
  } else {
    showEmptyState(keystroke);
  }
  runQueued();
}

void LauncherController::showEmptyState(std::optional<Keystroke> keystroke) {
  LauncherLists::EmptyStateInput input;
  input.emptyState = settings_.emptyState;
  input.problems = &settings_.problems;
  input.rules = commandRules();
  input.index = &index_;
  input.history = &history_.history();
  input.running = running_;
  LauncherLists::Listed listed = LauncherLists::emptyState(input);
  update(std::move(listed.rows), listed.selection, keystroke);
}

void LauncherController::launcherSearch(const std::string& query,
                                        std::optional<Keystroke> keystroke) {
  const int64_t generation = searchGeneration_;
  std::vector<SearchIndex::Scored> scored =
      index_.scoredSearch(query, LauncherLists::kResultLimit, boosts_);
  pendingSearch_ = generation;
  // The index hits are drawn at once; until then, or when there are none, the rows drawn are
  // the last query's.
  rowsCurrent_ = false;
  indexHits_.reset();
  indexRowsTimer_.stop();
  if (!scored.empty()) {
    indexHits_ = scored;
    indexRowsTimer_.start(settings_.indexHitsWait);
  }
  // The hits come on the engine's queue and go on to the main thread: no thread waits for them.
  std::weak_ptr<LauncherController*> weak = self_;
  services_.searchFiles(
      query, static_cast<int>(LauncherLists::kResultLimit), generation,
      [weak, generation, scored = std::move(scored), keystroke](FileSearchEngine::Hits hits) {
        postToMain([weak, generation, scored, keystroke, hits = std::move(hits)]() mutable {
          if (const auto self = weak.lock(); self && *self != nullptr) {
            (*self)->searchFinished(generation, std::move(scored), std::move(hits), keystroke);
          }
        });
      });
}

void LauncherController::searchFinished(int64_t generation, std::vector<SearchIndex::Scored> scored,
                                        FileSearchEngine::Hits hits,
                                        std::optional<Keystroke> keystroke) {
  if (generation != searchGeneration_) {
    return;  // a newer refresh started: only its result counts
  }
  pendingSearch_.reset();
  indexHits_.reset();
  indexRowsTimer_.stop();
  // A search the engine dropped or that failed has no file hits.
  Rows rows =
      LauncherLists::merge(index_, scored, hits ? *hits : std::vector<FileHit>{}, commandRules());
  // Better hits may have come to the top: the first row is selected unless the user moved.
  const size_t selecting = selectionIn(rows, 0);
  update(std::move(rows), selecting, keystroke);
  rowsCurrent_ = true;
  runQueued();
}

void LauncherController::showIndexRows() {
  if (!indexHits_) {
    return;
  }
  Rows rows = LauncherLists::merge(index_, *indexHits_, {}, commandRules());
  indexHits_.reset();
  const size_t selecting = selectionIn(rows, 0);
  update(std::move(rows), selecting, std::nullopt);
  rowsCurrent_ = true;
  runQueued();
}

size_t LauncherController::selectionIn(const Rows& rows, size_t fallback) const {
  if (!(keepsSelected_ || userMoved_) || selection_ >= rows_.size()) {
    return fallback;
  }
  const Row& selected = rows_[selection_];
  for (size_t i = 0; i < rows.size(); ++i) {
    const Item* item = rows[i].item();
    if (item != nullptr && selected.item() != nullptr ? item->id == selected.item()->id
                                                      : rows[i] == selected) {
      return i;
    }
  }
  return fallback;
}

size_t LauncherController::keptSelection(const Rows& rows, size_t selection) {
  if (!keepSelection_) {
    return selection;
  }
  const KeptClip kept = *keepSelection_;
  keepSelection_.reset();
  for (size_t i = 0; i < rows.size(); ++i) {
    if (const Clip* clip = rows[i].clip(); clip != nullptr && clip->id == kept.id) {
      return i;
    }
  }
  return rows.empty() ? 0 : std::min(kept.position, rows.size() - 1);
}

void LauncherController::update(Rows rows, size_t selecting, std::optional<Keystroke> keystroke) {
  const bool expands = rows.empty() ? showsEmptyClipboard() : true;
  if (rows == rows_ && isExpanded_ == expands) {
    return;
  }
  show(std::move(rows), selecting, keystroke.has_value());
  if (keystroke) {
    const double updated = Log::uptime();
    view_->drawNow();
    Log::latency(kLatencyLabel, keystroke->event, keystroke->received, updated);
  }
}

void LauncherController::show(Rows rows, size_t selecting, bool byUser) {
  rows_ = std::move(rows);
  if (!rows_.empty()) {
    const size_t previous = tableRows_.size();
    tableRows_ = rows_;
    if (previous == 0) {
      view_->reloadRows();
    } else {
      view_->reconfigureVisibleRows();
      view_->refreshStage();
      if (rows_.size() > previous) {
        view_->insertRows(previous, rows_.size());
      } else if (rows_.size() < previous) {
        view_->removeRows(rows_.size(), previous);
      }
    }
    select(std::min(selecting, rows_.size() - 1), byUser);
    if (!isExpanded_) {
      isExpanded_ = true;
      view_->setResultsVisible(true);
    }
  } else {
    isExpanded_ = showsEmptyClipboard();
    view_->setResultsVisible(isExpanded_);
  }
  view_->setExpanded(isExpanded_, !rows_.empty());
  view_->refreshStage();
}

void LauncherController::disarm() {
  if (!confirming_) {
    return;
  }
  confirming_ = false;
  view_->reconfigureVisibleRows();
  view_->refreshStage();
}

void LauncherController::arm() {
  confirming_ = true;
  view_->reconfigureVisibleRows();
  view_->refreshStage();
}

void LauncherController::select(size_t row, bool /*byUser*/) {
  disarm();
  isSelecting_ = true;
  selection_ = row;
  view_->selectRow(row);
  isSelecting_ = false;
  view_->refreshStage();
}

void LauncherController::userSelected(size_t row) {
  if (row >= rows_.size() || isSelecting_) {
    return;
  }
  disarm();
  userMoved_ = true;
  selection_ = row;
  view_->refreshStage();
}

// Presenting, dismissing, modes and text.

void LauncherController::applyLook() {
  const bool clipboard = mode_ == Mode::clipboard;
  view_->setSymbol(clipboard ? "doc.on.clipboard" : "magnifyingglass");
  if (sublist_) {
    placeholder_ = std::string(sublist_->placeholder());
  } else {
    placeholder_ = clipboard ? "Search clipboard" : "Search";
  }
  view_->setPlaceholder(placeholder_);
  view_->setClipboardLook(clipboard);
}

void LauncherController::setText(std::string text, size_t caret) {
  text_ = std::move(text);
  view_->setSearchText(text_, caret);
}

void LauncherController::prepareToShow(Mode mode) {
  if (!view_->isVisible()) {
    // The window the user is in: once the panel is up, it is the panel or nothing.
    openedTarget_ = services_.pasteTarget ? std::optional(services_.pasteTarget()) : std::nullopt;
  }
  if (running_ != nullptr && running_->sync()) {
    loadIcons();
  }
  recomputeBoosts();
  files_.setBoosts(history_.history().fileBoosts(services_.now()));
  files_.recheckRefused();
  if (mode != mode_) {
    mode_ = mode;
    applyLook();
  }
  if (mode_ == Mode::clipboard && requests_.onShowClipboard) {
    requests_.onShowClipboard();
  }
  refresh();
}

void LauncherController::reset() {
  sublist_.reset();
  backStack_.clear();
  confirming_ = false;
  // Keys typed after the panel closed are not the next open's.
  queue_.clear();
  queueTimer_.stop();
  userMoved_ = false;
  rowsCurrent_ = true;
  indexHits_.reset();
  indexRowsTimer_.stop();
  ++context_;
  mode_ = Mode::launcher;
  applyLook();
  setText({}, 0);
  ++searchGeneration_;  // a file search still out must not fill the hidden list
  pendingSearch_.reset();
  if (!rows_.empty() || isExpanded_) {
    show({}, 0, false);
  }
  if (services_.icons != nullptr) {
    services_.icons->trimTypes();
  }
}

void LauncherController::switchMode(Mode mode) {
  if (mode == mode_) {
    return;
  }
  sublist_.reset();
  backStack_.clear();
  confirming_ = false;
  ++context_;
  mode_ = mode;
  applyLook();
  setText({}, 0);
  if (mode_ == Mode::clipboard && requests_.onShowClipboard) {
    requests_.onShowClipboard();
  }
  refresh();
}

void LauncherController::textDidChange(std::string text, std::optional<double> eventTime) {
  if (!queue_.empty()) {
    // Behind a waiting key: the field's newest text replaces the text that waits right before.
    if (queue_.back().typed) {
      queue_.back().typed = std::move(text);
    } else {
      queue_.push_back({{}, std::move(text), text_, context_});
    }
    return;
  }
  textDidChangeNow(std::move(text), eventTime);
}

void LauncherController::textDidChangeNow(std::string text, std::optional<double> eventTime) {
  userMoved_ = false;  // a new query
  text_ = std::move(text);
  if (mode_ == Mode::launcher && !sublist_ && !settings_.clipboardAlias.empty() &&
      lowered(text_) == lowered(settings_.clipboardAlias) + " ") {
    switchMode(Mode::clipboard);
    return;
  }
  disarm();
  const double received = Log::uptime();
  refresh(Keystroke{eventTime.value_or(received), received});
}

void LauncherController::clipboardChanged() {
  if (clipboard_ != nullptr) {
    clipImages_.preload(clipboard_->index(), *clipboard_->store());
  }
  if (mode_ != Mode::clipboard || sublist_) {
    return;
  }
  keepSelectedClip();
  refresh();
}

void LauncherController::keepSelectedClip() {
  if (keepSelection_ || selection_ >= rows_.size()) {
    return;
  }
  if (const Clip* clip = rows_[selection_].clip()) {
    keepSelection_ = KeptClip{clip->id, selection_};
  }
}

void LauncherController::runningAppsChanged(bool membership) {
  if (membership) {
    loadIcons();
  }
  if (view_->isVisible()) {
    view_->reconfigureVisibleRows();
    view_->refreshStage();
  }
}

bool LauncherController::isRunning(const Item& item) const {
  return item.isApp() && running_ != nullptr && running_->application(item.id).has_value();
}

}  // namespace vesk
