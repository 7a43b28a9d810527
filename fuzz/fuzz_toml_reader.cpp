// Feeds arbitrary text to the TOML reader: it must never crash, hang or leak, and an error
// must name a line of the text (or the one just past its end).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/base/utf8.h"
#include "core/config/toml_reader.h"

namespace {

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

void checkValue(const vesk::TOMLValue& value, int depth) {
  check(depth <= vesk::TOMLReader::kMaxArrayDepth);
  if (const auto* array = value.asArray()) {
    for (const auto& element : *array) {
      checkValue(element, depth + 1);
    }
  }
  if (const auto* text = value.asString()) {
    check(vesk::UTF8::decode(*text).has_value());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto text = vesk::UTF8::decode(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!text) {
    return 0;
  }
  const auto lines = static_cast<std::int64_t>(std::count(text->begin(), text->end(), U'\n')) + 1;
  auto document = vesk::TOMLReader(std::move(*text)).document();
  if (!document) {
    check(document.failure().line >= 1 && document.failure().line <= lines);
    check(!document.failure().message.empty());
    return 0;
  }
  check(document.value().contains(""));
  for (const auto& [name, table] : document.value()) {
    for (const auto& [key, entry] : table) {
      check(entry.line >= 1 && entry.line <= lines);
      checkValue(entry.value, 0);
    }
  }
  return 0;
}
