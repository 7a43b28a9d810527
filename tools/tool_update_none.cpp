// vesk-tool update-feed in a build without the platform library.

#include <cstdio>

#include "tools/tool.h"

namespace vesk::tool {

int updateFeed(const Args&) {
  std::fputs("vesk-tool: update-feed needs a build with the application (VESK_BUILD_APP)\n",
             stderr);
  return 1;
}

}  // namespace vesk::tool
