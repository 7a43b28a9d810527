// Config::parse: from the text of config.toml to settings and problems.

#include "core/config/config_parser.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <system_error>
#include <utility>

#include <unicode/uchar.h>

#include "core/base/utf8.h"

namespace vesk {

namespace {

constexpr std::int64_t kMinDepth = 1;
constexpr std::int64_t kMaxDepth = 32;
constexpr double kMaxSizeGB = 1000;
constexpr std::int64_t kMinAgeDays = 1;
constexpr std::int64_t kMaxAgeDays = 3650;

std::string asciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

bool isASCIILetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "HTTPS://" → "https"; nothing when the rest is not a scheme.
std::optional<std::string> urlScheme(const std::string& key) {
  std::string scheme = asciiLower(key);
  while (!scheme.empty() && (scheme.back() == ':' || scheme.back() == '/')) {
    scheme.pop_back();
  }
  if (scheme.empty() || !isASCIILetter(scheme.front())) {
    return std::nullopt;
  }
  const bool valid = std::all_of(scheme.begin(), scheme.end(), [](char c) {
    return isASCIILetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
  });
  return valid ? std::optional(scheme) : std::nullopt;
}

bool hasWhiteSpace(const std::string& text) {
  const auto scalars = UTF8::decode(text);
  return scalars && std::any_of(scalars->begin(), scalars->end(), [](char32_t c) {
           return u_isUWhiteSpace(static_cast<UChar32>(c)) != 0;
         });
}

// A float in the shortest form that reads back, always with a fraction or an exponent.
std::string floatText(double number) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
  std::string text = error == std::errc() ? std::string(buffer, end) : std::to_string(number);
  if (text.find_first_of(".en") == std::string::npos) {
    text += ".0";
  }
  return text;
}

}  // namespace

std::optional<std::vector<std::string>> ConfigParser::stringList(const TOMLValue& value) {
  const auto* array = value.asArray();
  if (array == nullptr) {
    return std::nullopt;
  }
  std::vector<std::string> out;
  for (const TOMLValue& element : *array) {
    const auto* text = element.asString();
    if (text == nullptr) {
      return std::nullopt;
    }
    out.push_back(*text);
  }
  return out;
}

Config::Parsed ConfigParser::run(const TOMLReader::Document& document) && {
  for (const auto& [table, entries] : document) {
    for (const auto& [key, entry] : entries) {
      visit(table, key, entry);
    }
  }
  separateHotkeys();
  bindPanelKeys();
  std::stable_sort(problems_.begin(), problems_.end(),
                   [](const Problem& a, const Problem& b) { return a.line < b.line; });
  Config::Parsed parsed{std::move(config_), {}};
  for (Problem& problem : problems_) {
    parsed.problems.push_back(std::move(problem.text));
  }
  return parsed;
}

void ConfigParser::problem(std::int64_t line, const std::string& message) {
  problems_.push_back({line, "line " + std::to_string(line) + ": " + message});
}

void ConfigParser::visit(const std::string& table, const std::string& key,
                         const TOMLReader::Entry& entry) {
  const std::string name = table.empty() ? key : table + "." + key;
  if (table == "keys") {
    panelKey(name, key, entry);
  } else if (table == "open_with") {
    openWith(key, entry);
  } else if (table == "open_links") {
    openLinks(key, entry);
  } else if (!setting(name, entry)) {
    problem(entry.line, "unknown setting \"" + name + "\"");
  }
}

bool ConfigParser::setting(const std::string& name, const TOMLReader::Entry& entry) {
  if (name == "hotkeys.launcher") {
    hotkey(0, entry);
  } else if (name == "hotkeys.clipboard") {
    hotkey(1, entry);
  } else if (name == "hotkeys.paste_next") {
    hotkey(2, entry);
  } else if (name == "launcher.empty_state") {
    emptyState(entry);
  } else if (name == "launcher.clipboard_alias") {
    clipboardAlias(entry);
  } else if (name == "actions.terminal") {
    if (const auto* text = stringOf(name, entry)) {
      config_.terminal = *text;
    } else {
      config_.terminal = fallback_.terminal;
    }
  } else if (name == "launcher.launch_at_login") {
    if (const auto* flag = entry.value.asBoolean()) {
      config_.launchAtLogin = *flag;
    } else {
      config_.launchAtLogin = fallback_.launchAtLogin;
      problem(entry.line, "launcher.launch_at_login should be true or false");
    }
  } else if (name == "launcher.folders") {
    folders(entry);
  } else if (name == "launcher.ignore") {
    if (auto list = listOf(name, entry)) {
      config_.ignore = std::move(*list);
    } else {
      config_.ignore = fallback_.ignore;
    }
  } else if (name == "launcher.max_depth") {
    maxDepth(entry);
  } else if (name == "clipboard.max_size_gb") {
    maxSize(entry);
  } else if (name == "clipboard.max_age_days") {
    maxAge(entry);
  } else {
    return false;
  }
  return true;
}

const std::string* ConfigParser::stringOf(const std::string& name, const TOMLReader::Entry& entry) {
  const auto* text = entry.value.asString();
  if (text == nullptr) {
    problem(entry.line, name + " should be a string in quotes");
  }
  return text;
}

std::optional<std::vector<std::string>> ConfigParser::listOf(const std::string& name,
                                                             const TOMLReader::Entry& entry) {
  auto list = stringList(entry.value);
  if (!list) {
    problem(entry.line, name + " should be a list of strings, like [\"~/Documents\"]");
  }
  return list;
}

void ConfigParser::openWith(const std::string& key, const TOMLReader::Entry& entry) {
  std::string type = asciiLower(key);
  if (type.starts_with('.')) {
    type.erase(0, 1);
  }
  if (const auto* app = entry.value.asString()) {
    config_.openWith[type] = *app;
    return;
  }
  problem(entry.line, "open_with." + key + " should be an app name in quotes");
  keepFallbackEntry(config_.openWith, fallback_.openWith, type);
}

void ConfigParser::openLinks(const std::string& key, const TOMLReader::Entry& entry) {
  const auto scheme = urlScheme(key);
  if (!scheme) {
    problem(entry.line, "open_links \"" + key + "\" isn't a URL scheme like \"https\"");
    return;
  }
  if (const auto* app = entry.value.asString()) {
    config_.openLinks[*scheme] = *app;
    return;
  }
  problem(entry.line, "open_links." + key + " should be an app name in quotes");
  keepFallbackEntry(config_.openLinks, fallback_.openLinks, *scheme);
}

void ConfigParser::keepFallbackEntry(std::map<std::string, std::string>& into,
                                     const std::map<std::string, std::string>& from,
                                     const std::string& key) {
  if (const auto found = from.find(key); found != from.end()) {
    into[key] = found->second;
  }
}

void ConfigParser::emptyState(const TOMLReader::Entry& entry) {
  config_.emptyState = fallback_.emptyState;
  const auto* text = stringOf("launcher.empty_state", entry);
  if (text == nullptr) {
    return;
  }
  if (const auto state = emptyStateNamed(*text)) {
    config_.emptyState = *state;
    return;
  }
  problem(entry.line, "launcher.empty_state is \"" + *text +
                          "\", expected \"recent\", \"running\" or \"none\"");
}

void ConfigParser::clipboardAlias(const TOMLReader::Entry& entry) {
  config_.clipboardAlias = fallback_.clipboardAlias;
  const auto* text = stringOf("launcher.clipboard_alias", entry);
  if (text == nullptr) {
    return;
  }
  if (hasWhiteSpace(*text)) {
    problem(entry.line,
            "launcher.clipboard_alias \"" + *text + "\" should be one word, like \"c\"");
    return;
  }
  config_.clipboardAlias = *text;
}

void ConfigParser::folders(const TOMLReader::Entry& entry) {
  config_.folders = fallback_.folders;
  auto list = listOf("launcher.folders", entry);
  if (!list) {
    return;
  }
  // A relative folder would depend on the working folder Vesk happens to start in.
  for (const std::string& folder : *list) {
    if (folder != "~" && !folder.starts_with("~/") && !folder.starts_with('/')) {
      problem(entry.line, "launcher.folders \"" + folder +
                              "\" isn't a full path, like \"~/Documents\" or \"/Volumes\"");
      return;
    }
  }
  config_.folders = std::move(*list);
}

void ConfigParser::maxDepth(const TOMLReader::Entry& entry) {
  config_.maxDepth = fallback_.maxDepth;
  const auto* depth = entry.value.asInteger();
  if (depth == nullptr) {
    problem(entry.line, "launcher.max_depth should be a number");
  } else if (*depth < kMinDepth || *depth > kMaxDepth) {
    problem(entry.line, "launcher.max_depth is " + std::to_string(*depth) + ", expected 1 to 32");
  } else {
    config_.maxDepth = *depth;
  }
}

void ConfigParser::maxSize(const TOMLReader::Entry& entry) {
  config_.clipboardMaxSizeGB = fallback_.clipboardMaxSizeGB;
  double size = 0;
  std::string written;
  if (const auto* integer = entry.value.asInteger()) {
    size = static_cast<double>(*integer);
    written = std::to_string(*integer);
  } else if (const auto* decimal = entry.value.asFloat()) {
    size = *decimal;
    written = floatText(*decimal);
  } else {
    problem(entry.line, "clipboard.max_size_gb should be a number, like 2 or 0.5");
    return;
  }
  if (!(size > 0 && size <= kMaxSizeGB)) {
    problem(entry.line,
            "clipboard.max_size_gb is " + written + ", expected more than 0 and at most 1000");
    return;
  }
  config_.clipboardMaxSizeGB = size;
}

void ConfigParser::maxAge(const TOMLReader::Entry& entry) {
  config_.clipboardMaxAgeDays = fallback_.clipboardMaxAgeDays;
  const auto* days = entry.value.asInteger();
  if (days == nullptr) {
    problem(entry.line, "clipboard.max_age_days should be a whole number of days");
  } else if (*days < kMinAgeDays || *days > kMaxAgeDays) {
    problem(entry.line,
            "clipboard.max_age_days is " + std::to_string(*days) + ", expected 1 to 3650");
  } else {
    config_.clipboardMaxAgeDays = *days;
  }
}

Config::Parsed Config::parse(std::string_view text, const std::optional<Config>& previous) {
  auto scalars = UTF8::decode(text);
  if (!scalars) {
    return unchanged("config.toml isn't UTF-8 text", previous);
  }
  auto document = TOMLReader(std::move(*scalars)).document();
  if (!document) {
    return unchanged(document.failure().description(), previous);
  }
  const Config fallback = previous ? *previous : firstReadFallback();
  return ConfigParser(fallback).run(document.value());
}

}  // namespace vesk
