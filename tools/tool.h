#pragma once
// Subcommands of vesk-tool. Each takes the arguments after its name and returns the exit
// status.

#include <string>
#include <vector>

namespace vesk::tool {

using Args = std::vector<std::string>;

int score(const Args& args);
int rank(const Args& args);
int toml(const Args& args);
int config(const Args& args);
int files(const Args& args);
int clips(const Args& args);
// Only in builds with the platform library.
int updateFeed(const Args& args);

}  // namespace vesk::tool
