// LauncherController: the queries and their rows: the lists each mode and query shows, the
// file hits merged into a query's index hits, and the selection kept while rows change.

#include <algorithm>
#include <utility>

#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/clipboard/clipboard_history.h"
#include "app/launcher/icon_store.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_view.h"
#include "app/launcher/panel_content.h"

namespace vesk {

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
      [&executor = services_.executor, weak, generation, scored = std::move(scored),
       keystroke](FileSearchEngine::Hits hits) {
        executor.deliver([weak, generation, scored, keystroke, hits = std::move(hits)]() mutable {
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
