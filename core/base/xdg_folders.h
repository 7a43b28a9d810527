#pragma once
// XDGFolders: where the desktop wants a program's files, by the XDG base-directory rules.
//
// A variable counts only when it holds an absolute path; otherwise the default below home
// applies. Home is $HOME, else the password database's entry, else "/". Paths never end in
// "/" (except "/" itself) and never hold "//".
//
// Reads the environment it was given at each call. The process environment must not change
// while another thread reads it, so the default instance is meant for start-up.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

class XDGFolders final {
 public:
  // The value of an environment variable; empty when unset.
  using Lookup = std::function<std::string(const char* name)>;

  // The process environment.
  XDGFolders();
  explicit XDGFolders(Lookup lookup);

  std::string home() const;
  std::string configHome() const;  // $XDG_CONFIG_HOME, else ~/.config
  std::string dataHome() const;    // $XDG_DATA_HOME, else ~/.local/share
  std::string stateHome() const;   // $XDG_STATE_HOME, else ~/.local/state
  std::string cacheHome() const;   // $XDG_CACHE_HOME, else ~/.cache
  // $XDG_RUNTIME_DIR; none when unset, since no default is private enough.
  std::optional<std::string> runtimeDir() const;
  // The absolute entries of $XDG_DATA_DIRS in order; /usr/local/share and /usr/share when it
  // is unset or empty.
  std::vector<std::string> dataDirs() const;
  // XDG_DOWNLOAD_DIR of the user's "user-dirs.dirs" in the config home, else ~/Downloads.
  std::string downloads() const;

 private:
  std::string absolute(const char* name) const;
  std::string belowHome(std::string_view relative) const;

  Lookup lookup_;
};

}  // namespace vesk
