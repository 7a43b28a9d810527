#pragma once
// Row: what one line of the launcher's list is. An item (app, file, folder, command, or an app
// of the open-with list), an action on an item, a configuration problem, a clip, an action on
// a clip, or a clipboard notice. Plain values with structural equality: whole lists are
// compared to decide whether anything must be redrawn.

#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "app/clipboard/clipboard_notice.h"
#include "app/launcher/action.h"
#include "core/clipboard/clip.h"
#include "core/search/item.h"

namespace vesk {

struct Problem {
  std::string text;
  bool operator==(const Problem&) const = default;
};

struct Row {
  using Value = std::variant<Item, Action, Problem, Clip, ClipAction, ClipboardNotice>;
  Value value;

  Row() = default;
  template <class T>
  requires std::is_constructible_v<Value, T&&> Row(T&& payload)
      : value(std::forward<T>(payload)) {}  // NOLINT(google-explicit-constructor)

  const Item* item() const { return std::get_if<Item>(&value); }
  const Action* action() const { return std::get_if<Action>(&value); }
  const Problem* problem() const { return std::get_if<Problem>(&value); }
  const Clip* clip() const { return std::get_if<Clip>(&value); }
  const ClipAction* clipAction() const { return std::get_if<ClipAction>(&value); }
  const ClipboardNotice* notice() const { return std::get_if<ClipboardNotice>(&value); }

  bool operator==(const Row&) const = default;
};

using Rows = std::vector<Row>;

}  // namespace vesk
