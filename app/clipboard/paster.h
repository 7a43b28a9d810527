#pragma once
// Paster: puts a clip back on the system clipboard and presses the paste key in the frontmost
// application. `ClipDelivery` names the five ways a clip is delivered.
//
// Threads: `write` and `pressPaste` block (a clipboard hand-over, a server round trip) and run on
// background threads; `items` is pure. Those threads may still hold the paster after the
// application object is gone, so it shares ownership of the services it works through.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/base/result.h"
#include "core/clipboard/clip.h"
#include "platform/workspace.h"

namespace vesk {

class AppCatalog;
class KeyLayout;
class KeySynthesizer;
class PasteboardWriter;
class Workspace;

// Where the paste key goes: the window, and whether its application is a terminal emulator,
// which pastes with Control+Shift+V (Control+V types a literal ^V there).
struct PasteTarget {
  WindowId window = 0;  // 0: whatever window is active
  bool terminal = false;

  // The active window now, and whether the frontmost application is a terminal. Main thread
  // (the workspace's rule).
  static PasteTarget active(Workspace& workspace, const AppCatalog& catalog);
};

enum class ClipDelivery { paste, copy, pastePlainText, copyPlainText, pasteNext };

bool isPaste(ClipDelivery delivery);
bool isPlainText(ClipDelivery delivery);

class Paster final {
 public:
  static constexpr std::string_view sourceType = "org.nspasteboard.source";
  static constexpr std::string_view transientType = "org.nspasteboard.TransientType";
  // The ANSI "v" key, for a layout with no key typing "v".
  static constexpr uint32_t virtualKeyV = 9;

  Paster(std::shared_ptr<PasteboardWriter> writer, std::shared_ptr<KeySynthesizer> keys,
         std::shared_ptr<const KeyLayout> layout);

  // `items` with the markers on the first item: the source, and the transient marker that keeps
  // Vesk's own recorder from storing the write as a new copy.
  static ClipItems marked(ClipItems items, const std::optional<std::string>& source,
                          bool transient);

  // Replaces the clipboard's contents.
  Result<int64_t> write(ClipItems items, const std::optional<std::string>& source, bool transient);
  // Presses Control and the key typing "v" once the target window is active again (0: at
  // once), with Shift too into a terminal.
  bool pressPaste(PasteTarget target);
  bool isTrusted();

 private:
  std::shared_ptr<PasteboardWriter> writer_;
  std::shared_ptr<KeySynthesizer> keys_;
  std::shared_ptr<const KeyLayout> layout_;
};

}  // namespace vesk
