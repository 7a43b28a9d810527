#pragma once
// HotKeyNotice: what Vesk says about its hot keys at start, as a desktop notification, since the
// panel's problem rows are out of reach while no key opens the panel: on the first start (the
// configuration file was just written) which keys open Vesk, and at any start where a hot key
// couldn't be set up which one and the file to change it in. Plain values.

#include <optional>
#include <string>

namespace vesk {

class GlobalHotkeys;

struct HotKeyNotice {
  enum class Kind {
    ready,    // the keys that open Vesk; clicking opens the launcher
    refused,  // the hot keys that couldn't be set up; clicking opens the configuration file
  };

  Kind kind = Kind::ready;
  std::string title;
  std::string body;

  // After the first `apply` of `hotkeys` (slots "launcher", "clipboard", "paste_next"). None
  // when every hot key is set up and this isn't the first start.
  static std::optional<HotKeyNotice> atStart(bool firstStart, const GlobalHotkeys& hotkeys,
                                             const std::string& configFile);
};

}  // namespace vesk
