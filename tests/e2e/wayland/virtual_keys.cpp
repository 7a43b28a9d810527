// virtual_keys: a keyboard for the tests, pressed through the compositor's virtual keyboard
// (zwp_virtual_keyboard_manager_v1), as a person's keyboard would be. Every run brings the same
// key map (xkbcommon's default layout): a client that reads a key with the map of the run before,
// as Xwayland may, still reads the right key. (wtype makes a map of the keys of each run.)
// Reads commands from stdin, one per line:
//
//   chord ctrl+alt+l   the key with those modifiers held (ctrl, alt, shift, super)
//   key Down           the key of that keysym name
//   type zqx           the text, letter by letter (Shift where the layout needs it)
//
// and exits once the compositor has them all: 0, or 2 when the layout lacks one of the keys.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include <sys/mman.h>
#include <unistd.h>

#include <virtual-keyboard-unstable-v1-client-protocol.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace {

struct State {
  wl_seat* seat = nullptr;
  zwp_virtual_keyboard_manager_v1* manager = nullptr;
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t /*version*/) {
  auto* state = static_cast<State*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && state->seat == nullptr) {
    state->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    state->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
        wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
  }
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
constexpr wl_registry_listener kRegistry{onGlobal, onGlobalRemove};

class Keyboard {
 public:
  Keyboard(zwp_virtual_keyboard_v1* keyboard, xkb_keymap* keymap)
      : keyboard_(keyboard), keymap_(keymap) {
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    const size_t size = std::strlen(text) + 1;
    const int fd = ::memfd_create("virtual-keys", MFD_CLOEXEC);
    [[maybe_unused]] const auto written = ::write(fd, text, size);
    std::free(text);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    ::close(fd);
  }

  // The modifier mask of a name, or 0.
  uint32_t modifier(const std::string& name) const {
    const char* xkbName = name == "ctrl"    ? XKB_MOD_NAME_CTRL
                          : name == "alt"   ? XKB_MOD_NAME_ALT
                          : name == "shift" ? XKB_MOD_NAME_SHIFT
                          : name == "super" ? XKB_MOD_NAME_LOGO
                                            : nullptr;
    const xkb_mod_index_t index =
        xkbName != nullptr ? xkb_keymap_mod_get_index(keymap_, xkbName) : XKB_MOD_INVALID;
    return index == XKB_MOD_INVALID ? 0 : 1U << index;
  }

  // The key typing `keysym` in the first group, and whether it needs Shift.
  std::optional<std::pair<xkb_keycode_t, bool>> find(xkb_keysym_t keysym) const {
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap_);
         code <= xkb_keymap_max_keycode(keymap_); ++code) {
      for (xkb_level_index_t level = 0; level < 2; ++level) {
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap_, code, 0, level, &syms);
        if (count == 1 && syms[0] == keysym) {
          return std::pair(code, level == 1);
        }
      }
    }
    return std::nullopt;
  }

  bool press(xkb_keysym_t keysym, uint32_t modifiers) {
    const auto key = find(keysym);
    if (!key) {
      return false;
    }
    const uint32_t held = modifiers | (key->second ? modifier("shift") : 0);
    const uint32_t code = key->first - 8;  // evdev's numbering
    zwp_virtual_keyboard_v1_modifiers(keyboard_, held, 0, 0, 0);
    zwp_virtual_keyboard_v1_key(keyboard_, ++time_, code, WL_KEYBOARD_KEY_STATE_PRESSED);
    zwp_virtual_keyboard_v1_key(keyboard_, ++time_, code, WL_KEYBOARD_KEY_STATE_RELEASED);
    zwp_virtual_keyboard_v1_modifiers(keyboard_, 0, 0, 0, 0);
    return true;
  }

 private:
  zwp_virtual_keyboard_v1* keyboard_;
  xkb_keymap* keymap_;
  uint32_t time_ = 0;
};

bool run(Keyboard& keyboard, const std::string& line) {
  std::istringstream words(line);
  std::string command;
  std::string argument;
  words >> command >> argument;
  if (command == "type") {
    for (const char c : argument) {
      if (!keyboard.press(xkb_utf32_to_keysym(static_cast<unsigned char>(c)), 0)) {
        return false;
      }
    }
    return true;
  }
  uint32_t modifiers = 0;
  if (command == "chord") {
    for (size_t plus = argument.find('+'); plus != std::string::npos; plus = argument.find('+')) {
      modifiers |= keyboard.modifier(argument.substr(0, plus));
      argument.erase(0, plus + 1);
    }
  } else if (command != "key") {
    return false;
  }
  const xkb_keysym_t keysym = xkb_keysym_from_name(argument.c_str(), XKB_KEYSYM_NO_FLAGS);
  return keysym != XKB_KEY_NoSymbol && keyboard.press(keysym, modifiers);
}

}  // namespace

int main() {
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "virtual_keys: no compositor\n");
    return 1;
  }
  State state;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, &state);
  wl_display_roundtrip(display);
  if (state.seat == nullptr || state.manager == nullptr) {
    std::fprintf(stderr, "virtual_keys: the compositor offers no virtual keyboard\n");
    return 1;
  }
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
  Keyboard keyboard(
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(state.manager, state.seat), keymap);
  wl_display_roundtrip(display);
  bool pressed = true;
  for (std::string line; std::getline(std::cin, line);) {
    if (!run(keyboard, line)) {
      std::fprintf(stderr, "virtual_keys: no key for \"%s\"\n", line.c_str());
      pressed = false;
    }
    wl_display_roundtrip(display);
  }
  xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  wl_display_disconnect(display);
  return pressed ? 0 : 2;
}
