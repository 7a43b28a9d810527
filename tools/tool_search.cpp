// vesk-tool score and rank: the matcher and the application index from the command line.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/search/fuzzy_matcher.h"
#include "core/search/item.h"
#include "core/search/search_index.h"
#include "tools/tool.h"

namespace vesk::tool {
namespace {

// Reads standard input line by line into one reused buffer; lines may be any length and hold
// any bytes.
class LineReader {
 public:
  LineReader() = default;
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader() { std::free(buffer_); }

  // The next line without its line feed, or false at the end of input.
  bool next(std::string_view& line) {
    const ssize_t length = getline(&buffer_, &capacity_, stdin);
    if (length < 0) {
      return false;
    }
    size_t n = static_cast<size_t>(length);
    if (n > 0 && buffer_[n - 1] == '\n') {
      --n;
    }
    line = std::string_view(buffer_, n);
    return true;
  }

 private:
  char* buffer_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace

int score(const Args& args) {
  if (!args.empty()) {
    std::fputs("usage: vesk-tool score < lines of QUERY<TAB>NAME\n", stderr);
    return 2;
  }
  static char outputBuffer[1 << 16];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  LineReader reader;
  std::string_view line;
  // Consecutive lines usually share their query: keep its matcher (and its scratch).
  std::string lastQuery;
  std::unique_ptr<FuzzyMatcher> matcher;
  SearchKey key;
  while (reader.next(line)) {
    const size_t tab = line.find('\t');
    const std::string_view query = line.substr(0, tab);
    const std::string_view name =
        tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
    if (!matcher || query != lastQuery) {
      lastQuery.assign(query);
      matcher = std::make_unique<FuzzyMatcher>(query);
    }
    key.bytes.clear();
    key.bonus.clear();
    Folding::fold(name, key.bytes, key.bonus);
    key.mask = Folding::mask(key.bytes);
    if (const auto s = matcher->score(key)) {
      std::printf("%d\n", *s);
    } else {
      std::fputs("-\n", stdout);
    }
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int rank(const Args& args) {
  if (args.size() != 1) {
    std::fputs("usage: vesk-tool rank QUERY < one name per line\n", stderr);
    return 2;
  }
  std::vector<Item> items;
  LineReader reader;
  std::string_view line;
  while (reader.next(line)) {
    if (line.empty()) {
      continue;
    }
    std::string name(line);
    // Each name stands for an application whose desktop file carries the same name.
    std::string file = name;
    std::replace(file.begin(), file.end(), '/', '-');
    std::string path = "/usr/share/applications/" + file + ".desktop";
    items.push_back(Item::app(std::move(name), path));
  }
  const SearchIndex index(std::move(items));
  for (const auto& result : index.scoredSearch(args[0], 50)) {
    std::printf("%d\t%s\n", result.score, index.items()[result.index].name.c_str());
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace vesk::tool
