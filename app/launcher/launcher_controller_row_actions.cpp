// LauncherController: opening a row, the sublists of a row's actions, and what each action on
// an item does.

#include <algorithm>
#include <utility>

#include "app/apps/app_resolver.h"
#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/clipboard/clip_text.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/launcher_controller.h"
#include "core/clipboard/url.h"
#include "platform/notifier.h"

namespace vesk {

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

void LauncherController::listOpenWith(const Item& item, const std::string& path) {
  // The panel stays open; the list of apps replaces the actions once it is known, unless the
  // user moved to another list meanwhile.
  const std::optional<Sublist> sublist = sublist_;
  const size_t depth = backStack_.size();
  std::weak_ptr<LauncherController*> weak = self_;
  runInBackground(
      services_.executor, QoS::userInitiated,
      [catalog = desktop_.services().catalog, known = AppResolver::knownApps(index_),
       file = path]() -> std::vector<Item> {
        return catalog ? AppResolver::apps(file, known, *catalog) : std::vector<Item>{};
      },
      [weak, sublist, depth, item](std::vector<Item> apps) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        LauncherController& controller = **self;
        if (controller.sublist_ != sublist || controller.backStack_.size() != depth) {
          return;  // late: the user is elsewhere now
        }
        controller.enter(Sublist{Sublist::OpenWith{item, std::move(apps)}});
      });
}

void LauncherController::perform(Action action, const Item& target) {
  const Item item = target;  // dismissing below clears the sublist `target` may live in
  const std::optional<std::string> path = item.url();
  if (!path) {
    return;  // commands have no actions
  }
  if (action == Action::openWith) {
    listOpenWith(item, *path);
    return;
  }
  if (action == Action::open) {
    open(item);  // dismisses the panel itself
    return;
  }
  dismiss();
  switch (action) {
    case Action::open:
      break;
    case Action::reveal:
      desktop_.reveal({*path});
      break;
    case Action::copyPath:
      desktop_.copyPath(*path);
      break;
    case Action::openInTerminal:
      desktop_.openInTerminal(*path, settings_.terminalApp, userTime_);
      break;
    case Action::copyItem:
      desktop_.copyItem(*path);
      break;
    case Action::zip:
      if (services_.notifier != nullptr) {
        services_.notifier->zip(*path);
      }
      break;
    case Action::trash: {
      std::weak_ptr<LauncherController*> weak = self_;
      desktop_.trash(item, [weak, trashed = *path] {
        if (const auto self = weak.lock(); self && *self != nullptr) {
          (*self)->history_.forget({trashed});
        }
      });
      break;
    }
    case Action::quit:
    case Action::forceQuit:
      if (running_ != nullptr) {
        if (const auto app = running_->application(item.id)) {
          desktop_.quit(*app, action == Action::forceQuit);
        }
      }
      break;
    case Action::openWith:
      break;
  }
}

void LauncherController::failed(const std::string& title, const std::optional<std::string>& path,
                                const std::string& reason) const {
  if (path) {
    Log::app.error("%s (%s): %s", title.c_str(), path->c_str(), reason.c_str());
  } else {
    Log::app.error("%s: %s", title.c_str(), reason.c_str());
  }
  if (services_.notifier != nullptr) {
    services_.notifier->failed(title, path, reason);
  }
}

}  // namespace vesk
