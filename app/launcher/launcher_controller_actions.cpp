// LauncherController, second half: opening rows, the panel keys, sublists and what each action
// and clip action does.

#include <algorithm>
#include <utility>

#include "app/apps/app_resolver.h"
#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/clipboard/clip_deliverer.h"
#include "app/clipboard/clip_text.h"
#include "app/clipboard/clipboard_history.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_view.h"
#include "core/clipboard/url.h"
#include "platform/app_catalog.h"
#include "platform/notifier.h"

namespace vesk {

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

// Opening a row.

void LauncherController::activate(const Item& item) {
  if (sublist_ && sublist_->isOpenWith()) {
    const Item file = std::get<Sublist::OpenWith>(sublist_->value).file;
    history_.record(file.id, services_.now());
    dismiss();
    if (const auto path = file.url()) {
      desktop_.open({*path}, item.url(), userTime_);
    }
    return;
  }
  if (item.kind.tag == Item::Kind::Tag::command && item.kind.command == Command::clearClipboard &&
      !confirming_) {
    arm();
    return;
  }
  open(item);
}

void LauncherController::activate(const Clip& clip) {
  if (settings_.canPaste) {
    perform(ClipAction::paste, clip);
    return;
  }
  perform(ClipAction::copy, clip);
  if (requests_.askForAccessibility) {
    requests_.askForAccessibility();
  }
}

void LauncherController::activate(size_t position) {
  if (position >= rows_.size()) {
    return;
  }
  const Row row = rows_[position];
  if (const Item* item = row.item()) {
    activate(*item);
  } else if (row.problem() != nullptr) {
    dismiss();
    if (requests_.runCommand) {
      requests_.runCommand(Command::openConfig);
    }
  } else if (const Action* action = row.action()) {
    const auto* actions = sublist_ ? std::get_if<Sublist::Actions>(&sublist_->value) : nullptr;
    if (actions == nullptr) {
      return;
    }
    if (*action == Action::forceQuit && !confirming_) {
      arm();
      return;
    }
    const Item item = actions->item;  // performing may close the sublist that holds it
    perform(*action, item);
  } else if (const Clip* clip = row.clip()) {
    activate(*clip);
  } else if (const ClipAction* clipAction = row.clipAction()) {
    const auto* clipActions =
        sublist_ ? std::get_if<Sublist::ClipActions>(&sublist_->value) : nullptr;
    if (clipActions != nullptr) {
      const Clip clip = clipActions->clip;  // performing may close the sublist that holds it
      perform(*clipAction, clip);
    }
  } else if (const ClipboardNotice* notice = row.notice()) {
    if (*notice != ClipboardNotice::paused) {
      dismiss();
    }
    if (requests_.resolveNotice) {
      requests_.resolveNotice(*notice);
    }
  }
}

void LauncherController::open(const Item& item) {
  history_.record(item.id, services_.now());
  if (item.kind.tag == Item::Kind::Tag::command && item.kind.command == Command::clipboard) {
    switchMode(Mode::clipboard);
    return;
  }
  dismiss();
  switch (item.kind.tag) {
    case Item::Kind::Tag::app:
      desktop_.openApp(item, running_ != nullptr ? running_->application(item.id) : std::nullopt,
                       userTime_);
      break;
    case Item::Kind::Tag::file:
      desktop_.openFile(item.kind.url, settings_.openWithApps, userTime_);
      break;
    case Item::Kind::Tag::folder:
      desktop_.open({item.kind.url}, std::nullopt, userTime_);
      break;
    case Item::Kind::Tag::command:
      if (requests_.runCommand) {
        requests_.runCommand(item.kind.command);
      }
      break;
  }
}

// Sublists.

SublistContext LauncherController::sublistContext() const {
  SublistContext context;
  context.canPaste = settings_.canPaste;
  if (!sublist_) {
    return context;
  }
  if (const auto* actions = std::get_if<Sublist::Actions>(&sublist_->value)) {
    context.isRunning = isRunning(actions->item);
    context.appActions = appActions(actions->item);
  } else if (const auto* clip = std::get_if<Sublist::ClipActions>(&sublist_->value)) {
    if (const auto found = linkApps_.find(URL::parse(clip->clip.text).value_or(URL{}).scheme);
        found != linkApps_.end() && clip->clip.kind == Clip::Kind::link) {
      context.linkApp = found->second.name;
    }
  }
  return context;
}

std::vector<Item> LauncherController::appActions(const Item& app) const {
  std::vector<Item> actions;
  const std::optional<int> position = app.isAppAction() ? std::nullopt : index_.position(app.id);
  if (!position) {
    return actions;
  }
  const std::string prefix = app.name + ": ";
  for (const int at : index_.actions(static_cast<size_t>(*position))) {
    Item action = index_.items()[static_cast<size_t>(at)];
    if (action.name.starts_with(prefix)) {
      action.name.erase(0, prefix.size());
    }
    actions.push_back(std::move(action));
  }
  return actions;
}

Rows LauncherController::allActions() const {
  if (!sublist_ || sublist_->isOpenWith()) {
    return {};
  }
  return sublistRows(*sublist_, "", sublistContext());
}

std::string LauncherController::title(const Row& row) const {
  const SublistContext context = sublistContext();
  if (const Action* action = row.action()) {
    const auto* actions = sublist_ ? std::get_if<Sublist::Actions>(&sublist_->value) : nullptr;
    return actions != nullptr ? vesk::title(*action, actions->item) : std::string();
  }
  if (const ClipAction* action = row.clipAction()) {
    return vesk::title(*action, context.canPaste, context.linkApp);
  }
  if (const Item* item = row.item()) {
    return item->name;
  }
  if (const Problem* problem = row.problem()) {
    return "Config problem, " + problem->text;
  }
  if (const ClipboardNotice* notice = row.notice()) {
    return std::string(vesk::title(*notice));
  }
  if (const Clip* clip = row.clip()) {
    return ClipText::title(*clip, text_).text;
  }
  return {};
}

std::optional<std::string> LauncherController::confirmationPrompt() const {
  if (!confirming_ || selection_ >= rows_.size()) {
    return std::nullopt;
  }
  const Row& row = rows_[selection_];
  if (row.item() != nullptr) {
    return "Press Enter again to clear the clipboard history";
  }
  if (row.action() != nullptr && sublist_) {
    const auto* actions = std::get_if<Sublist::Actions>(&sublist_->value);
    return "Press Enter again to force quit " +
           (actions != nullptr ? actions->item.name : std::string());
  }
  return "Press Enter again to delete this pinned clip";
}

void LauncherController::enter(Sublist sublist) {
  ++context_;
  backStack_.push_back({sublist_, text_, rows_, selection_});
  sublist_ = std::move(sublist);
  applyLook();
  setText({}, 0);
  refresh();
}

void LauncherController::goBack() {
  if (backStack_.empty()) {
    return;
  }
  ++context_;
  Saved saved = std::move(backStack_.back());
  backStack_.pop_back();
  sublist_ = std::move(saved.sublist);
  ++searchGeneration_;
  rowsCurrent_ = true;  // the rows of the query gone back to
  confirming_ = false;
  applyLook();
  const size_t caret = saved.query.size();
  setText(std::move(saved.query), caret);
  if (saved.rows == rows_) {
    select(std::min(saved.selection, rows_.empty() ? 0 : rows_.size() - 1), true);
    return;
  }
  show(std::move(saved.rows), saved.selection, true);
}

void LauncherController::toggleActions() {
  if (sublist_) {
    while (sublist_ && !backStack_.empty()) {
      goBack();
    }
    return;
  }
  if (selection_ >= rows_.size()) {
    return;
  }
  const Row& row = rows_[selection_];
  if (const Item* item = row.item()) {
    if (!offeredActions(*item, isRunning(*item)).empty()) {
      enter(Sublist{Sublist::Actions{*item}});
    }
  } else if (const Clip* clip = row.clip()) {
    linkApp(*clip);
    enter(Sublist{Sublist::ClipActions{*clip}});
  }
}

bool LauncherController::runActionNow(size_t number) {
  const Rows actions = allActions();
  if (number >= actions.size()) {
    return false;
  }
  const Row& wanted = actions[number];
  auto found = std::find(rows_.begin(), rows_.end(), wanted);
  if (found == rows_.end()) {
    setText({}, 0);
    refresh();
    found = std::find(rows_.begin(), rows_.end(), wanted);
    if (found == rows_.end()) {
      return false;
    }
  }
  const auto position = static_cast<size_t>(found - rows_.begin());
  if (position != selection_) {
    select(position, true);
  }
  activate(position);
  return true;
}

}  // namespace vesk
