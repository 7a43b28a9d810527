#include "platform/wayland/wayland_key_synthesizer.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

#include <virtual-keyboard-unstable-v1-client-protocol.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/wayland/wayland_connection.h"

namespace vesk {
namespace {

// X key codes are the kernel's plus 8.
constexpr uint32_t kX11Offset = 8;
// How long the paste waits for the compositor to give the focus back before asking for it.
constexpr std::chrono::milliseconds kActivateAfter{100};

uint32_t milliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

}  // namespace

struct WaylandKeySynthesizer::State {
  std::unique_ptr<WaylandConnection> connection;
  wl_seat* seat = nullptr;
  wl_keyboard* keyboard = nullptr;
  zwp_virtual_keyboard_manager_v1* manager = nullptr;
  zwp_virtual_keyboard_v1* virtualKeyboard = nullptr;
  std::string keymap;    // the seat's, as text
  std::string uploaded;  // the one the virtual keyboard carries
  uint32_t control = 0;  // modifier masks in `uploaded`
  uint32_t shift = 0;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  State(State&&) = delete;
  State& operator=(State&&) = delete;
  ~State() {
    if (virtualKeyboard != nullptr) {
      zwp_virtual_keyboard_v1_destroy(virtualKeyboard);
    }
    if (manager != nullptr) {
      zwp_virtual_keyboard_manager_v1_destroy(manager);
    }
    if (keyboard != nullptr) {
      wl_keyboard_destroy(keyboard);
    }
    if (seat != nullptr) {
      wl_seat_destroy(seat);
    }
  }

  static void onKeymap(void* data, wl_keyboard* /*keyboard*/, uint32_t format, int32_t fd,
                       uint32_t size) {
    auto* state = static_cast<State*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
      void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (mapped != MAP_FAILED) {
        const std::string_view text(static_cast<const char*>(mapped), size);
        state->keymap.assign(text.substr(0, text.find('\0')));
        munmap(mapped, size);
      }
    }
    ::close(fd);
  }
  // Only the key map matters: Vesk never reads keys from the seat.
  static void onEnter(void* /*data*/, wl_keyboard* /*keyboard*/, uint32_t /*serial*/,
                      wl_surface* /*surface*/, wl_array* /*keys*/) {}
  static void onLeave(void* /*data*/, wl_keyboard* /*keyboard*/, uint32_t /*serial*/,
                      wl_surface* /*surface*/) {}
  static void onKey(void* /*data*/, wl_keyboard* /*keyboard*/, uint32_t /*serial*/,
                    uint32_t /*time*/, uint32_t /*key*/, uint32_t /*state*/) {}
  static void onModifiers(void* /*data*/, wl_keyboard* /*keyboard*/, uint32_t /*serial*/,
                          uint32_t /*depressed*/, uint32_t /*latched*/, uint32_t /*locked*/,
                          uint32_t /*group*/) {}
  static void onRepeat(void* /*data*/, wl_keyboard* /*keyboard*/, int32_t /*rate*/,
                       int32_t /*delay*/) {}
  static constexpr wl_keyboard_listener kKeyboardListener{onKeymap, onEnter,     onLeave,
                                                          onKey,    onModifiers, onRepeat};

  // A seat without a keyboard (yet) refuses get_keyboard with a protocol error that would end
  // the connection: the seat's key map is asked for only once it has one.
  static void onCapabilities(void* data, wl_seat* seat, uint32_t capabilities) {
    auto* state = static_cast<State*>(data);
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0 && state->keyboard == nullptr) {
      state->keyboard = wl_seat_get_keyboard(seat);
      wl_keyboard_add_listener(state->keyboard, &kKeyboardListener, state);
    }
  }
  static void onSeatName(void* /*data*/, wl_seat* /*seat*/, const char* /*name*/) {}
  static constexpr wl_seat_listener kSeatListener{onCapabilities, onSeatName};

  // Gives the virtual keyboard the seat's key map (or the default one), once per change.
  Result<bool> upload() {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context == nullptr) {
      return Failure{"xkbcommon couldn't start"};
    }
    xkb_keymap* map =
        keymap.empty()
            ? xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS)
            : xkb_keymap_new_from_string(context, keymap.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                         XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_context_unref(context);
    if (map == nullptr) {
      return Failure{"the keyboard's key map couldn't be read"};
    }
    char* text = xkb_keymap_get_as_string(map, XKB_KEYMAP_FORMAT_TEXT_V1);
    const std::string wanted = text == nullptr ? std::string() : std::string(text);
    std::free(text);  // NOLINT(cppcoreguidelines-no-malloc): xkbcommon's allocation
    const xkb_mod_index_t controlIndex = xkb_keymap_mod_get_index(map, XKB_MOD_NAME_CTRL);
    const xkb_mod_index_t shiftIndex = xkb_keymap_mod_get_index(map, XKB_MOD_NAME_SHIFT);
    xkb_keymap_unref(map);
    if (wanted.empty() || controlIndex == XKB_MOD_INVALID || shiftIndex == XKB_MOD_INVALID) {
      return Failure{"the keyboard's key map has no Control or Shift"};
    }
    if (wanted == uploaded) {
      return true;
    }
    const int fd = memfd_create("vesk-keymap", MFD_CLOEXEC);
    if (fd < 0) {
      return Failure{"couldn't pass the key map to the compositor"};
    }
    const size_t size = wanted.size() + 1;  // with its NUL
    size_t written = 0;
    while (written < size) {
      const ssize_t n = ::write(fd, wanted.c_str() + written, size - written);
      if (n <= 0) {
        ::close(fd);
        return Failure{"couldn't pass the key map to the compositor"};
      }
      written += static_cast<size_t>(n);
    }
    zwp_virtual_keyboard_v1_keymap(virtualKeyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    ::close(fd);
    uploaded = wanted;
    control = 1U << controlIndex;
    shift = 1U << shiftIndex;
    return true;
  }
};

Result<std::unique_ptr<WaylandKeySynthesizer>> WaylandKeySynthesizer::open(Options options) {
  auto opened = WaylandConnection::open(options.display);
  if (!opened) {
    return opened.failure();
  }
  auto state = std::make_unique<State>();
  state->connection = std::move(opened).value();
  WaylandConnection& connection = *state->connection;
  state->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
      connection.bind(zwp_virtual_keyboard_manager_v1_interface, 1));
  state->seat = static_cast<wl_seat*>(connection.bind(wl_seat_interface, 1));
  if (state->manager == nullptr || state->seat == nullptr) {
    // Nothing to press with: no connection kept.
    return std::unique_ptr<WaylandKeySynthesizer>(
        new WaylandKeySynthesizer(std::move(options), {}));
  }
  wl_seat_add_listener(state->seat, &State::kSeatListener, state.get());
  state->virtualKeyboard =
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(state->manager, state->seat);
  connection.roundtrip();  // the seat's capabilities
  connection.roundtrip();  // its key map, when it has a keyboard
  if (connection.broken()) {
    return Failure{"the compositor refused Vesk a virtual keyboard"};
  }
  return std::unique_ptr<WaylandKeySynthesizer>(
      new WaylandKeySynthesizer(std::move(options), std::move(state)));
}

WaylandKeySynthesizer::WaylandKeySynthesizer(Options options, std::unique_ptr<State> state)
    : options_(std::move(options)), state_(std::move(state)) {}

WaylandKeySynthesizer::~WaylandKeySynthesizer() = default;

bool WaylandKeySynthesizer::canPress() const {
  return state_ != nullptr;
}

bool WaylandKeySynthesizer::pressPaste(uint32_t keyCode, bool shift, WindowId target) {
  if (!state_) {
    if (options_.cannotPress) {
      options_.cannotPress();
    }
    return false;
  }
  if (target != 0 && options_.activeWindow) {
    // The compositor gives the focus back when Vesk's panel goes; should it not within a
    // moment, the target is asked for by name.
    const auto start = std::chrono::steady_clock::now();
    bool asked = false;
    while (options_.activeWindow() != target &&
           std::chrono::steady_clock::now() < start + kFocusWait) {
      if (!asked && options_.activate &&
          std::chrono::steady_clock::now() > start + kActivateAfter) {
        options_.activate(target);
        asked = true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  const std::lock_guard lock(mutex_);
  State& state = *state_;
  WaylandConnection& connection = *state.connection;
  // Picks up a key map that changed since the last press.
  wl_display_dispatch_pending(connection.display());
  const auto uploaded = state.upload();
  if (!uploaded || keyCode < kX11Offset || connection.broken()) {
    const std::string reason =
        !uploaded ? uploaded.failure().description : "the compositor closed the connection";
    if (options_.log) {
      options_.log("Couldn't press the paste key: " + reason);
    } else {
      std::fprintf(stderr, "vesk: Couldn't press the paste key: %s\n", reason.c_str());
    }
    return false;
  }
  const uint32_t key = keyCode - kX11Offset;
  const uint32_t modifiers = state.control | (shift ? state.shift : 0);
  const uint32_t time = milliseconds();
  zwp_virtual_keyboard_v1_modifiers(state.virtualKeyboard, modifiers, 0, 0, 0);
  zwp_virtual_keyboard_v1_key(state.virtualKeyboard, time, key, WL_KEYBOARD_KEY_STATE_PRESSED);
  zwp_virtual_keyboard_v1_key(state.virtualKeyboard, time, key, WL_KEYBOARD_KEY_STATE_RELEASED);
  zwp_virtual_keyboard_v1_modifiers(state.virtualKeyboard, 0, 0, 0, 0);
  return connection.roundtrip();
}

}  // namespace vesk
