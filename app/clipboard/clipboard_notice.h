#pragma once
// ClipboardNotice: a clipboard status shown above the clip list, in this order: recording is
// paused, the desktop denies reading the clipboard, synthesised paste is not allowed.

#include <string_view>

namespace vesk {

enum class ClipboardNotice { paused, cannotRead, needsAccessibility };

// The row's text ("Recording is paused") and the stage's second line. Static storage.
std::string_view title(ClipboardNotice notice);
std::string_view detail(ClipboardNotice notice);

}  // namespace vesk
