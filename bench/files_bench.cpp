// File search benchmarks over a generated home folder of 1,000,000 entries.
//
// The tree is shaped like a real home: projects with source trees, photo years, music albums,
// documents and downloads; depth up to 8, names of 2 to 60 bytes, the usual extensions, and
// about 2 % non-ASCII names. The same generator writes the path list and the real tree used
// by files_compare.sh:
//
//   bench_files --write-paths FILE [ENTRIES] [ROOT]   one path per line, folders end in "/"
//   bench_files --make-tree DIR [ENTRIES]             create the tree on disk (empty files)
//   bench_files --print-hits [QUERY...]               the best 50 hits of each keystroke below
//                                                     (or of each QUERY), to compare rankings
//   bench_files --time-keystrokes [ROUNDS]            each keystroke's median wall and processor
//                                                     time over ROUNDS searches (default 15)
//   bench_files [benchmark options]                   run the benchmarks

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <time.h>

#include <benchmark/benchmark.h>

#include "core/files/file_index.h"

namespace vesk {
namespace {

constexpr size_t kEntries = 1'000'000;
constexpr const char* kRoot = "/home/user";

struct Node {
  std::string name;
  int32_t parent = -1;  // -1: directly in the root
  bool folder = false;
};

const std::vector<std::string> kWords = {
    "project", "report",    "notes",   "budget",  "invoice", "draft",    "final",   "summary",
    "design",  "server",    "client",  "parser",  "config",  "utils",    "helper",  "manager",
    "service", "handler",   "model",   "view",    "index",   "main",     "readme",  "test",
    "data",    "backup",    "photo",   "holiday", "family",  "meeting",  "plan",    "review",
    "vesk",    "kernel",    "network", "search",  "matcher", "engine",   "widget",  "theme",
    "Résumé",  "Übersicht", "café",    "naïve",   "日本語",  "Ελληνικά", "Beyoncé", "Sigur Rós"};
const std::vector<std::string> kCodeExtensions = {".cpp", ".h",  ".py",   ".ts",   ".js", ".rs",
                                                  ".go",  ".md", ".json", ".toml", ".txt"};
const std::vector<std::string> kDocExtensions = {".pdf", ".docx", ".xlsx", ".odt",
                                                 ".txt", ".md",   ".pptx", ".csv"};
const std::vector<std::string> kSourceFolders = {"src", "include", "tests", "docs",     "scripts",
                                                 "lib", "assets",  "build", "examples", "tools"};

class TreeGenerator {
 public:
  explicit TreeGenerator(size_t target) : target_(target) { nodes_.reserve(target); }

  std::vector<Node> generate() {
    const int32_t projects = add("Projects", -1, true);
    const int32_t pictures = add("Pictures", -1, true);
    const int32_t music = add("Music", -1, true);
    const int32_t documents = add("Documents", -1, true);
    const int32_t downloads = add("Downloads", -1, true);
    while (nodes_.size() < target_) {
      const int area = pick(100);
      if (area < 45) {
        project(projects);
      } else if (area < 60) {
        photos(pictures);
      } else if (area < 72) {
        album(music);
      } else if (area < 90) {
        folderOfDocuments(documents, 0);
      } else {
        files(downloads, 20, kDocExtensions);
      }
    }
    nodes_.resize(target_);
    return std::move(nodes_);
  }

 private:
  int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  const std::string& word() {
    // Non-ASCII words are the last eight; keep them rare.
    const size_t ascii = kWords.size() - 8;
    return pick(50) == 0 ? kWords[ascii + static_cast<size_t>(pick(8))]
                         : kWords[static_cast<size_t>(pick(static_cast<int>(ascii)))];
  }
  std::string fileName(const std::vector<std::string>& extensions) {
    std::string name = word();
    const int shape = pick(4);
    if (shape == 0) {
      name.append("_").append(word());
    } else if (shape == 1) {
      name.append("-").append(std::to_string(pick(2000)));
    } else if (shape == 2) {
      name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
      name.append(" ").append(word()).append(" ").append(std::to_string(2010 + pick(15)));
    }
    return name + extensions[static_cast<size_t>(pick(static_cast<int>(extensions.size())))];
  }
  int32_t add(std::string name, int32_t parent, bool folder) {
    nodes_.push_back({std::move(name), parent, folder});
    return static_cast<int32_t>(nodes_.size() - 1);
  }
  void files(int32_t folder, int most, const std::vector<std::string>& extensions) {
    const int count = 1 + pick(most);
    for (int i = 0; i < count; ++i) {
      add(fileName(extensions), folder, false);
    }
  }
  void sourceTree(int32_t folder, int depth) {
    files(folder, 12, kCodeExtensions);
    if (depth >= 7) {
      return;
    }
    const int subfolders = pick(depth < 3 ? 5 : 3);
    for (int i = 0; i < subfolders; ++i) {
      const std::string& name =
          pick(2) == 0 ? kSourceFolders[static_cast<size_t>(pick(10))] : word();
      sourceTree(add(name + (i > 0 ? std::to_string(i) : ""), folder, true), depth + 1);
    }
  }
  void project(int32_t projects) {
    const int32_t repo = add(word() + "-" + word() + std::to_string(pick(100)), projects, true);
    add("README.md", repo, false);
    add("Makefile", repo, false);
    sourceTree(repo, 2);
  }
  void photos(int32_t pictures) {
    const int32_t year =
        add(std::to_string(2005 + pick(20)) + "-" + std::to_string(nodes_.size()), pictures, true);
    const int32_t event = add(word() + " " + word(), year, true);
    const int count = 10 + pick(80);
    for (int i = 0; i < count; ++i) {
      add("IMG_" + std::to_string(1000 + pick(9000)) + (pick(3) == 0 ? ".JPG" : ".HEIC"), event,
          false);
    }
  }
  void album(int32_t music) {
    const int32_t artist = add(word() + " " + word(), music, true);
    const int32_t record = add(word() + " (" + std::to_string(1970 + pick(55)) + ")", artist, true);
    const int tracks = 8 + pick(10);
    for (int i = 1; i <= tracks; ++i) {
      std::string track(i < 10 ? "0" : "");
      track.append(std::to_string(i)).append(" - ").append(word()).append(" ").append(word());
      add(track + ".mp3", record, false);
    }
  }
  void folderOfDocuments(int32_t parent, int depth) {
    const int32_t folder = add(word() + " " + std::to_string(2000 + pick(25)), parent, true);
    files(folder, 25, kDocExtensions);
    if (depth < 4 && pick(3) == 0) {
      folderOfDocuments(folder, depth + 1);
    }
  }

  size_t target_;
  std::mt19937 rng_{20240607};
  std::vector<Node> nodes_;
};

const std::vector<Node>& tree() {
  static const std::vector<Node> nodes = TreeGenerator(kEntries).generate();
  return nodes;
}

std::vector<std::string> pathsOf(const std::vector<Node>& nodes, const std::string& root) {
  std::vector<std::string> paths(nodes.size());
  for (size_t i = 0; i < nodes.size(); ++i) {
    const Node& node = nodes[i];
    const std::string& above = node.parent < 0 ? root : paths[static_cast<size_t>(node.parent)];
    paths[i] = above + "/" + node.name;
  }
  return paths;
}

// With `reserve`, room for the whole list is made first, as a rescan does with the last scan's
// sizes; without, the columns grow as they fill, as in the first scan.
FileIndex build(const std::vector<Node>& nodes, bool reserve = true) {
  FileIndex index;
  if (reserve) {
    FileIndex::Capacity capacity{nodes.size() + 1, std::strlen(kRoot), 0};
    for (const Node& node : nodes) {
      capacity.nameBytes += node.name.size();
    }
    capacity.keyBytes = capacity.nameBytes;
    index.reserve(capacity);
  }
  const int32_t root = index.addRoot(kRoot);
  // Node i becomes entry i + 1: the root is entry 0.
  for (const Node& node : nodes) {
    index.add(node.name, node.parent < 0 ? root : node.parent + 1, node.folder);
  }
  index.trim();
  return index;
}

const FileIndex& builtIndex() {
  static const FileIndex index = build(tree());
  return index;
}

const std::vector<std::string> kKeystrokes = {
    "p",         "pr",       "pro",  "proj", "proj ",    "proj r",   "proj re",  "proj rea",
    "proj read", "r",        "re",   "rep",  "repo",     "report",   "report 2", "report 20",
    "img",       "img 2019", "beyo", "résu", "main.cpp", "src/main", "xq",       "zzzzzz"};

void BM_BuildFromList(benchmark::State& state) {
  const auto& nodes = tree();
  size_t bytes = 0;
  for (auto _ : state) {
    FileIndex index = build(nodes, state.range(0) != 0);
    bytes = index.memoryBytes();
    benchmark::DoNotOptimize(index);
  }
  state.counters["entries"] = static_cast<double>(nodes.size());
  state.counters["bytes_per_entry"] =
      static_cast<double>(bytes) / static_cast<double>(nodes.size());
}
// Argument 1: reserved first; 0: grown.
BENCHMARK(BM_BuildFromList)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(2);

double processCpuMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double percentile(std::vector<double> values, size_t percent) {
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, values.size() * percent / 100)];
}

// One search per keystroke of the sequence; median and 99th percentile over all of them, of
// the wall clock and of the processor time of all threads (which a busy machine does not
// inflate: on an idle one the wall time lies between it and half of it, with two cores).
void BM_KeystrokeSequence(benchmark::State& state) {
  const FileIndex& index = builtIndex();
  std::vector<double> wall;
  std::vector<double> cpu;
  for (auto _ : state) {
    for (const std::string& query : kKeystrokes) {
      const auto start = std::chrono::steady_clock::now();
      const double cpuStart = processCpuMilliseconds();
      auto hits = index.search(query, 50);
      cpu.push_back(processCpuMilliseconds() - cpuStart);
      wall.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      benchmark::DoNotOptimize(hits);
    }
  }
  state.counters["median_ms"] = percentile(wall, 50);
  state.counters["p99_ms"] = percentile(wall, 99);
  state.counters["max_ms"] = percentile(wall, 100);
  state.counters["median_cpu_ms"] = percentile(cpu, 50);
  state.counters["p99_cpu_ms"] = percentile(cpu, 99);
  state.counters["searches"] = static_cast<double>(wall.size());
}
BENCHMARK(BM_KeystrokeSequence)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_Search(benchmark::State& state) {
  const FileIndex& index = builtIndex();
  const std::string& query = kKeystrokes[static_cast<size_t>(state.range(0))];
  state.SetLabel(query);
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.search(query, 50));
  }
}
BENCHMARK(BM_Search)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);

void BM_MemoryPerEntry(benchmark::State& state) {
  const FileIndex& index = builtIndex();
  for (auto _ : state) {
    benchmark::DoNotOptimize(index.memoryBytes());
  }
  state.counters["bytes_per_entry"] =
      static_cast<double>(index.memoryBytes()) / static_cast<double>(index.count());
}
BENCHMARK(BM_MemoryPerEntry)->Iterations(1);

// What one created file costs the index once its event arrives: a lookup of the parent and an
// append (the event path adds one lstat, about a microsecond). Removal undoes it each time.
void BM_InsertOneFile(benchmark::State& state) {
  static FileIndex index = build(tree());
  const std::vector<std::string> paths = pathsOf(tree(), kRoot);
  std::string parent;
  for (size_t i = paths.size() / 2; i < paths.size(); ++i) {
    if (tree()[i].folder) {
      parent = paths[i];
      break;
    }
  }
  int n = 0;
  for (auto _ : state) {
    const std::string path = parent + "/new file " + std::to_string(n++) + ".txt";
    benchmark::DoNotOptimize(index.insert(path, false, 32));
    index.remove(path);
  }
}
BENCHMARK(BM_InsertOneFile)->Unit(benchmark::kMicrosecond);

int writePaths(const char* file, size_t entries, const std::string& root) {
  std::ofstream out(file);
  const auto nodes = TreeGenerator(entries).generate();
  const auto paths = pathsOf(nodes, root);
  for (size_t i = 0; i < paths.size(); ++i) {
    out << paths[i] << (nodes[i].folder ? "/\n" : "\n");
  }
  return out ? 0 : 1;
}

int makeTree(const std::string& dir, size_t entries) {
  const auto nodes = TreeGenerator(entries).generate();
  const auto paths = pathsOf(nodes, dir);
  std::filesystem::create_directories(dir);
  for (size_t i = 0; i < paths.size(); ++i) {
    if (nodes[i].folder) {
      std::filesystem::create_directory(paths[i]);
    } else if (FILE* f = std::fopen(paths[i].c_str(), "w")) {
      std::fclose(f);
    }
  }
  return 0;
}

int printHits(const std::vector<std::string>& queries) {
  const FileIndex& index = builtIndex();
  for (const std::string& query : queries) {
    std::printf("== %s\n", query.c_str());
    for (const FileHit& hit : index.search(query, 50)) {
      std::printf("%d %s%s\n", hit.score, hit.path.c_str(), hit.isFolder ? "/" : "");
    }
  }
  return 0;
}

// One line per keystroke: "query<TAB>wall_ms<TAB>cpu_ms", medians over the rounds, which run
// the whole sequence each so that a noisy moment spreads over every keystroke.
int timeKeystrokes(int rounds) {
  const FileIndex& index = builtIndex();
  std::vector<std::vector<double>> wall(kKeystrokes.size());
  std::vector<std::vector<double>> cpu(kKeystrokes.size());
  for (int round = 0; round < rounds; ++round) {
    for (size_t q = 0; q < kKeystrokes.size(); ++q) {
      const auto start = std::chrono::steady_clock::now();
      const double cpuStart = processCpuMilliseconds();
      auto hits = index.search(kKeystrokes[q], 50);
      cpu[q].push_back(processCpuMilliseconds() - cpuStart);
      wall[q].push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      benchmark::DoNotOptimize(hits);
    }
  }
  for (size_t q = 0; q < kKeystrokes.size(); ++q) {
    std::printf("%s\t%.3f\t%.3f\n", kKeystrokes[q].c_str(), percentile(wall[q], 50),
                percentile(cpu[q], 50));
  }
  return 0;
}

}  // namespace
}  // namespace vesk

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--write-paths") == 0) {
    const size_t entries = argc >= 4 ? std::stoul(argv[3]) : vesk::kEntries;
    return vesk::writePaths(argv[2], entries, argc >= 5 ? argv[4] : vesk::kRoot);
  }
  if (argc >= 3 && std::strcmp(argv[1], "--make-tree") == 0) {
    return vesk::makeTree(argv[2], argc >= 4 ? std::stoul(argv[3]) : vesk::kEntries);
  }
  if (argc >= 2 && std::strcmp(argv[1], "--print-hits") == 0) {
    return vesk::printHits(argc > 2 ? std::vector<std::string>(argv + 2, argv + argc)
                                    : vesk::kKeystrokes);
  }
  if (argc >= 2 && std::strcmp(argv[1], "--time-keystrokes") == 0) {
    return vesk::timeKeystrokes(argc >= 3 ? std::stoi(argv[2]) : 15);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
