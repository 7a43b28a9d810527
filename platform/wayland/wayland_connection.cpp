#include "platform/wayland/wayland_connection.h"

#include <algorithm>

#include <wayland-client.h>

namespace vesk {
namespace {

void onGlobal(void* data, wl_registry* /*registry*/, uint32_t name, const char* interface,
              uint32_t version) {
  static_cast<std::vector<WaylandConnection::Global>*>(data)->push_back({name, interface, version});
}

void onGlobalRemove(void* data, wl_registry* /*registry*/, uint32_t name) {
  auto& globals = *static_cast<std::vector<WaylandConnection::Global>*>(data);
  std::erase_if(globals, [name](const auto& global) { return global.name == name; });
}

constexpr wl_registry_listener kRegistryListener{onGlobal, onGlobalRemove};

}  // namespace

Result<std::unique_ptr<WaylandConnection>> WaylandConnection::open(const std::string& display) {
  wl_display* connection = wl_display_connect(display.empty() ? nullptr : display.c_str());
  if (connection == nullptr) {
    return Failure{"couldn't connect to the Wayland compositor"};
  }
  wl_registry* registry = wl_display_get_registry(connection);
  std::unique_ptr<WaylandConnection> opened(new WaylandConnection(connection, registry));
  wl_registry_add_listener(registry, &kRegistryListener, &opened->globals_);
  if (!opened->roundtrip()) {
    return Failure{"the Wayland compositor closed the connection"};
  }
  return opened;
}

WaylandConnection::WaylandConnection(wl_display* display, wl_registry* registry)
    : display_(display), registry_(registry) {}

WaylandConnection::~WaylandConnection() {
  wl_registry_destroy(registry_);
  wl_display_disconnect(display_);
}

bool WaylandConnection::offers(std::string_view interface) const {
  return std::any_of(globals_.begin(), globals_.end(),
                     [&](const Global& global) { return global.interface == interface; });
}

void* WaylandConnection::bind(const wl_interface& interface, uint32_t version) {
  for (const Global& global : globals_) {
    if (global.interface == interface.name) {
      return wl_registry_bind(registry_, global.name, &interface,
                              std::min(version, global.version));
    }
  }
  return nullptr;
}

bool WaylandConnection::roundtrip() {
  return wl_display_roundtrip(display_) >= 0;
}

bool WaylandConnection::broken() const {
  return wl_display_get_error(display_) != 0;
}

}  // namespace vesk
