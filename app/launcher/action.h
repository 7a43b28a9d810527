#pragma once
// Action and ClipAction: what can be done with a launcher item or a clip besides opening it,
// with the titles and symbols the actions list shows and which entries offer which actions.
// Plain values; the offered lists are in display order.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clipboard/clip.h"
#include "core/search/item.h"

namespace vesk {

enum class Action {
  open,
  reveal,
  copyPath,
  openWith,
  openInTerminal,
  copyItem,
  zip,
  trash,
  quit,
  forceQuit
};

enum class ClipAction { paste, copy, pastePlainText, openLink, reveal, save, pin, unpin, remove };

// "Open" ("Open in File Manager" for a folder), "Reveal in File Manager", "Copy Path", …
std::string title(Action action, const Item& item);
// The symbol name of the action ("folder", "trash", …). Static storage.
std::string_view symbol(Action action);
// The actions of an item: none for a command; an app adds Quit and Force Quit while running.
std::vector<Action> offeredActions(const Item& item, bool isRunning);

// "Paste", "Copy to Clipboard", "Paste as Plain Text" or "Copy as Plain Text", "Open in " +
// the link's app when known ("Open Link" otherwise), …, "Delete".
std::string title(ClipAction action, bool canPaste, const std::optional<std::string>& linkApp);
std::string_view symbol(ClipAction action);
// Paste (when pasting is allowed) and Copy, then by kind, then Pin or Unpin and Delete.
std::vector<ClipAction> offeredActions(const Clip& clip, bool canPaste);

}  // namespace vesk
