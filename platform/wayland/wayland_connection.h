#pragma once
// WaylandConnection: one connection to the Wayland compositor and the globals it offers, read
// once at connection. Each Wayland service of Vesk opens its own, so that its events are
// dispatched by the one thread that owns it.
//
// Threads: not thread-safe; the owner's thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/result.h"

struct wl_display;
struct wl_registry;
struct wl_interface;

namespace vesk {

class WaylandConnection final {
 public:
  struct Global {
    uint32_t name = 0;
    std::string interface;
    uint32_t version = 0;
  };

  // Connects to `display` ("" = $WAYLAND_DISPLAY) and reads the globals.
  static Result<std::unique_ptr<WaylandConnection>> open(const std::string& display);
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  wl_display* display() const { return display_; }
  const std::vector<Global>& globals() const { return globals_; }
  bool offers(std::string_view interface) const;

  // Binds the first global of `interface` at the lower of `version` and the offered version;
  // null when it isn't offered.
  void* bind(const wl_interface& interface, uint32_t version);

  // Sends what is queued and waits until the compositor handled it (its events dispatched);
  // false when the connection broke.
  bool roundtrip();
  // Whether the connection broke (the compositor went away or refused a request).
  bool broken() const;

 private:
  WaylandConnection(wl_display* display, wl_registry* registry);

  wl_display* display_;
  wl_registry* registry_;
  std::vector<Global> globals_;
};

}  // namespace vesk
