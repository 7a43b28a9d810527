#include "platform/linux/x11_key_layout.h"

#include <array>
#include <cstdlib>
#include <functional>
#include <utility>

#define explicit explicit_  // xcb/xkb.h names a member `explicit`
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "core/base/utf8.h"
#include "platform/linux/xcb_connection.h"
#include "platform/linux/xcb_event_source.h"

namespace vesk {
namespace {

struct VirtualKey {
  uint32_t code;
  uint32_t keysym;
  uint32_t evdev;  // the key's position on a PC keyboard (Linux input code)
};

// Shortcut's virtual key codes (ANSI positions), the key symbol each stands for, and its
// position on a PC keyboard, used when no key of the layout has the symbol.
constexpr auto kVirtualKeys = std::to_array<VirtualKey>({
    {0, 'a', 30},       {11, 'b', 48},      {8, 'c', 46},       {2, 'd', 32},
    {14, 'e', 18},      {3, 'f', 33},       {5, 'g', 34},       {4, 'h', 35},
    {34, 'i', 23},      {38, 'j', 36},      {40, 'k', 37},      {37, 'l', 38},
    {46, 'm', 50},      {45, 'n', 49},      {31, 'o', 24},      {35, 'p', 25},
    {12, 'q', 16},      {15, 'r', 19},      {1, 's', 31},       {17, 't', 20},
    {32, 'u', 22},      {9, 'v', 47},       {13, 'w', 17},      {7, 'x', 45},
    {16, 'y', 21},      {6, 'z', 44},       {29, '0', 11},      {18, '1', 2},
    {19, '2', 3},       {20, '3', 4},       {21, '4', 5},       {23, '5', 6},
    {22, '6', 7},       {26, '7', 8},       {28, '8', 9},       {25, '9', 10},
    {27, '-', 12},      {24, '=', 13},      {33, '[', 26},      {30, ']', 27},
    {42, '\\', 43},     {41, ';', 39},      {39, '\'', 40},     {43, ',', 51},
    {47, '.', 52},      {44, '/', 53},      {50, '`', 41},      {49, ' ', 57},
    {36, 0xff0d, 28},   {48, 0xff09, 15},   {53, 0xff1b, 1},    {51, 0xff08, 14},
    {123, 0xff51, 105}, {124, 0xff53, 106}, {126, 0xff52, 103}, {125, 0xff54, 108},
    {122, 0xffbe, 59},  {120, 0xffbf, 60},  {99, 0xffc0, 61},   {118, 0xffc1, 62},
    {96, 0xffc2, 63},   {97, 0xffc3, 64},   {98, 0xffc4, 65},   {100, 0xffc5, 66},
    {101, 0xffc6, 67},  {109, 0xffc7, 68},  {103, 0xffc8, 87},  {111, 0xffc9, 88},
    {105, 0xffca, 183},
});

// F14 to F20 follow F13 in both numberings.
constexpr std::array<std::pair<uint32_t, uint32_t>, 7> kHighFunctionKeys{
    {{107, 14}, {113, 15}, {106, 16}, {64, 17}, {79, 18}, {80, 19}, {90, 20}}};

std::optional<VirtualKey> virtualKey(uint32_t code) {
  for (const VirtualKey& key : kVirtualKeys) {
    if (key.code == code) {
      return key;
    }
  }
  for (const auto& [virtualCode, number] : kHighFunctionKeys) {
    if (virtualCode == code) {
      return VirtualKey{code, 0xffbe + number - 1, 183 + number - 13};
    }
  }
  return std::nullopt;
}

// The first code point of UTF-8 text that holds exactly one; 0 otherwise.
uint32_t singleCodePoint(std::string_view text) {
  const auto scalars = UTF8::decode(text);
  return scalars && scalars->size() == 1 ? static_cast<uint32_t>(scalars->front()) : 0;
}

// Wrapper events of XKB: all share one response type and tell their kind in the second byte.
struct XkbAnyEvent {
  uint8_t responseType;
  uint8_t xkbType;
  uint16_t sequence;
  xcb_timestamp_t time;
  uint8_t deviceID;
};

}  // namespace

Result<std::unique_ptr<X11KeyLayout>> X11KeyLayout::open(const std::string& display) {
  auto opened = XcbConnection::open(display);
  if (!opened) {
    return opened.failure();
  }
  std::unique_ptr<XcbConnection> connection = std::move(opened).value();
  uint8_t xkbEvent = 0;
  if (xkb_x11_setup_xkb_extension(
          connection->get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
          XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEvent, nullptr) == 0) {
    return Failure{"the X server has no XKB extension, so keyboard layouts can't be read"};
  }
  const int32_t device = xkb_x11_get_core_keyboard_device_id(connection->get());
  if (device < 0) {
    return Failure{"the X server reports no keyboard"};
  }
  std::unique_ptr<X11KeyLayout> layout(new X11KeyLayout(std::move(connection), device, xkbEvent));
  if (!layout->reload()) {
    return Failure{"couldn't read the keyboard layout from the X server"};
  }
  return layout;
}

X11KeyLayout::X11KeyLayout(std::unique_ptr<XcbConnection> connection, int32_t device,
                           uint8_t xkbEvent)
    : connection_(std::move(connection)),
      device_(device),
      xkbEvent_(xkbEvent),
      context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
  constexpr uint16_t kEvents = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                               XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
  constexpr uint16_t kMapParts =
      XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
      XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
      XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
  constexpr uint16_t kStateParts =
      XCB_XKB_STATE_PART_GROUP_BASE | XCB_XKB_STATE_PART_GROUP_LATCH |
      XCB_XKB_STATE_PART_GROUP_LOCK | XCB_XKB_STATE_PART_MODIFIER_BASE |
      XCB_XKB_STATE_PART_MODIFIER_LATCH | XCB_XKB_STATE_PART_MODIFIER_LOCK;
  xcb_xkb_select_events_details_t details{};
  details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
  details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
  details.affectState = kStateParts;
  details.stateDetails = kStateParts;
  xcb_xkb_select_events_aux(connection_->get(), static_cast<xcb_xkb_device_spec_t>(device), kEvents,
                            0, 0, kMapParts, kMapParts, &details);
  xcb_flush(connection_->get());
  events_ = std::make_unique<XcbEventSource>(
      *connection_, [this](const xcb_generic_event_t* event) { handle(event); });
}

X11KeyLayout::~X11KeyLayout() {
  events_.reset();
  xkb_state_unref(state_);
  xkb_keymap_unref(keymap_);
  xkb_context_unref(context_);
}

bool X11KeyLayout::reload() {
  xkb_keymap* keymap = xkb_x11_keymap_new_from_device(context_, connection_->get(), device_,
                                                      XKB_KEYMAP_COMPILE_NO_FLAGS);
  if (keymap == nullptr) {
    return false;
  }
  xkb_state* state = xkb_x11_state_new_from_device(keymap, connection_->get(), device_);
  if (state == nullptr) {
    xkb_keymap_unref(keymap);
    return false;
  }
  // The server also sends a new keyboard when typing moves to another device (the first key
  // of another keyboard, of a virtual one): the same keymap is no change, and answering it
  // by grabbing the hot keys again opens a gap in which a hot key reaches the focused window.
  char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  std::string described = text == nullptr ? std::string() : std::string(text);
  std::free(text);  // NOLINT(cppcoreguidelines-no-malloc)
  const uint32_t group = xkb_state_serialize_layout(state, XKB_STATE_LAYOUT_EFFECTIVE);
  const std::lock_guard lock(mutex_);
  const bool changed = keymap_ == nullptr || described != described_ || group != group_;
  xkb_state_unref(state_);
  xkb_keymap_unref(keymap_);
  keymap_ = keymap;
  state_ = state;
  described_ = std::move(described);
  group_ = group;
  return changed;
}

void X11KeyLayout::handle(const void* raw) {
  const auto* any = static_cast<const XkbAnyEvent*>(raw);
  if ((any->responseType & 0x7F) != xkbEvent_ || any->deviceID != device_) {
    return;
  }
  bool changed = false;
  if (any->xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || any->xkbType == XCB_XKB_MAP_NOTIFY) {
    changed = reload();
  } else if (any->xkbType == XCB_XKB_STATE_NOTIFY) {
    const auto* state = static_cast<const xcb_xkb_state_notify_event_t*>(raw);
    const std::lock_guard lock(mutex_);
    if (state_ != nullptr) {
      xkb_state_update_mask(state_, state->baseMods, state->latchedMods, state->lockedMods,
                            static_cast<xkb_layout_index_t>(state->baseGroup),
                            static_cast<xkb_layout_index_t>(state->latchedGroup),
                            static_cast<xkb_layout_index_t>(state->lockedGroup));
      const uint32_t group = xkb_state_serialize_layout(state_, XKB_STATE_LAYOUT_EFFECTIVE);
      changed = group != group_;
      group_ = group;
    }
  }
  if (changed && handler_) {
    handler_();
  }
}

void X11KeyLayout::setChangeHandler(std::function<void()> handler) {
  handler_ = std::move(handler);
}

std::optional<uint32_t> X11KeyLayout::keyCode(std::string_view typing) const {
  const uint32_t point = singleCodePoint(typing);
  if (point == 0) {
    return std::nullopt;
  }
  return findKey([point](uint32_t keysym) { return xkb_keysym_to_utf32(keysym) == point; });
}

std::optional<uint32_t> X11KeyLayout::keyCode(uint32_t virtualCode) const {
  const auto key = virtualKey(virtualCode);
  if (!key) {
    return std::nullopt;
  }
  const uint32_t wanted = key->keysym;
  if (const auto found = findKey([wanted](uint32_t keysym) { return keysym == wanted; })) {
    return found;
  }
  // No key has the symbol (a letter of a Latin layout on a Cyrillic one): the key at the same
  // place on the keyboard. X key codes are the Linux input codes plus 8.
  const std::lock_guard lock(mutex_);
  const uint32_t code = key->evdev + 8;
  if (keymap_ == nullptr || code < xkb_keymap_min_keycode(keymap_) ||
      code > xkb_keymap_max_keycode(keymap_)) {
    return std::nullopt;
  }
  return code;
}

std::optional<uint32_t> X11KeyLayout::findKey(
    const std::function<bool(uint32_t keysym)>& matches) const {
  const std::lock_guard lock(mutex_);
  if (keymap_ == nullptr) {
    return std::nullopt;
  }
  for (const uint32_t group : searchOrder()) {
    for (xkb_keycode_t key = xkb_keymap_min_keycode(keymap_);
         key <= xkb_keymap_max_keycode(keymap_); ++key) {
      if (group >= xkb_keymap_num_layouts_for_key(keymap_, key)) {
        continue;
      }
      const xkb_keysym_t* symbols = nullptr;
      const int count = xkb_keymap_key_get_syms_by_level(keymap_, key, group, 0, &symbols);
      for (int i = 0; i < count; ++i) {
        if (matches(symbols[i])) {
          return key;
        }
      }
    }
  }
  return std::nullopt;
}

std::vector<uint32_t> X11KeyLayout::searchOrder() const {
  // The current layout first, then the others in order (one of them usually types ASCII).
  std::vector<uint32_t> groups{group_};
  const uint32_t count = xkb_keymap_num_layouts(keymap_);
  for (uint32_t group = 0; group < count; ++group) {
    if (group != group_) {
      groups.push_back(group);
    }
  }
  return groups;
}

uint32_t X11KeyLayout::keysymOfVirtualKey(uint32_t virtualCode) {
  const auto key = virtualKey(virtualCode);
  return key ? key->keysym : 0;
}

}  // namespace vesk
