#include "core/config/config.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <utility>

namespace vesk {

namespace {

constexpr double kBytesPerGigabyte = 1e9;
constexpr double kSecondsPerDay = 86400;

// The default file, byte for byte, in the words of a Linux desktop (super, desktop file ids,
// MIME types, its terminals and apps).
constexpr std::string_view kTemplate = R"toml(# Vesk settings. Saved changes apply right away.

[hotkeys]
# Opens the launcher from anywhere: modifiers (ctrl, alt, shift, super) + one key.
launcher = "ctrl+alt+space"
# Opens the clipboard history. "" turns it off.
clipboard = "super+shift+v"
# Pastes the last clip you copied, then at each press the one before it, down the history. A pause of 10
# seconds or a new copy starts again from the last one. "" turns it off.
paste_next = "ctrl+alt+v"

[keys]
# The keys inside Vesk: one key, or a list of them like ["up", "ctrl+p"]. [] turns one off.
# A key is a to z, 0 to 9, punctuation, space, return, tab, escape, backspace, up, down, left, right or f1 to
# f20, after any modifiers. One without ctrl, alt or super (a letter, space, backspace) works only while the
# search field is empty. A key given twice stays with the first setting.
up = ["up", "ctrl+p"]
down = ["down", "ctrl+n"]
# Opens the selected item, runs the selected action, pastes the selected clip.
open = "return"
# The selected item's actions, or back to the search.
actions = "ctrl+k"
# Back one level, or close.
back = "escape"
# Preview the selected file.
preview = ["ctrl+y", "space"]
# In an actions list: run its 1st, 2nd, 3rd… action.
run_actions = ["alt+1", "alt+2", "alt+3", "alt+4", "alt+5", "alt+6", "alt+7"]
# In the clipboard: back to the launcher.
to_launcher = "backspace"

[launcher]
# What the launcher shows before you type:
#   "recent"   what you opened last, newest first
#   "running"  open apps, most recently used first
#   "none"     just the search bar
empty_state = "recent"

# Typed alone, lists Clipboard History first; with a space after it, opens the clipboard. "" turns both off.
clipboard_alias = "c"

# Start Vesk when you log in (for an installed copy, not one run from its build folder).
launch_at_login = true

# Where files and folders are searched. "~" is your home folder. A folder here is searched even inside one
# that ignore skips, like "~/.config" or "~/.local/bin".
folders = ["~"]
# What to skip: names ("node_modules"), patterns (".*" is every hidden file, "*.pyc"),
# or paths ("~/snap").
ignore = [".*", "node_modules", "__pycache__", "*.pyc", "~/snap"]
# How many folders deep to go.
max_depth = 6

[clipboard]
# How much history to keep: whichever limit is reached first drops the oldest items. Pinned items always stay,
# and don't count toward max_size_gb.
max_size_gb = 2
max_age_days = 30

[actions]
# The app "Open in terminal" uses: Terminal (your desktop's own), Konsole, kitty, Alacritty, Ghostty…
terminal = "Terminal"

[open_with]
# Which app opens a file type from the launcher: extension or MIME type = app name, desktop file id or path.
# Files of other types open in their default app. For example:
# md  = "Visual Studio Code"
# pdf = "Document Viewer"
# "image/*" = "GIMP"

[open_links]
# Which app opens a link from the clipboard: URL scheme = app name, desktop file id or path. https covers
# http too, unless http has its own. Other links open in their default app. For example:
# https  = "Firefox"
# mailto = "Thunderbird"
)toml";

// `path` with "~" and a leading "~/" expanded against `home`.
std::string expandedHome(const std::string& path, std::string_view home) {
  if (path == "~") {
    return std::string(home);
  }
  if (path.starts_with("~/")) {
    return std::string(home) + path.substr(1);
  }
  return path;
}

std::string canonicalPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr),
                                                             &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

void dropTrailingSlashes(std::string& path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
}

}  // namespace

std::string_view rawValue(Config::EmptyState state) {
  switch (state) {
    case Config::EmptyState::recent:
      return "recent";
    case Config::EmptyState::running:
      return "running";
    case Config::EmptyState::none:
      return "none";
  }
  return "recent";
}

std::optional<Config::EmptyState> emptyStateNamed(std::string_view raw) {
  for (const auto state :
       {Config::EmptyState::recent, Config::EmptyState::running, Config::EmptyState::none}) {
    if (rawValue(state) == raw) {
      return state;
    }
  }
  return std::nullopt;
}

Config Config::firstReadFallback() {
  Config config;
  config.clipboardMaxSizeGB.reset();
  config.clipboardMaxAgeDays.reset();
  return config;
}

Config::Parsed Config::unchanged(std::string_view reason, const std::optional<Config>& previous) {
  if (previous) {
    return {*previous, {std::string(reason) + ", so the settings stay as they were"}};
  }
  return {firstReadFallback(),
          {std::string(reason) +
           ", so every setting is at its default and no clipboard history is dropped"}};
}

ClipRetention Config::clipboardRetention() const {
  ClipRetention retention;
  if (clipboardMaxSizeGB) {
    const double bytes = *clipboardMaxSizeGB * kBytesPerGigabyte;
    // Values beyond the 64-bit range (possible only outside the checked file) mean no limit.
    if (bytes < static_cast<double>(std::numeric_limits<std::int64_t>::max())) {
      retention.maxBytes = static_cast<std::int64_t>(std::max(bytes, 0.0));
    }
  }
  if (clipboardMaxAgeDays) {
    retention.maxAge = static_cast<double>(*clipboardMaxAgeDays) * kSecondsPerDay;
  }
  return retention;
}

FileRules Config::fileRules(std::string_view home) const {
  std::vector<std::string> roots;
  for (const std::string& folder : folders) {
    std::string root = expandedHome(folder, home);
    // A relative folder would be resolved against whatever the process's working folder
    // is; such entries are refused when the file is read and never walked.
    if (!root.starts_with('/')) {
      continue;
    }
    root = canonicalPath(root);
    dropTrailingSlashes(root);
    roots.push_back(std::move(root));
  }
  const std::string base(home);
  std::vector<std::string> protectedPaths = {
      base + "/Desktop", base + "/Documents", base + "/Downloads",
      base + "/" + "Library/Mobile Documents/com~apple~CloudDocs"};
  return {std::move(roots), IgnoreRules(ignore, home),
          static_cast<int>(std::clamp<std::int64_t>(maxDepth, 1, 32)), std::move(protectedPaths)};
}

std::string_view Config::templateText() {
  return kTemplate;
}

}  // namespace vesk
