// Placeholder until this area's subcommands exist.

#include <cstdio>

#include "tools/tool.h"

namespace vesk::tool {

int clips(const Args&) {
  std::fputs("vesk-tool clips: not built yet\n", stderr);
  return 2;
}

}  // namespace vesk::tool
