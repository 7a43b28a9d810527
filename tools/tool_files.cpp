// vesk-tool files: builds a file index of one folder and searches it, or watches it.
//
//   vesk-tool files --root DIR [--list FILE] QUERY...
//     Index DIR (scanned with the default settings' ignore list and depth, or read from FILE:
//     absolute paths under DIR, one per line, a trailing "/" marking a folder) and print the
//     hits of each query as score<TAB>path, best first. Figures go to standard error.
//   vesk-tool files --root DIR --watch
//     Scan DIR, then print each change applied from file-system events until interrupted.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <limits.h>
#include <stdlib.h>
#include <time.h>

#include "core/base/xdg_folders.h"
#include "core/config/config.h"
#include "core/files/file_index.h"
#include "core/files/file_scanner.h"
#include "core/files/file_search_engine.h"
#include "tools/tool.h"

namespace vesk::tool {

namespace {

constexpr int kLimit = 50;
using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Processor time of the whole process (all threads), in milliseconds: on a busy machine it
// shows the work a search took when the wall clock also counts waiting for a core.
double processCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Options {
  std::string root;
  std::string list;
  bool watch = false;
  std::vector<std::string> queries;
};

bool parse(const Args& args, Options& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if ((arg == "--root" || arg == "--list") && i + 1 < args.size()) {
      (arg == "--root" ? options.root : options.list) = args[++i];
    } else if (arg == "--watch") {
      options.watch = true;
    } else {
      options.queries.push_back(arg);
    }
  }
  return !options.root.empty() && (options.watch || !options.queries.empty());
}

FileRules defaultRules(const std::string& root) {
  const Config defaults;
  const std::string home = XDGFolders().home();  // before any thread
  return FileRules({root}, IgnoreRules(defaults.ignore, home), static_cast<int>(defaults.maxDepth),
                   {});
}

std::string_view parentOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// Builds the index from a list of paths. A path is a folder when it ends in "/" or another
// path lies below it; missing folders on the way are created.
bool indexList(const std::string& file, const std::string& root, FileIndex& index) {
  std::ifstream in(file);
  if (!in) {
    std::fprintf(stderr, "vesk-tool files: can't read %s\n", file.c_str());
    return false;
  }
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    const bool folder = line.size() > 1 && line.back() == '/';
    while (line.size() > 1 && line.back() == '/') {
      line.pop_back();
    }
    if (line.size() > root.size() && line.starts_with(root) &&
        (root == "/" || line[root.size()] == '/')) {
      lines.push_back(folder ? line + "/" : line);
    }
  }
  std::unordered_set<std::string_view> folders;
  for (const std::string& line : lines) {
    const std::string_view path =
        std::string_view(line).substr(0, line.size() - (line.back() == '/'));
    folders.insert(parentOf(path));
    if (line.back() == '/') {
      folders.insert(path);
    }
  }
  std::unordered_map<std::string_view, int32_t> entries;
  entries.emplace(root, index.addRoot(root));
  // Adds `path` (and any missing folder above it); returns its entry or -1.
  const auto addPath = [&](auto& self, std::string_view path) -> int32_t {
    if (const auto known = entries.find(path); known != entries.end()) {
      return known->second;
    }
    if (path.size() <= root.size()) {
      return -1;
    }
    const int32_t parent = self(self, parentOf(path));
    if (parent < 0) {
      return -1;
    }
    const bool isFolder = folders.contains(path);
    const int32_t entry = index.add(path.substr(path.rfind('/') + 1), parent, isFolder);
    if (isFolder) {
      entries.emplace(path, entry);
    }
    return entry;
  };
  for (const std::string& line : lines) {
    addPath(addPath, std::string_view(line).substr(0, line.size() - (line.back() == '/')));
  }
  return true;
}

int watch(const std::string& root) {
  std::mutex mutex;
  std::condition_variable ready;
  FileSearchEngine engine(
      [](const std::vector<std::string>&) {}, canListFolder,
      [](std::string_view line) { std::fprintf(stderr, "%.*s\n", int(line.size()), line.data()); });
  engine.setOnChange([](std::string_view change, const std::string& path) {
    std::printf("%.*s\t%s\n", static_cast<int>(change.size()), change.data(), path.c_str());
    std::fflush(stdout);
  });
  const auto start = Clock::now();
  engine.rebuild(defaultRules(root)).get();
  std::fprintf(stderr, "watching %zu entries under %s (scanned in %.1f ms); ^C to stop\n",
               engine.count().get(), root.c_str(), millisecondsSince(start));
  std::unique_lock lock(mutex);
  ready.wait(lock, [] { return false; });  // until interrupted
  return 0;
}

}  // namespace

int files(const Args& args) {
  Options options;
  if (!parse(args, options)) {
    std::fputs(
        "usage: vesk-tool files --root DIR [--list FILE] QUERY...\n"
        "       vesk-tool files --root DIR --watch\n",
        stderr);
    return 2;
  }
  std::string root = options.root;
  if (char resolved[PATH_MAX]; realpath(root.c_str(), resolved) != nullptr) {
    root = resolved;
  }
  if (options.watch) {
    return watch(root);
  }

  FileIndex index;
  const auto start = Clock::now();
  if (options.list.empty()) {
    FileScanner::scan(defaultRules(root), index);
  } else if (!indexList(options.list, root, index)) {
    return 1;
  }
  index.trim();
  const double buildMs = millisecondsSince(start);
  const size_t entries = index.count();
  const size_t bytes = index.memoryBytes();
  std::fprintf(stderr, "entries\t%zu\nbuild_ms\t%.1f\nmemory_bytes\t%zu\nbytes_per_entry\t%.1f\n",
               entries, buildMs, bytes,
               entries == 0 ? 0.0 : static_cast<double>(bytes) / static_cast<double>(entries));
  for (const std::string& query : options.queries) {
    const auto searchStart = Clock::now();
    const double cpuStart = processCpuMilliseconds();
    const auto hits = index.search(query, kLimit);
    const double searchMs = millisecondsSince(searchStart);
    const double cpuMs = processCpuMilliseconds() - cpuStart;
    for (const FileHit& hit : hits) {
      std::printf("%d\t%s\n", hit.score, hit.path.c_str());
    }
    std::fprintf(stderr, "search_ms\t%.3f\tcpu_ms\t%.3f\t%s\n", searchMs, cpuMs, query.c_str());
  }
  return 0;
}

}  // namespace vesk::tool
