// Placeholder until this area's subcommands exist.

#include <cstdio>

#include "tools/tool.h"

namespace vesk::tool {

int toml(const Args&) {
  std::fputs("vesk-tool toml: not built yet\n", stderr);
  return 2;
}

int config(const Args&) {
  std::fputs("vesk-tool config: not built yet\n", stderr);
  return 2;
}

}  // namespace vesk::tool
