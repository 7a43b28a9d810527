#pragma once
// PasteboardWriter: puts items back on the system clipboard. The desktop keeps offering them
// (Vesk answers every request for them) until another application copies something.
//
// Items hold the types Vesk stores ("public.utf8-plain-text", "public.file-url", ...) and
// marker types ("org.nspasteboard.source", "org.nspasteboard.TransientType"), mapped to the
// desktop's formats by the implementation. The X11 clipboard has one item: the first item's
// representations are offered, and the URLs of all items together as one URI list.
//
// Threads: `write` blocks until the desktop confirmed the new owner (bounded, about a second)
// and is called from a background thread; it is safe from any thread.

#include <cstdint>

#include "core/base/result.h"
#include "core/clipboard/clip.h"

namespace vesk {

class PasteboardWriter {
 public:
  virtual ~PasteboardWriter() = default;

  // Replaces the clipboard's contents with `items`; empty `items` leaves the clipboard empty.
  // Returns the clipboard's change count once the write took effect (the count Pasteboard
  // reports from then on, until the next change).
  virtual Result<int64_t> write(const ClipItems& items) = 0;
};

}  // namespace vesk
