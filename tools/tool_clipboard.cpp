// vesk-tool clips: fill a clipboard history with synthetic copies, search it as the launcher
// does, or apply a retention to it.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/base/wall_clock.h"
#include "core/clipboard/clipboard_index.h"
#include "core/clipboard/clipboard_store.h"
#include "tools/clip_sample_images.h"
#include "tools/clip_samples.h"
#include "tools/tool.h"

namespace vesk::tool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: vesk-tool clips --folder DIR --fill N\n"
    "       vesk-tool clips --folder DIR --search QUERY...\n"
    "       vesk-tool clips --folder DIR --prune MAX_BYTES MAX_AGE_SECONDS\n";

// Every how many copies one is pinned, and one is an image (when images can be made).
constexpr int kPinEvery = 97;
constexpr int kImageEvery = 40;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int fail(const std::string& what, const Failure& failure) {
  std::fprintf(stderr, "vesk-tool clips: %s: %s\n", what.c_str(), failure.description.c_str());
  return 1;
}

int fill(ClipboardStore& store, long count) {
  samples::ClipSamples samples;
  const bool images = samples::imageCodec() != nullptr;
  std::vector<double> times;
  times.reserve(static_cast<size_t>(count));
  const double start = secondsSince1970() - static_cast<double>(count) * 60;
  for (long i = 0; i < count; ++i) {
    ClipContent content = samples.next();
    if (images && i % kImageEvery == kImageEvery - 1) {
      const auto rgb = static_cast<uint32_t>(samples.below(1 << 24));
      if (auto png = samples::samplePNG(64 + samples.below(900), 64 + samples.below(600), rgb)) {
        content = ClipContent{Clip::Kind::image, "", {}, std::move(png)};
      }
    }
    const auto began = Clock::now();
    auto added = store.add(content, "org.example.Sample", start + static_cast<double>(i) * 60);
    times.push_back(millisecondsSince(began));
    if (!added) {
      return fail("couldn't add clip " + std::to_string(i), added.failure());
    }
    if (i % kPinEvery == 0) {
      if (auto pinned = store.setPinned(true, added.value().id); !pinned) {
        return fail("couldn't pin", pinned.failure());
      }
    }
  }
  if (times.empty()) {
    return 0;
  }
  std::vector<double> sorted = times;
  std::sort(sorted.begin(), sorted.end());
  double total = 0;
  for (const double t : times) {
    total += t;
  }
  std::printf("added %ld clips%s: per add median %.3f ms, mean %.3f ms, p99 %.3f ms, max %.3f ms\n",
              count, images ? " (images included)" : " (no image codec: no images)",
              sorted[sorted.size() / 2], total / static_cast<double>(times.size()),
              sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)], sorted.back());
  return 0;
}

std::string titleOf(const Clip& clip) {
  if (clip.kind == Clip::Kind::image) {
    return std::string(Clip::rawValue(clip.kind));
  }
  const std::string_view text = clip.text;
  const std::string_view line = text.substr(0, text.find('\n'));
  return line.empty() ? std::string(Clip::rawValue(clip.kind)) : std::string(line);
}

int search(ClipboardStore& store, const Args& words) {
  std::string query;
  for (const std::string& word : words) {
    query += (query.empty() ? "" : " ") + word;
  }
  auto began = Clock::now();
  auto loaded = store.load();
  if (!loaded) {
    return fail("couldn't load", loaded.failure());
  }
  const double loadMs = millisecondsSince(began);
  began = Clock::now();
  const ClipboardIndex index(std::move(loaded).value());
  const double indexMs = millisecondsSince(began);
  began = Clock::now();
  constexpr size_t kLimit = 100;
  const auto positions = index.search(query, kLimit);
  const double searchMs = millisecondsSince(began);
  for (const size_t position : positions) {
    std::printf("%s\n", titleOf(index.clips()[position]).c_str());
  }
  std::fprintf(stderr, "%zu clips: load %.1f ms, index %.1f ms, search %.3f ms, %zu matches\n",
               index.count(), loadMs, indexMs, searchMs, positions.size());
  return 0;
}

int prune(ClipboardStore& store, const std::string& maxBytes, const std::string& maxAge) {
  char* end = nullptr;
  const long long bytes = std::strtoll(maxBytes.c_str(), &end, 10);
  if (maxBytes.empty() || *end != '\0') {
    return usage();
  }
  const double age = std::strtod(maxAge.c_str(), &end);
  if (maxAge.empty() || *end != '\0') {
    return usage();
  }
  auto removed = store.prune({.maxBytes = bytes, .maxAge = age}, secondsSince1970());
  if (!removed) {
    return fail("couldn't prune", removed.failure());
  }
  for (const int64_t id : removed.value()) {
    std::printf("%lld\n", static_cast<long long>(id));
  }
  return 0;
}

}  // namespace

int clips(const Args& args) {
  if (args.size() < 3 || args[0] != "--folder") {
    return usage();
  }
  ClipboardStore store(args[1], samples::imageCodec());
  const std::string& command = args[2];
  const Args rest(args.begin() + 3, args.end());
  if (command == "--fill" && rest.size() == 1) {
    char* end = nullptr;
    const long count = std::strtol(rest[0].c_str(), &end, 10);
    if (*end != '\0' || count < 0) {
      return usage();
    }
    return fill(store, count);
  }
  if (command == "--search") {
    return search(store, rest);
  }
  if (command == "--prune" && rest.size() == 2) {
    return prune(store, rest[0], rest[1]);
  }
  return usage();
}

}  // namespace vesk::tool
