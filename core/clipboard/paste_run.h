#pragma once
// PasteRun: the state of the paste-next hot key. The first press pastes the newest clip, each
// further press the one before it; a pause of `pause` seconds or a new copy starts again from
// the newest. Used on the main thread only.

#include <cstdint>
#include <optional>
#include <vector>

#include "core/clipboard/clip.h"

namespace vesk {

class ClipboardIndex;

struct PasteRun {
  static constexpr double pause = 10;  // seconds

  std::vector<int64_t> ids;  // still to paste, the next one last
  int64_t copies = 0;        // the history's copy counter when the run began
  double pressed = 0;        // time of the last press, seconds

  // `clips` in index order (newest first).
  PasteRun(const std::vector<Clip>& clips, int64_t copies, double at);

  // True when less than `pause` has passed since the last press and no copy was made.
  bool goesOn(int64_t copies, double at) const;

  // The next clip still in the index, or none when the run is exhausted.
  std::optional<Clip> next(const ClipboardIndex& index, double at);
};

}  // namespace vesk
