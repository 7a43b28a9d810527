#include "app/clipboard/clipboard_notice.h"

namespace vesk {

std::string_view title(ClipboardNotice notice) {
  switch (notice) {
    case ClipboardNotice::historyUnreadable:
      return "The clipboard history can't be read";
    case ClipboardNotice::paused:
      return "Recording is paused";
    case ClipboardNotice::cannotRead:
      return "Vesk can't read the clipboard";
    case ClipboardNotice::needsAccessibility:
      return "Paste needs Accessibility access";
  }
  return {};
}

std::string_view detail(ClipboardNotice notice) {
  switch (notice) {
    case ClipboardNotice::historyUnreadable:
      return "Its file is damaged and kept as it is, so copies aren't saved";
    case ClipboardNotice::paused:
      return "Copies aren't saved until you resume";
    case ClipboardNotice::cannotRead:
      return "The system is set to deny it, so copies aren't saved";
    case ClipboardNotice::needsAccessibility:
      return "Until it's allowed, Enter copies instead of pasting";
  }
  return {};
}

}  // namespace vesk
