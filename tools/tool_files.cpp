// Placeholder until this area's subcommands exist.

#include <cstdio>

#include "tools/tool.h"

namespace vesk::tool {

int files(const Args&) {
  std::fputs("vesk-tool files: not built yet\n", stderr);
  return 2;
}

}  // namespace vesk::tool
