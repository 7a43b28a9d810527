#pragma once
// ConfigParser: the work behind Config::parse, one object per read. It visits every entry of
// the document, keeps the fallback's value for each setting with a problem, then separates
// colliding hot keys and binds the panel keys. Only Config::parse uses it.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/config/config.h"
#include "core/config/key_bindings.h"
#include "core/config/toml_reader.h"

namespace vesk {

class ConfigParser {
 public:
  // `fallback` is what a setting with a problem keeps; it must outlive the parser.
  explicit ConfigParser(const Config& fallback) : fallback_(fallback) {}

  Config::Parsed run(const TOMLReader::Document& document) &&;

 private:
  struct Problem {
    std::int64_t line;
    std::string text;  // "line N: …"
  };

  struct HotkeySlot {
    const char* name;
    std::optional<Shortcut> Config::*field;  // null for the launcher, which can't be off
    std::int64_t line = 0;                   // 0: not set by the file
  };

  static std::optional<std::vector<std::string>> stringList(const TOMLValue& value);
  static void keepFallbackEntry(std::map<std::string, std::string>& into,
                                const std::map<std::string, std::string>& from,
                                const std::string& key);

  void problem(std::int64_t line, const std::string& message);
  void visit(const std::string& table, const std::string& key, const TOMLReader::Entry& entry);
  bool setting(const std::string& name, const TOMLReader::Entry& entry);
  const std::string* stringOf(const std::string& name, const TOMLReader::Entry& entry);
  std::optional<std::vector<std::string>> listOf(const std::string& name,
                                                 const TOMLReader::Entry& entry);

  void openWith(const std::string& key, const TOMLReader::Entry& entry);
  void openLinks(const std::string& key, const TOMLReader::Entry& entry);
  void emptyState(const TOMLReader::Entry& entry);
  void clipboardAlias(const TOMLReader::Entry& entry);
  void folders(const TOMLReader::Entry& entry);
  void maxDepth(const TOMLReader::Entry& entry);
  void maxSize(const TOMLReader::Entry& entry);
  void maxAge(const TOMLReader::Entry& entry);

  // Hot keys and panel keys (config_keys.cpp).
  void hotkey(std::size_t index, const TOMLReader::Entry& entry);
  std::optional<Shortcut> hotkeyOf(const Config& config, const HotkeySlot& slot) const;
  void setHotkey(const HotkeySlot& slot, const std::optional<Shortcut>& shortcut);
  void separateHotkeys();
  void panelKey(const std::string& name, const std::string& key, const TOMLReader::Entry& entry);
  std::vector<std::optional<Shortcut>> fallbackShortcuts(PanelKey key) const;
  void bindPanelKeys();

  const Config& fallback_;
  Config config_;
  std::array<HotkeySlot, 3> hotkeys_ = {{
      {"launcher", nullptr},
      {"clipboard", &Config::clipboardHotkey},
      {"paste_next", &Config::pasteNextHotkey},
  }};
  std::vector<KeyBindings::Written> written_;
  std::vector<Problem> problems_;
};

}  // namespace vesk
