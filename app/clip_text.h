#pragma once
// ClipText: the texts shown for a clip (its row title and detail, its preview, the host of a
// link, the paths and folders of a files clip, the size of an image preview), and ClipFiles:
// the name of a clip saved as a file. Pure functions of their arguments; main thread (numbers
// follow the user's locale).

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/clip.h"

namespace vesk {

namespace ClipText {

struct Title {
  std::string text;
  bool isQuiet = false;  // shown dimmed
  bool operator==(const Title&) const = default;
};

Title title(const Clip& clip, std::string_view query);
// `home` abbreviates the folder of a files clip.
std::string detail(const Clip& clip, const std::string& home);
// At most nine lines and 1200 characters, line feeds trimmed from both ends.
std::string preview(const Clip& clip);
std::string host(const Clip& clip);
// The paths of a files clip; a last path cut when the text was loaded is left out.
std::vector<std::string> paths(const Clip& clip);
// The one folder of the paths ("~" for the home folder), or "N folders".
std::string folders(const Clip& clip, const std::string& home);
// Points to show an image preview at: half its pixels, within 640 × 312 pixels.
std::pair<int64_t, int64_t> previewSize(const Clip& clip);

}  // namespace ClipText

namespace ClipFiles {

// "Clipboard yyyy-MM-dd at HH.mm.EXT" in `folder` for the local time `time` (seconds since
// 1970), with " 2", " 3", … before the extension until the name is free.
std::string destination(const std::string& folder, double time, const std::string& extension);

}  // namespace ClipFiles

}  // namespace vesk
