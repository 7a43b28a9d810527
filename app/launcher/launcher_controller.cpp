// LauncherController: its services and settings, presenting, modes and the search text, and the
// keys run in the order typed.

#include "app/launcher/launcher_controller.h"

#include <QStandardPaths>
#include <algorithm>
#include <utility>

#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/base/log.h"
#include "app/clipboard/clipboard_history.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/icon_store.h"
#include "app/launcher/launcher_view.h"
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
      clipImages_(services_.executor),
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

// Keys, in the order typed.

bool LauncherController::isSearchPending() const {
  return pendingSearch_ && *pendingSearch_ == searchGeneration_;
}

bool LauncherController::queue(std::function<void()> key, bool onRows) {
  if (queue_.empty() && (rowsCurrent_ || !onRows)) {
    return false;
  }
  queue_.push_back({std::move(key), std::nullopt, {}, context_});
  if (!rowsCurrent_ && !queueTimer_.isActive()) {
    queueTimer_.start();
  }
  return true;
}

void LauncherController::runQueued() {
  if (runningQueue_) {
    return;  // a key of the queue refreshed the list: the loop below goes on with the rest
  }
  runningQueue_ = true;
  while (!queue_.empty() && rowsCurrent_) {
    Queued next = std::move(queue_.front());
    queue_.pop_front();
    if (next.key) {
      next.key();
    } else if (next.context == context_) {
      textDidChangeNow(std::move(*next.typed), std::nullopt);
    } else if (text_ == next.typedAfter) {
      // Back in a field with the text the user typed over (select all, then typing): the
      // field shows what the user typed, not what going back put there.
      std::string text = std::move(*next.typed);
      setText(text, text.size());
      textDidChangeNow(std::move(text), std::nullopt);
    } else if (next.typed->starts_with(next.typedAfter) &&
               next.typed->size() > next.typedAfter.size()) {
      // The key before opened another list: what was typed after it goes into that one.
      std::string text = text_ + next.typed->substr(next.typedAfter.size());
      setText(text, text.size());
      textDidChangeNow(std::move(text), std::nullopt);
    }
  }
  runningQueue_ = false;
  if (queue_.empty()) {
    queueTimer_.stop();
  } else if (!queueTimer_.isActive()) {
    queueTimer_.start();
  }
}

void LauncherController::queueTimedOut() {
  if (rowsCurrent_ || queue_.empty()) {
    return;
  }
  // The keys that act on rows are dropped; what was typed becomes the query, as the field shows.
  std::optional<std::string> typed;
  for (Queued& queued : queue_) {
    if (queued.typed && queued.context == context_) {
      typed = std::move(queued.typed);
    }
  }
  queue_.clear();
  Log::app.info("Nothing came for \"%s\" in time: the keys typed after it were dropped",
                text_.c_str());
  if (services_.notifier != nullptr) {
    services_.notifier->failed("Nothing was opened", std::nullopt,
                               "The search for \u201c" + text_ + "\u201d is taking long. Press " +
                                   openSymbol_ + " again once its results are shown.");
  }
  if (typed) {
    textDidChangeNow(std::move(*typed), std::nullopt);
  }
}

bool LauncherController::perform(PanelKey key) {
  // Keys that aren't the controller's (the preview's, or going back to a launcher already
  // shown) go to the panel's own handling at once.
  const bool consumed = key == PanelKey::up || key == PanelKey::down || key == PanelKey::open ||
                        key == PanelKey::actions || key == PanelKey::back ||
                        (key == PanelKey::toLauncher && mode_ != Mode::launcher);
  const bool onRows = key != PanelKey::back && key != PanelKey::toLauncher;
  if (consumed && queue([this, key] { performNow(key); }, onRows)) {
    return true;
  }
  return performNow(key);
}

bool LauncherController::waitsInLine(const std::function<void()>& key) {
  return queue(key, true);
}

bool LauncherController::runAction(size_t number) {
  if (allActions().size() <= number && queue_.empty()) {
    return false;  // not consumed
  }
  if (queue([this, number] { runActionNow(number); }, true)) {
    return true;
  }
  return runActionNow(number);
}

bool LauncherController::performNow(PanelKey key) {
  switch (key) {
    case PanelKey::up:
      disarm();  // any other input disarms, even a move at the end of the list
      if (!rows_.empty() && selection_ > 0) {
        userMoved_ = true;
        select(selection_ - 1, true);
      }
      return true;
    case PanelKey::down:
      disarm();
      if (!rows_.empty() && selection_ + 1 < rows_.size()) {
        userMoved_ = true;
        select(selection_ + 1, true);
      }
      return true;
    case PanelKey::open:
      activate(selection_);
      return true;
    case PanelKey::actions:
      toggleActions();
      return true;
    case PanelKey::back:
      if (confirming_) {
        disarm();
      } else if (sublist_) {
        goBack();
      } else {
        dismiss();
      }
      return true;
    case PanelKey::toLauncher:
      if (mode_ == Mode::launcher) {
        return false;
      }
      switchMode(Mode::launcher);
      return true;
    case PanelKey::preview:
    case PanelKey::runActions:
      return false;
  }
  return false;
}

void LauncherController::dismiss() {
  view_->dismiss();
}

}  // namespace vesk
