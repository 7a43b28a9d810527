#pragma once
// KeptCopy: what the history read of the clipboard's current copy, the same representations it
// stored, kept so that Vesk can offer the copy again once its owner has gone. The X11 clipboard
// manager and the Wayland clipboard keep one each. A copy's concealed marker is never kept;
// callers keep nothing of copies that are concealed, transient or generated.
//
// Not thread-safe: used on one clipboard thread.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/clipboard/clip.h"

namespace vesk {

class KeptCopy final {
 public:
  // Keeps a representation read of the copy `changeCount`, forgetting an older copy's.
  void keep(int64_t changeCount, size_t item, const std::string& type, const Bytes& bytes);
  // Whether something of the copy `changeCount` is kept.
  bool holds(int64_t changeCount) const { return changeCount_ == changeCount && !items_.empty(); }
  const ClipItems& items() const { return items_; }
  void clear();

 private:
  int64_t changeCount_ = -1;
  ClipItems items_;
};

}  // namespace vesk
