#include "platform/linux/kept_copy.h"

#include <algorithm>

#include "platform/linux/x11_clipboard_types.h"

namespace vesk {

void KeptCopy::keep(int64_t changeCount, size_t item, const std::string& type, const Bytes& bytes) {
  if (type == X11ClipboardTypes::kConcealed) {
    return;
  }
  if (changeCount_ != changeCount) {
    changeCount_ = changeCount;
    items_.clear();
  }
  if (items_.size() <= item) {
    items_.resize(item + 1);
  }
  auto& representations = items_[item];
  const auto same = [&](const Representation& r) { return r.type == type; };
  if (std::none_of(representations.begin(), representations.end(), same)) {
    representations.push_back({type, bytes});
  }
}

void KeptCopy::clear() {
  changeCount_ = -1;
  items_.clear();
}

}  // namespace vesk
