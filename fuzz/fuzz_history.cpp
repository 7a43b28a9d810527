// Feeds arbitrary bytes to History::fromJSON, as a damaged or hand-edited history.json would:
// it must never crash, throw or hang; a failure says what is wrong; a history it accepts
// writes back to the same history, and every use of it (ranking boosts, recent items, a new
// open, dropping dead files) works on it with boosts in range.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/search/history.h"

namespace {

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto decoded = vesk::History::fromJSON(text);
  if (!decoded) {
    check(!decoded.failure().description.empty());
    return 0;
  }
  vesk::History history = std::move(decoded).value();

  const auto again = vesk::History::fromJSON(history.toJSON());
  check(again && again.value() == history);

  constexpr double kNow = 1.7e9;
  for (const auto& [id, entry] : history.entries()) {
    check(entry.count >= 0);
    const double frecency = history.frecency(id, kNow);
    check(std::isfinite(frecency) && frecency >= 0);
    const int32_t boost = vesk::History::boost(frecency);
    check(boost >= 0 && boost <= vesk::History::kMaxBoost);
  }
  for (const auto& [path, boost] : history.fileBoosts(kNow)) {
    check(!path.empty() && boost >= 0 && boost <= vesk::History::kMaxBoost);
  }
  check(history.recent(5).size() <= std::min<size_t>(5, history.entries().size()));

  const vesk::History kept =
      history.droppingDeadFiles([](const std::string& path) { return path.size() % 2 == 0; });
  check(kept.entries().size() <= history.entries().size());

  const std::string id = history.isEmpty() ? std::string("command:x") : history.ids().front();
  history.record(id, kNow);
  check(history.lastOpened(id) == kNow);
  check(history.entries().at(id).opens.size() <= vesk::History::kMaxOpens);
  return 0;
}
