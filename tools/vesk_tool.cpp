// vesk-tool: command-line access to Vesk's core, for checks and benchmarks.

#include <cstdio>
#include <string>
#include <string_view>

#include "tools/tool.h"

namespace {

constexpr const char* kUsage =
    "usage: vesk-tool COMMAND [ARGS]\n"
    "\n"
    "  score                 read lines QUERY<TAB>NAME, print each fuzzy score or '-'\n"
    "  rank QUERY            read one application name per line, print the best 50\n"
    "  toml                  read TOML, print it as tagged JSON\n"
    "  config [FILE]         check a configuration file and list its problems\n"
    "  config --template     print the default configuration\n"
    "  files --root DIR [--list FILE] QUERY...   search the files under DIR\n"
    "  files --root DIR --watch                  print the changes applied from events\n"
    "  clips --folder DIR --fill N | --search QUERY... | --prune MAX_BYTES MAX_AGE_SECONDS\n"
    "  update-feed --key KEY.pem --archive FILE --url URL --version V   sign a release feed\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string_view command = argv[1];
  const vesk::tool::Args args(argv + 2, argv + argc);
  if (command == "score") {
    return vesk::tool::score(args);
  }
  if (command == "rank") {
    return vesk::tool::rank(args);
  }
  if (command == "toml") {
    return vesk::tool::toml(args);
  }
  if (command == "config") {
    return vesk::tool::config(args);
  }
  if (command == "files") {
    return vesk::tool::files(args);
  }
  if (command == "clips") {
    return vesk::tool::clips(args);
  }
  if (command == "update-feed") {
    return vesk::tool::updateFeed(args);
  }
  if (command == "help" || command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  std::fprintf(stderr, "vesk-tool: unknown command '%s'\n\n%s", argv[1], kUsage);
  return 2;
}
