#include "app/launcher/sublist.h"

#include <algorithm>
#include <utility>

#include "core/search/fuzzy_matcher.h"
#include "core/search/search_key.h"

namespace vesk {

std::string_view Sublist::placeholder() const {
  return isOpenWith() ? "Filter apps" : "Filter actions";
}

namespace {

struct Named {
  Row row;
  std::string name;
};

std::vector<Named> named(const Sublist& sublist, const SublistContext& context) {
  std::vector<Named> pairs;
  if (const auto* actions = std::get_if<Sublist::Actions>(&sublist.value)) {
    for (const Action action : offeredActions(actions->item, context.isRunning)) {
      pairs.push_back({Row{action}, title(action, actions->item)});
    }
    for (const Item& appAction : context.appActions) {
      pairs.push_back({Row{appAction}, appAction.name});
    }
  } else if (const auto* openWith = std::get_if<Sublist::OpenWith>(&sublist.value)) {
    for (const Item& app : openWith->apps) {
      pairs.push_back({Row{app}, app.name});
    }
  } else if (const auto* clip = std::get_if<Sublist::ClipActions>(&sublist.value)) {
    for (const ClipAction action : offeredActions(clip->clip, context.canPaste)) {
      pairs.push_back({Row{action}, title(action, context.canPaste, context.linkApp)});
    }
  }
  return pairs;
}

}  // namespace

Rows sublistRows(const Sublist& sublist, std::string_view query, const SublistContext& context) {
  std::vector<Named> pairs = named(sublist, context);
  FuzzyMatcher matcher(query);
  Rows rows;
  if (matcher.isEmpty()) {
    for (Named& pair : pairs) {
      rows.push_back(std::move(pair.row));
    }
    return rows;
  }
  std::vector<std::pair<int32_t, size_t>> scored;
  for (size_t i = 0; i < pairs.size(); ++i) {
    if (const auto score = matcher.score(SearchKey(pairs[i].name))) {
      scored.emplace_back(*score, i);
    }
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [score, i] : scored) {
    rows.push_back(std::move(pairs[i].row));
  }
  return rows;
}

}  // namespace vesk
