#pragma once
// Config: every user setting as one value, read from ~/.config/vesk/config.toml.
//
// Config::parse turns the file's text into a Config plus human-readable problems and never
// fails as a whole: a file that can't be read as TOML keeps the previous settings, and a wrong
// setting keeps its previous value while every other setting applies. Keys the file leaves
// out take their defaults. Each problem is one sentence prefixed "line N: ", sorted by line.
// A plain value; no platform dependencies.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clipboard/clip_retention.h"
#include "core/config/key_bindings.h"
#include "core/config/shortcut.h"
#include "core/files/file_rules.h"

namespace vesk {

struct Config {
  // What the launcher lists before anything is typed.
  enum class EmptyState { recent, running, none };

  struct Parsed;

  Shortcut launcherHotkey = *Shortcut::parse("ctrl+alt+space");
  std::optional<Shortcut> clipboardHotkey = Shortcut::parse("super+shift+v");  // absent: off
  std::optional<Shortcut> pasteNextHotkey = Shortcut::parse("ctrl+alt+v");     // absent: off
  KeyBindings keys = KeyBindings::defaults();
  std::string clipboardAlias = "c";  // empty: off
  EmptyState emptyState = EmptyState::recent;
  bool launchAtLogin = true;
  std::vector<std::string> folders = {"~"};
  std::vector<std::string> ignore = {".*", "node_modules", "__pycache__", "*.pyc", "~/snap"};
  std::int64_t maxDepth = 6;
  std::string terminal = "Terminal";
  std::map<std::string, std::string> openWith;           // extension or type → app
  std::map<std::string, std::string> openLinks;          // URL scheme → app
  std::optional<double> clipboardMaxSizeGB = 2;          // absent: no size limit
  std::optional<std::int64_t> clipboardMaxAgeDays = 30;  // absent: no age limit

  // Reads UTF-8 text. `previous` is the configuration in force, absent on the first read; a
  // setting with a problem keeps its value from there (on the first read: the default, but
  // with no clipboard limits, so that a typo never drops clipboard history).
  static Parsed parse(std::string_view text, const std::optional<Config>& previous);
  // The result when the file as a whole can't be used, for the reason given ("config.toml is
  // missing", a TOML error's description, …).
  static Parsed unchanged(std::string_view reason, const std::optional<Config>& previous);
  // The fallback of the first read: the defaults without clipboard limits.
  static Config firstReadFallback();

  // The clipboard history's limits: gigabytes of 10^9 bytes and days of 86,400 seconds.
  ClipRetention clipboardRetention() const;
  // What the file search walks, with "~" expanded against `home` and the roots resolved.
  FileRules fileRules(std::string_view home) const;

  // The commented default file, written when none exists. Parses to Config() with no
  // problems. (The name avoids the keyword `template`.)
  static std::string_view templateText();

  bool operator==(const Config&) const = default;
};

struct Config::Parsed {
  Config config;
  std::vector<std::string> problems;
};

// "recent", "running", "none".
std::string_view rawValue(Config::EmptyState state);
std::optional<Config::EmptyState> emptyStateNamed(std::string_view raw);

}  // namespace vesk
