// The launcher's lists per keystroke: a typed query over 2,000 apps and commands merged with 50
// file hits, and the clipboard list of an empty query over 100,000 clips. Each is measured
// beside its bare search, the baseline, so the cost of the list itself reads as a ratio.

#include <set>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/launcher/launcher_lists.h"
#include "core/clipboard/clipboard_index.h"
#include "core/search/search_index.h"

namespace vesk {
namespace {

constexpr int kApps = 2000;
constexpr int kHits = 50;
constexpr int kClips = 100000;
constexpr const char* kQuery = "te";

const char* const kWords[] = {"Text",  "Terminal", "Editor", "Image",  "Viewer", "Mail",
                              "Notes", "Settings", "Music",  "Player", "Office", "Tools"};

const SearchIndex& apps() {
  static const SearchIndex index = [] {
    std::vector<Item> items;
    for (int i = 0; i < kApps; ++i) {
      const std::string name =
          std::string(kWords[i % 12]) + " " + kWords[(i / 12) % 12] + " " + std::to_string(i);
      items.push_back(
          Item::app(name, "/usr/share/applications/app" + std::to_string(i) + ".desktop"));
    }
    for (const Command command : kAllCommands) {
      items.push_back(Item::command(command));
    }
    return SearchIndex(std::move(items));
  }();
  return index;
}

std::vector<FileHit> hits() {
  std::vector<FileHit> hits;
  for (int i = 0; i < kHits; ++i) {
    hits.push_back({"/home/me/Documents/text-" + std::to_string(i) + ".txt", false, 300 - i});
  }
  return hits;
}

void BM_IndexSearchAlone(benchmark::State& state) {
  const SearchIndex& index = apps();
  const std::vector<int32_t> boosts(index.size(), 0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.scoredSearch(kQuery, LauncherLists::kResultLimit, boosts));
  }
}
BENCHMARK(BM_IndexSearchAlone);

void BM_TypedQueryRefresh(benchmark::State& state) {
  const SearchIndex& index = apps();
  const std::vector<int32_t> boosts(index.size(), 0);
  const std::vector<FileHit> files = hits();
  const std::set<Command> hidden = {Command::resumeClipboard};
  const LauncherLists::CommandRules rules{&hidden, true, false};
  for (auto _ : state) {
    const auto scored = index.scoredSearch(kQuery, LauncherLists::kResultLimit, boosts);
    benchmark::DoNotOptimize(LauncherLists::merge(index, scored, files, rules));
  }
}
BENCHMARK(BM_TypedQueryRefresh);

const ClipboardIndex& clips() {
  static const ClipboardIndex index = [] {
    std::vector<Clip> clips;
    clips.reserve(kClips);
    for (int i = 0; i < kClips; ++i) {
      Clip clip;
      clip.id = i + 1;
      clip.copied = i;
      clip.pinned = i % 500 == 0;
      clip.text = "clip " + std::to_string(i) + " of " + kWords[i % 12] + " and " +
                  kWords[(i / 7) % 12] + " with a little more text on its line";
      clip.textBytes = static_cast<int64_t>(clip.text.size());
      clip.lines = 1;
      clips.push_back(std::move(clip));
    }
    return ClipboardIndex(std::move(clips));
  }();
  return index;
}

void BM_ClipSearchAlone(benchmark::State& state) {
  const ClipboardIndex& index = clips();
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.search("", LauncherLists::kClipLimit));
  }
}
BENCHMARK(BM_ClipSearchAlone);

void BM_EmptyClipboardList(benchmark::State& state) {
  const ClipboardIndex& index = clips();
  const std::vector<ClipboardNotice> notices = {ClipboardNotice::paused};
  for (auto _ : state) {
    benchmark::DoNotOptimize(LauncherLists::clips(&index, "", notices));
  }
}
BENCHMARK(BM_EmptyClipboardList);

}  // namespace
}  // namespace vesk
