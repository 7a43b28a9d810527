// Feeds arbitrary bytes to Config::parse, on a first read and on a later one: it must never
// crash, hang or leak; every problem names a line of the file or the file as a whole; and the
// result is always usable (the launcher has a hot key, open and back have keys, the limits are
// in range).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/config/config.h"

namespace {

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

std::int64_t lineOf(const std::string& problem) {
  if (!problem.starts_with("line ")) {
    return -1;
  }
  std::int64_t line = 0;
  for (std::size_t i = 5; i < problem.size() && problem[i] >= '0' && problem[i] <= '9'; ++i) {
    line = line * 10 + (problem[i] - '0');
    if (line > 1'000'000'000) {
      return -1;
    }
  }
  return line;
}

void checkResult(const vesk::Config::Parsed& parsed, std::int64_t lines) {
  for (const std::string& problem : parsed.problems) {
    if (problem.starts_with("config.toml ")) {
      check(parsed.problems.size() == 1);
      continue;
    }
    const std::int64_t line = lineOf(problem);
    check(line >= 1 && line <= lines);
  }
  const vesk::Config& config = parsed.config;
  check(!config.keys[vesk::PanelKey::open].empty());
  check(!config.keys[vesk::PanelKey::back].empty());
  check(config.launcherHotkey.isGlobal());
  check(config.maxDepth >= 1 && config.maxDepth <= 32);
  if (config.clipboardMaxSizeGB) {
    check(*config.clipboardMaxSizeGB > 0 && *config.clipboardMaxSizeGB <= 1000);
  }
  if (config.clipboardMaxAgeDays) {
    check(*config.clipboardMaxAgeDays >= 1 && *config.clipboardMaxAgeDays <= 3650);
  }
  check(!config.clipboardHotkey || *config.clipboardHotkey != config.launcherHotkey);
  check(!config.pasteNextHotkey || *config.pasteNextHotkey != config.launcherHotkey);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto lines = static_cast<std::int64_t>(std::count(text.begin(), text.end(), '\n')) + 1;
  const auto firstRead = vesk::Config::parse(text, std::nullopt);
  checkResult(firstRead, lines);
  vesk::Config previous;
  previous.maxDepth = 3;
  previous.clipboardHotkey.reset();
  const auto laterRead = vesk::Config::parse(text, previous);
  checkResult(laterRead, lines);
  return 0;
}
