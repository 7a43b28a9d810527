#pragma once
// Sublist: a list shown inside the panel in place of the results: the actions of an item, the
// apps that can open a file, or the actions of a clip. `sublistRows` lists a sublist's rows,
// filtered by what is typed in its field.

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "app/launcher/row.h"

namespace vesk {

struct Sublist {
  struct Actions {
    Item item;
    bool operator==(const Actions&) const = default;
  };
  struct OpenWith {
    Item file;
    std::vector<Item> apps;
    bool operator==(const OpenWith&) const = default;
  };
  struct ClipActions {
    Clip clip;
    bool operator==(const ClipActions&) const = default;
  };

  std::variant<Actions, OpenWith, ClipActions> value;

  bool isOpenWith() const { return std::holds_alternative<OpenWith>(value); }
  // "Filter apps" for the open-with list, "Filter actions" otherwise.
  std::string_view placeholder() const;

  bool operator==(const Sublist&) const = default;
};

// What a sublist's titles depend on besides the sublist itself.
struct SublistContext {
  bool isRunning = false;  // the item of an actions list is a running app
  bool canPaste = false;
  std::optional<std::string> linkApp;  // the app that opens a link clip, once known
  // The app's own actions, listed after the others: items named by the action alone.
  std::vector<Item> appActions;
};

// The sublist's rows in their listed order for an empty query; otherwise those whose title
// matches the query, best match first, equal scores in listed order.
Rows sublistRows(const Sublist& sublist, std::string_view query, const SublistContext& context);

}  // namespace vesk
