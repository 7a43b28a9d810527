#include "core/clipboard/paste_run.h"

#include "core/clipboard/clipboard_index.h"

namespace vesk {

PasteRun::PasteRun(const std::vector<Clip>& clips, int64_t copies, double at)
    : copies(copies), pressed(at) {
  ids.reserve(clips.size());
  for (auto clip = clips.rbegin(); clip != clips.rend(); ++clip) {
    ids.push_back(clip->id);
  }
}

bool PasteRun::goesOn(int64_t copies, double at) const {
  return at - pressed < pause && copies == this->copies;
}

std::optional<Clip> PasteRun::next(const ClipboardIndex& index, double at) {
  pressed = at;
  while (!ids.empty()) {
    const int64_t id = ids.back();
    ids.pop_back();
    if (const auto position = index.position(id)) {
      return index.clips()[*position];
    }
  }
  return std::nullopt;
}

}  // namespace vesk
