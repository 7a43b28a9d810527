// The clipboard history's hot paths: adding a copy to a store that already holds 10,000
// clips, loading 100,000 clips (store and index), searching 100,000 clips, and the memory
// the index takes for them.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/clipboard/clip_database.h"
#include "core/clipboard/clip_hash.h"
#include "core/clipboard/clipboard_index.h"
#include "core/clipboard/clipboard_store.h"
#include "core/clipboard/sqlite_database.h"
#include "tools/clip_samples.h"

namespace vesk {
namespace {

constexpr int kStoredClips = 10000;
constexpr int kManyClips = 100000;

class Folder {
 public:
  Folder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vesk-clip-bench-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

Clip clipOf(int64_t id, const ClipContent& content, bool pinned) {
  Clip clip;
  clip.id = id;
  clip.kind = content.kind;
  clip.copied = static_cast<double>(id);
  clip.pinned = pinned;
  clip.textBytes = static_cast<int64_t>(content.text.size());
  clip.lines = Clip::lineCount(content.text);
  clip.text = content.text.substr(0, Clip::textLimit);
  return clip;
}

std::vector<Clip> manyClips() {
  samples::ClipSamples samples;
  std::vector<Clip> clips;
  clips.reserve(kManyClips);
  for (int i = 1; i <= kManyClips; ++i) {
    clips.push_back(clipOf(i, samples.next(), i % 97 == 0));
  }
  return clips;
}

// A store holding `count` sample clips, written in one transaction for speed; the rows are
// what ClipboardStore::add would write.
void fillDirectly(const std::string& folder, int count) {
  ClipboardStore(folder).load().value();
  auto db = ClipDatabase::open(folder);
  SQLiteDatabase& database = *db.value();
  samples::ClipSamples samples;
  auto filled = database.transaction([&]() -> Result<void> {
    for (int i = 1; i <= count; ++i) {
      ClipContent content = samples.next();
      // Make every copy distinct, as the unique hash requires.
      content.items.push_back(
          {{"org.vesk.bench", Bytes{static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8),
                                    static_cast<uint8_t>(i >> 16)}}});
      int64_t size = static_cast<int64_t>(content.text.size());
      for (const auto& item : content.items) {
        for (const auto& r : item) {
          size += static_cast<int64_t>(r.data.size());
        }
      }
      const auto hash = clipHash(content);
      if (!hash) {
        std::abort();
      }
      auto id = ClipDatabase::insert(database, content, hash.value(),
                                     {"org.example.Sample", static_cast<double>(i), size, 0, 0});
      if (!id) {
        return id.failure();
      }
    }
    return {};
  });
  if (!filled) {
    std::abort();
  }
}

void BM_AddTextClipWith10kPresent(benchmark::State& state) {
  const Folder folder;
  fillDirectly(folder.path(), kStoredClips);
  ClipboardStore store(folder.path());
  (void)store.load();
  samples::ClipSamples samples(42);
  int64_t serial = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string text = samples.sentence(8) + " #" + std::to_string(++serial);
    const ClipContent content{Clip::Kind::text,
                              text,
                              {{{"public.utf8-plain-text", Bytes(text.begin(), text.end())}}},
                              std::nullopt};
    state.ResumeTiming();
    auto added = store.add(content, "org.example.Editor", 1e9 + static_cast<double>(serial));
    benchmark::DoNotOptimize(added);
  }
}
BENCHMARK(BM_AddTextClipWith10kPresent)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(200)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_Load100kStoreAndIndex(benchmark::State& state) {
  const Folder folder;
  fillDirectly(folder.path(), kManyClips);
  for (auto _ : state) {
    ClipboardStore store(folder.path());
    auto clips = store.load();
    const ClipboardIndex index(std::move(clips).value());
    benchmark::DoNotOptimize(index.keyBytes());
  }
}
BENCHMARK(BM_Load100kStoreAndIndex)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Index100k(benchmark::State& state) {
  const std::vector<Clip> clips = manyClips();
  for (auto _ : state) {
    const ClipboardIndex index(clips);
    benchmark::DoNotOptimize(index.keyBytes());
  }
}
BENCHMARK(BM_Index100k)->Unit(benchmark::kMillisecond)->Iterations(3);

const ClipboardIndex& sharedIndex() {
  static const ClipboardIndex index(manyClips());
  return index;
}

void BM_Search100k(benchmark::State& state, const char* query) {
  const ClipboardIndex& index = sharedIndex();
  size_t matches = 0;
  for (auto _ : state) {
    const auto found = index.search(query, 100);
    matches = found.size();
    benchmark::DoNotOptimize(found.data());
  }
  state.counters["matches"] = static_cast<double>(matches);
}
BENCHMARK_CAPTURE(BM_Search100k, ascii_match, "deploy server")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_Search100k, ascii_no_match, "zqxj")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
// Common letters that pass every mask: the whole history is searched byte by byte.
BENCHMARK_CAPTURE(BM_Search100k, ascii_common_no_match, "tears")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_Search100k, ascii_rare_long, "quarter budget tomorrow")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_Search100k, non_ascii_match, "Crème")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_Search100k, non_ascii_no_match, "日本橋")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Copying an older clip again: it moves to the top, its old key bytes are left behind and now
// and then the key buffer is compacted, which this average includes.
void BM_CopyAgainInto100k(benchmark::State& state) {
  ClipboardIndex index(manyClips());
  double now = kManyClips + 1.0;
  for (auto _ : state) {
    Clip clip = index.clips()[index.count() - 1];  // the oldest
    clip.copied = ++now;
    index.insert(std::move(clip));
    benchmark::DoNotOptimize(index.keyBytes());
  }
}
BENCHMARK(BM_CopyAgainInto100k)->Unit(benchmark::kMicrosecond)->Iterations(20000);

size_t heapBytes(const std::string& text) {
  // Short strings live inside the object.
  return text.capacity() > 15 ? text.capacity() + 1 : 0;
}

void BM_IndexMemory100k(benchmark::State& state) {
  const ClipboardIndex& index = sharedIndex();
  size_t clipBytes = index.clips().capacity() * sizeof(Clip);
  for (const Clip& clip : index.clips()) {
    clipBytes += heapBytes(clip.text) + (clip.source ? heapBytes(*clip.source) : 0);
  }
  const size_t keyBytes = index.keyMemory();
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.count());
  }
  state.counters["clips_MB"] = static_cast<double>(clipBytes) / 1e6;
  state.counters["keys_MB"] = static_cast<double>(keyBytes) / 1e6;
  state.counters["total_MB"] = static_cast<double>(clipBytes + keyBytes) / 1e6;
  state.counters["key_text_MB"] = static_cast<double>(index.keyBytes()) / 1e6;
}
BENCHMARK(BM_IndexMemory100k)->Iterations(1);

}  // namespace
}  // namespace vesk
