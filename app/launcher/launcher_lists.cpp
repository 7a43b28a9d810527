#include "app/launcher/launcher_lists.h"

#include <algorithm>
#include <utility>

#include "app/apps/running_apps.h"
#include "core/clipboard/clipboard_index.h"
#include "core/search/history.h"

namespace vesk::LauncherLists {

bool CommandRules::lists(const Item& item) const {
  if (item.kind.tag != Item::Kind::Tag::command) {
    return true;
  }
  const Command command = item.kind.command;
  if (hidden != nullptr && hidden->contains(command)) {
    return false;
  }
  if (command == Command::checkForUpdates) {
    return checksForUpdates && !hasReadyUpdate;
  }
  if (command == Command::installUpdate) {
    return hasReadyUpdate;
  }
  return true;
}

bool hasText(std::string_view query) {
  return std::any_of(query.begin(), query.end(), [](char c) {
    return c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f';
  });
}

Rows merge(const SearchIndex& index, std::span<const SearchIndex::Scored> scored,
           const std::vector<FileHit>& hits, const CommandRules& rules) {
  struct Candidate {
    int32_t score;
    Item item;
  };
  std::vector<Candidate> candidates;
  candidates.reserve(scored.size() + hits.size());
  for (const SearchIndex::Scored& entry : scored) {
    const Item& item = index.items()[static_cast<size_t>(entry.index)];
    if (rules.lists(item)) {
      candidates.push_back({entry.score + kIndexBonus, item});
    }
  }
  for (const FileHit& hit : hits) {
    if (index.position(hit.path)) {
      continue;  // already listed as an indexed item
    }
    candidates.push_back({hit.score, Item::file(hit.path, hit.isFolder)});
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
  if (candidates.size() > kResultLimit) {
    candidates.resize(kResultLimit);
  }
  Rows rows;
  rows.reserve(candidates.size());
  for (Candidate& candidate : candidates) {
    rows.emplace_back(std::move(candidate.item));
  }
  return rows;
}

std::optional<Item> runningItem(const std::string& id, const SearchIndex& index,
                                const RunningApps& running) {
  if (const auto position = index.position(id)) {
    return index.items()[static_cast<size_t>(*position)];
  }
  const auto app = running.application(id);
  if (!app || app->entryPath.empty()) {
    return std::nullopt;
  }
  std::string name = app->name;
  if (name.empty()) {
    name = std::string(ItemPath::deletingExtension(ItemPath::lastComponent(app->entryPath)));
  }
  return Item::app(std::move(name), app->entryPath, id);
}

Listed emptyState(const EmptyStateInput& input) {
  Listed listed;
  if (input.problems != nullptr) {
    for (const std::string& problem : *input.problems) {
      listed.rows.emplace_back(Problem{problem});
    }
  }
  std::optional<Item> update;
  if (input.rules.hasReadyUpdate) {
    update = Item::command(Command::installUpdate);
    listed.rows.emplace_back(*update);
  }
  const size_t head = listed.rows.size();
  size_t offset = 0;
  const SearchIndex& index = input.index != nullptr ? *input.index : SearchIndex::empty();
  switch (input.emptyState) {
    case Config::EmptyState::recent: {
      if (input.history == nullptr) {
        break;
      }
      for (const std::string& id : input.history->recent(kRecentLimit)) {
        std::optional<Item> item = Item::fromFileID(id);
        if (!item) {
          if (const auto position = index.position(id)) {
            item = index.items()[static_cast<size_t>(*position)];
          }
        }
        if (!item || !input.rules.lists(*item) || (update && *item == *update)) {
          continue;
        }
        listed.rows.emplace_back(std::move(*item));
      }
      break;
    }
    case Config::EmptyState::running: {
      if (input.running != nullptr) {
        for (const std::string& id : input.running->order()) {
          if (auto item = runningItem(id, index, *input.running)) {
            listed.rows.emplace_back(std::move(*item));
          }
        }
        offset = input.running->order().size() > 1 ? 1 : 0;
      }
      for (const Item& item : index.items()) {
        if (item.isApp() && (input.running == nullptr || !input.running->application(item.id))) {
          listed.rows.emplace_back(item);
        }
      }
      break;
    }
    case Config::EmptyState::none:
      break;
  }
  listed.selection = head + offset;
  return listed;
}

Listed clips(const ClipboardIndex* clipboard, std::string_view query,
             const std::vector<ClipboardNotice>& notices) {
  Listed listed;
  if (clipboard == nullptr) {
    return listed;
  }
  if (!hasText(query)) {
    for (const ClipboardNotice notice : notices) {
      listed.rows.emplace_back(notice);
    }
  }
  const size_t head = listed.rows.size();
  const ClipboardIndex& index = *clipboard;
  for (const size_t position : index.search(query, kClipLimit)) {
    listed.rows.emplace_back(index.clips()[position]);
  }
  listed.selection = listed.rows.size() > head ? head : 0;
  return listed;
}

}  // namespace vesk::LauncherLists
