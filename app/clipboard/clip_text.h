#pragma once
// ClipText: the texts shown for a clip (its row title and detail, its preview, its age and
// summary line, the host of a link, the paths and folders of a files clip, the size of an image
// preview); `opened`: the time phrase of the last time something was opened; and ClipFiles: the
// name of a clip saved as a file. Pure functions of their arguments; main thread (numbers and
// times of day follow the user's locale). Times are seconds since 1970, read in the local time
// zone; "now" is always passed in.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/clipboard/clip.h"

namespace vesk {

// "opened today at " + the time of day in the user's short style, "opened yesterday", "opened "
// + the English weekday ("opened Friday") two to six calendar days before `now`, else "opened "
// + the English month and day ("opened Feb 22"; also for a date on a later day than `now`).
std::string opened(double date, double now);

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
// How long ago `time` was: "now" (under a minute, or in the future), "5 min" (under an hour),
// the time of day in the user's short style (earlier today), "yesterday", the English weekday
// ("Fri", two to six calendar days before), else the English month and day ("Feb 22").
std::string age(double time, double now);
// The summary line of a clip: `opened` with "copied" for "opened", then " from " + `from`, then
// the non-empty `parts`, all joined by " · " ("copied yesterday from Editor · Text · 3 lines").
// An empty `from` counts as no source.
std::string about(const std::vector<std::string>& parts, double copied,
                  const std::optional<std::string>& from, double now);
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
