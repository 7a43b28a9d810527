// Folding throughput, per-name matching cost and application-index ranking.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/search/fuzzy_matcher.h"
#include "core/search/item.h"
#include "core/search/search_index.h"
#include "core/search/search_key.h"

namespace vesk {
namespace {

const std::vector<std::string> kWords = {
    "report", "project",    "final",   "draft",   "notes",   "invoice", "photo",    "image",
    "scan",   "backup",     "config",  "readme",  "index",   "main",    "test",     "data",
    "budget", "meeting",    "summary", "slides",  "resume",  "letter",  "contract", "design",
    "logo",   "screenshot", "build",   "release", "archive", "music",   "video",    "holiday",
    "family", "tax",        "paper",   "thesis",  "chapter", "module",  "server",   "client",
    "utils",  "helper",     "style",   "theme"};
const std::vector<std::string> kExtensions = {
    ".txt",  ".md",   ".pdf", ".jpg", ".png", ".docx", ".xlsx",   ".cpp", ".h",   ".py", ".js",
    ".json", ".html", ".css", ".mp3", ".mp4", ".zip",  ".tar.gz", ".csv", ".log", ""};
const std::vector<std::string> kAccented = {"café",   "résumé", "Übersicht", "naïve",  "Ärger",
                                            "日本語", "Привет", "señor",     "straße", "façade"};

// File names of realistic shape: one to four words, joined by "-", "_", " " or camel case,
// sometimes numbered, with an extension; about 3% carry non-ASCII text.
std::vector<std::string> fileNames(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](const std::vector<std::string>& v) { return v[rng() % v.size()]; };
  const char* joins[] = {"-", "_", " ", ""};
  std::vector<std::string> names;
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::string name;
    const int words = 1 + static_cast<int>(rng() % 4);
    const char* join = joins[rng() % 4];
    for (int w = 0; w < words; ++w) {
      std::string word = rng() % 33 == 0 ? pick(kAccented) : pick(kWords);
      if (w > 0) {
        name += join;
        if (*join == '\0') {
          word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
        }
      }
      name += word;
    }
    if (rng() % 3 == 0) {
      name.append("_").append(std::to_string(rng() % 2030));
    }
    name += pick(kExtensions);
    names.push_back(std::move(name));
  }
  return names;
}

// Names packed back to back, as the file index keeps them.
struct PackedKeys {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> bonus;
  std::vector<uint32_t> starts{0};
  std::vector<uint64_t> masks;

  explicit PackedKeys(const std::vector<std::string>& names) {
    for (const auto& name : names) {
      Folding::fold(name, bytes, bonus);
      const size_t start = starts.back();
      masks.push_back(Folding::mask(std::span(bytes).subspan(start)));
      starts.push_back(static_cast<uint32_t>(bytes.size()));
    }
  }
  size_t size() const { return masks.size(); }
  std::span<const uint8_t> text(size_t i) const {
    return std::span(bytes).subspan(starts[i], starts[i + 1] - starts[i]);
  }
  std::span<const uint8_t> bonuses(size_t i) const {
    return std::span(bonus).subspan(starts[i], starts[i + 1] - starts[i]);
  }
};

void foldNames(benchmark::State& state, const std::vector<std::string>& names) {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> bonus;
  size_t total = 0;
  for (const auto& n : names) {
    total += n.size();
  }
  for (auto _ : state) {
    for (const auto& n : names) {
      bytes.clear();
      bonus.clear();
      Folding::fold(n, bytes, bonus);
      benchmark::DoNotOptimize(bytes.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * total));
}

void BM_FoldAscii(benchmark::State& state) {
  std::vector<std::string> names;
  for (auto& n : fileNames(20000, 1)) {
    if (SearchKey(n).bytes.size() == n.size() && std::all_of(n.begin(), n.end(), [](char c) {
          return static_cast<unsigned char>(c) < 0x80;
        })) {
      names.push_back(std::move(n));
    }
  }
  foldNames(state, names);
}
BENCHMARK(BM_FoldAscii);

void BM_FoldNonAscii(benchmark::State& state) {
  std::vector<std::string> names;
  std::mt19937 rng(2);
  for (auto& n : fileNames(2000, 2)) {
    names.push_back(kAccented[rng() % kAccented.size()] + " " + n);
  }
  foldNames(state, names);
}
BENCHMARK(BM_FoldNonAscii);

// A counter that reports the time per name: the run's time divided by the names scored.
benchmark::Counter timePer(size_t names, benchmark::IterationCount iterations) {
  return {static_cast<double>(names) * static_cast<double>(iterations),
          benchmark::Counter::kIsRate | benchmark::Counter::kInvert};
}

const PackedKeys& millionNames() {
  static const PackedKeys keys(fileNames(1'000'000, 3));
  return keys;
}

// Scores every name of a million for one query; the counter is nanoseconds per name.
void BM_ScoreMillion(benchmark::State& state, const char* query) {
  const PackedKeys& keys = millionNames();
  FuzzyMatcher matcher(query);
  size_t matched = 0;
  for (auto _ : state) {
    matched = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
      matched += matcher.score(keys.text(i), keys.bonuses(i), keys.masks[i]).has_value();
    }
    benchmark::DoNotOptimize(matched);
  }
  state.counters["per_name"] = timePer(keys.size(), state.iterations());
  state.counters["matched"] = static_cast<double>(matched);
}
BENCHMARK_CAPTURE(BM_ScoreMillion, q1, "r")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScoreMillion, q3, "rep")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScoreMillion, q8, "projrept")->Unit(benchmark::kMillisecond);

// Names the mask rejects for the query "vqz" (no "v", "q" or "z" in the names).
void BM_MaskRejected(benchmark::State& state) {
  const PackedKeys& keys = millionNames();
  FuzzyMatcher matcher("vqz");
  std::vector<uint32_t> rejected;
  for (uint32_t i = 0; i < keys.size(); ++i) {
    if ((matcher.queryMask() & ~keys.masks[i]) != 0) {
      rejected.push_back(i);
    }
  }
  for (auto _ : state) {
    size_t matched = 0;
    for (const uint32_t i : rejected) {
      matched += matcher.score(keys.text(i), keys.bonuses(i), keys.masks[i]).has_value();
    }
    benchmark::DoNotOptimize(matched);
  }
  state.counters["per_name"] = timePer(rejected.size(), state.iterations());
}
BENCHMARK(BM_MaskRejected)->Unit(benchmark::kMillisecond);

// 15-byte names that hold the query's letters in order, so every one goes through the
// alignment.
void BM_Alignment15Bytes(benchmark::State& state) {
  std::vector<std::string> names;
  std::mt19937 rng(4);
  while (names.size() < 100000) {
    std::string n;
    for (int i = 0; i < 15; ++i) {
      n += "abcdefghijklmnopqrstuvwxyz_-. "[rng() % 30];
    }
    if (FuzzyMatcher("rep").score(SearchKey(n))) {
      names.push_back(std::move(n));
    }
  }
  const PackedKeys keys(names);
  FuzzyMatcher matcher("rep");
  for (auto _ : state) {
    int64_t sum = 0;
    for (size_t i = 0; i < keys.size(); ++i) {
      sum += *matcher.score(keys.text(i), keys.bonuses(i), keys.masks[i]);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_name"] = timePer(keys.size(), state.iterations());
}
BENCHMARK(BM_Alignment15Bytes)->Unit(benchmark::kMillisecond);

// 2,000 application names plus the commands, as the launcher holds them.
const SearchIndex& applicationIndex() {
  static const SearchIndex index = [] {
    const std::vector<std::string> vendors = {"Visual", "Adobe",    "Google",  "Microsoft",
                                              "GNOME",  "KDE",      "Mozilla", "LibreOffice",
                                              "Steam",  "JetBrains"};
    const std::vector<std::string> products = {
        "Studio Code", "Photoshop",   "Chrome",        "Word",         "Terminal", "Files",
        "Firefox",     "Writer",      "Calc",          "Impress",      "Calendar", "Calculator",
        "Settings",    "Text Editor", "IntelliJ IDEA", "Image Viewer", "Music",    "Videos",
        "Maps",        "Weather",     "Clocks",        "Contacts",     "Disks"};
    std::mt19937 rng(5);
    std::vector<Item> items;
    for (int i = 0; i < 2000; ++i) {
      std::string name = vendors[rng() % vendors.size()] + " " + products[rng() % products.size()];
      if (rng() % 2 == 0) {
        name.append(" ").append(std::to_string(2015 + rng() % 10));
      }
      items.push_back(
          Item::app(name, "/usr/share/applications/app" + std::to_string(i) + ".desktop"));
    }
    for (const Command c : kAllCommands) {
      items.push_back(Item::command(c));
    }
    return SearchIndex(std::move(items));
  }();
  return index;
}

// The same 2,000 applications as their desktop entries describe them: each with a generic
// name and three or four keywords, one in five with two actions of its own ("App: Action").
const SearchIndex& applicationIndexWithEntryKeys() {
  static const SearchIndex index = [] {
    const std::vector<std::string> generic = {
        "Web Browser",  "Text Editor",  "Image Editor", "Word Processor", "Spreadsheet",
        "Terminal",     "File Manager", "Music Player", "Video Player",   "Calculator",
        "Email Client", "Calendar",     "Settings",     "Maps",           "Weather"};
    const std::vector<std::string> keywords = {
        "internet",    "web",        "text",     "edit",      "picture", "photo",
        "document",    "office",     "shell",    "prompt",    "files",   "folder",
        "audio",       "song",       "movie",    "math",      "mail",    "event",
        "preferences", "navigation", "forecast", "arithmetic"};
    const SearchIndex& plain = applicationIndex();
    std::mt19937 rng(7);
    std::vector<Item> items;
    std::vector<SearchIndex::Details> details;
    for (const Item& item : plain.items()) {
      if (!item.isApp()) {
        items.push_back(item);
        details.emplace_back();
        continue;
      }
      SearchIndex::Details about;
      about.keys.push_back(generic[rng() % generic.size()]);
      for (size_t k = 0, count = 3 + rng() % 2; k < count; ++k) {
        about.keys.push_back(keywords[rng() % keywords.size()]);
      }
      about.about = about.keys.front();
      if (rng() % 5 == 0) {
        for (const char* action : {"New Window", "New Private Window"}) {
          items.push_back(Item::appAction(item, action, action));
          details.emplace_back();
        }
      }
      items.push_back(item);
      details.push_back(std::move(about));
    }
    return SearchIndex(std::move(items), std::move(details));
  }();
  return index;
}

void BM_ScoredSearchWithEntryKeys(benchmark::State& state, const char* query) {
  const SearchIndex& index = applicationIndexWithEntryKeys();
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.scoredSearch(query, 50));
  }
}
BENCHMARK_CAPTURE(BM_ScoredSearchWithEntryKeys, c, "c")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScoredSearchWithEntryKeys, vsc, "vsc")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScoredSearchWithEntryKeys, code, "code")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScoredSearchWithEntryKeys, two_terms, "goo chr")
    ->Unit(benchmark::kMicrosecond);

void BM_ScoredSearch(benchmark::State& state, const char* query) {
  const SearchIndex& index = applicationIndex();
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.scoredSearch(query, 50));
  }
}
BENCHMARK_CAPTURE(BM_ScoredSearch, c, "c")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScoredSearch, vsc, "vsc")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScoredSearch, code, "code")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ScoredSearch, two_terms, "goo chr")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vesk
