#include "app/launcher/action.h"

namespace vesk {

std::string title(Action action, const Item& item) {
  const bool folder = item.kind.tag == Item::Kind::Tag::folder;
  switch (action) {
    case Action::open:
      return folder ? "Open in File Manager" : "Open";
    case Action::reveal:
      return "Reveal in File Manager";
    case Action::copyPath:
      return "Copy Path";
    case Action::openWith:
      return "Open With\u2026";
    case Action::openInTerminal:
      return "Open in Terminal";
    case Action::copyItem:
      return folder ? "Copy Folder" : "Copy File";
    case Action::zip:
      return "Zip";
    case Action::trash:
      return "Move to Trash";
    case Action::quit:
      return "Quit";
    case Action::forceQuit:
      return "Force Quit";
  }
  return {};
}

std::string_view symbol(Action action) {
  switch (action) {
    case Action::open:
      return "arrow.up.forward.app";
    case Action::reveal:
      return "folder";
    case Action::copyPath:
      return "link";
    case Action::openWith:
      return "square.grid.2x2";
    case Action::openInTerminal:
      return "terminal";
    case Action::copyItem:
      return "doc.on.doc";
    case Action::zip:
      return "doc.zipper";
    case Action::trash:
      return "trash";
    case Action::quit:
      return "xmark.circle";
    case Action::forceQuit:
      return "xmark.octagon";
  }
  return {};
}

std::vector<Action> offeredActions(const Item& item, bool isRunning) {
  using Tag = Item::Kind::Tag;
  switch (item.kind.tag) {
    case Tag::app:
      if (isRunning) {
        return {Action::open, Action::reveal, Action::quit, Action::forceQuit};
      }
      return {Action::open, Action::reveal};
    case Tag::file:
      return {Action::open,     Action::reveal, Action::copyPath, Action::openWith,
              Action::copyItem, Action::zip,    Action::trash};
    case Tag::folder:
      return {Action::open,     Action::reveal, Action::copyPath, Action::openInTerminal,
              Action::copyItem, Action::zip,    Action::trash};
    case Tag::command:
      return {};
  }
  return {};
}

std::string title(ClipAction action, bool canPaste, const std::optional<std::string>& linkApp) {
  switch (action) {
    case ClipAction::paste:
      return "Paste";
    case ClipAction::copy:
      return "Copy to Clipboard";
    case ClipAction::pastePlainText:
      return canPaste ? "Paste as Plain Text" : "Copy as Plain Text";
    case ClipAction::openLink:
      return linkApp ? "Open in " + *linkApp : "Open Link";
    case ClipAction::reveal:
      return "Reveal in File Manager";
    case ClipAction::save:
      return "Save as File";
    case ClipAction::pin:
      return "Pin";
    case ClipAction::unpin:
      return "Unpin";
    case ClipAction::remove:
      return "Delete";
  }
  return {};
}

std::string_view symbol(ClipAction action) {
  switch (action) {
    case ClipAction::paste:
      return "arrow.down.doc";
    case ClipAction::copy:
      return "doc.on.doc";
    case ClipAction::pastePlainText:
      return "textformat";
    case ClipAction::openLink:
      return "arrow.up.forward.app";
    case ClipAction::reveal:
      return "folder";
    case ClipAction::save:
      return "square.and.arrow.down";
    case ClipAction::pin:
      return "pin";
    case ClipAction::unpin:
      return "pin.slash";
    case ClipAction::remove:
      return "trash";
  }
  return {};
}

std::vector<ClipAction> offeredActions(const Clip& clip, bool canPaste) {
  std::vector<ClipAction> actions;
  if (canPaste) {
    actions.push_back(ClipAction::paste);
  }
  actions.push_back(ClipAction::copy);
  switch (clip.kind) {
    case Clip::Kind::text:
      actions.push_back(ClipAction::save);
      break;
    case Clip::Kind::richText:
      actions.push_back(ClipAction::pastePlainText);
      actions.push_back(ClipAction::save);
      break;
    case Clip::Kind::link:
      actions.push_back(ClipAction::openLink);
      break;
    case Clip::Kind::image:
      actions.push_back(ClipAction::save);
      break;
    case Clip::Kind::files:
      actions.push_back(ClipAction::reveal);
      break;
  }
  actions.push_back(clip.pinned ? ClipAction::unpin : ClipAction::pin);
  actions.push_back(ClipAction::remove);
  return actions;
}

}  // namespace vesk
