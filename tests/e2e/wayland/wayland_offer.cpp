// wayland_offer: puts a copy on a Wayland compositor's clipboard through wlr data-control, as a
// test's copying application, and serves it until another copy replaces it.
//
//   wayland_offer [--stall] MIME=VALUE...   (split at the last "=")
//
// Each MIME type is offered with its value; with --stall, requests are accepted and never
// answered (the pipes stay open, nothing is written), as an owner that hangs. Prints "offered"
// once the compositor has the copy.

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include <wayland-client.h>
#include <wlr-data-control-unstable-v1-client-protocol.h>

namespace {

struct State {
  std::vector<std::pair<std::string, std::string>> offer;
  bool stall = false;
  bool cancelled = false;
  std::vector<int> held;
  wl_seat* seat = nullptr;
  zwlr_data_control_manager_v1* manager = nullptr;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t /*version*/) {
  auto* state = static_cast<State*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && state->seat == nullptr) {
    state->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
    state->manager = static_cast<zwlr_data_control_manager_v1*>(
        wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
  }
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
constexpr wl_registry_listener kRegistry{onGlobal, onGlobalRemove};

void onSend(void* data, zwlr_data_control_source_v1* /*source*/, const char* mimeType, int fd) {
  auto* state = static_cast<State*>(data);
  if (state->stall) {
    state->held.push_back(fd);
    return;
  }
  for (const auto& [type, value] : state->offer) {
    if (type == mimeType) {
      [[maybe_unused]] const auto written = ::write(fd, value.data(), value.size());
    }
  }
  ::close(fd);
}
void onCancelled(void* data, zwlr_data_control_source_v1* /*source*/) {
  static_cast<State*>(data)->cancelled = true;
}
constexpr zwlr_data_control_source_v1_listener kSource{onSend, onCancelled};

void onDataOffer(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
  zwlr_data_control_offer_v1_destroy(offer);
}
void onSelection(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {}
void onFinished(void*, zwlr_data_control_device_v1*) {}
void onPrimary(void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1*) {}
constexpr zwlr_data_control_device_v1_listener kDevice{onDataOffer, onSelection, onFinished,
                                                       onPrimary};

}  // namespace

int main(int argc, char** argv) {
  State state;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const size_t equals = argument.rfind('=');
    if (argument == "--stall") {
      state.stall = true;
    } else if (equals != std::string::npos) {
      state.offer.emplace_back(argument.substr(0, equals), argument.substr(equals + 1));
    }
  }
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr || state.offer.empty()) {
    std::fprintf(stderr, "wayland_offer: no compositor, or nothing to offer\n");
    return 2;
  }
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, &state);
  wl_display_roundtrip(display);
  if (state.seat == nullptr || state.manager == nullptr) {
    std::fprintf(stderr, "wayland_offer: the compositor offers no data-control\n");
    return 2;
  }
  auto* device = zwlr_data_control_manager_v1_get_data_device(state.manager, state.seat);
  zwlr_data_control_device_v1_add_listener(device, &kDevice, &state);
  auto* source = zwlr_data_control_manager_v1_create_data_source(state.manager);
  for (const auto& [type, value] : state.offer) {
    zwlr_data_control_source_v1_offer(source, type.c_str());
  }
  zwlr_data_control_source_v1_add_listener(source, &kSource, &state);
  zwlr_data_control_device_v1_set_selection(device, source);
  wl_display_roundtrip(display);
  std::printf("offered\n");
  std::fflush(stdout);
  while (!state.cancelled && wl_display_dispatch(display) >= 0) {
  }
  for (const int fd : state.held) {
    ::close(fd);
  }
  wl_display_disconnect(display);
  return 0;
}
