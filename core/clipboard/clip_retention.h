#pragma once
// ClipRetention: the limits of the clipboard history, a plain value that the settings produce
// and the store applies. Pinned clips are exempt from both limits.

#include <cstdint>
#include <limits>

namespace vesk {

struct ClipRetention {
  int64_t maxBytes = std::numeric_limits<int64_t>::max();   // total size of unpinned clips
  double maxAge = std::numeric_limits<double>::infinity();  // seconds
  bool operator==(const ClipRetention&) const = default;
};

}  // namespace vesk
