#pragma once
// Helpers of the end-to-end tests: the clipboard database read with SQLite, key grabs tried
// by a second X client, and a keyboard that types a burst by key code.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include <sqlite3.h>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#define explicit explicit_  // xcb/xkb.h names a member `explicit`
#include <xcb/xkb.h>
#undef explicit
#include <xcb/xtest.h>

namespace vesk::test {

struct StoredClip {
  int64_t id = 0;
  std::string kind;
  std::string text;
};

// The clips in the database, newest first; empty when it can't be read yet.
inline std::vector<StoredClip> storedClips(const std::string& database) {
  std::vector<StoredClip> clips;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return clips;
  }
  sqlite3_busy_timeout(db, 1000);
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(
          db, "SELECT id, kind, coalesce(text, '') FROM clip ORDER BY copied DESC, id DESC", -1,
          &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      clips.push_back({sqlite3_column_int64(statement, 0),
                       reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)),
                       reinterpret_cast<const char*>(sqlite3_column_text(statement, 2))});
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return clips;
}

// A second X client that tries to grab keys on the root window, as another app would.
class GrabProbe {
 public:
  GrabProbe() : connection_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    symbols_ = xcb_key_symbols_alloc(connection_);
  }
  ~GrabProbe() {
    xcb_key_symbols_free(symbols_);
    xcb_disconnect(connection_);
  }
  GrabProbe(const GrabProbe&) = delete;
  GrabProbe& operator=(const GrabProbe&) = delete;

  static constexpr uint16_t kCtrlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

  xcb_keycode_t keyCode(xcb_keysym_t symbol) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, symbol);
    const xcb_keycode_t code = codes == nullptr ? 0 : codes[0];
    free(codes);  // NOLINT(cppcoreguidelines-no-malloc)
    return code;
  }

  // Grabs the key (and keeps it); false when another client holds it.
  bool grab(xcb_keysym_t symbol, uint16_t modifiers) {
    const auto cookie = xcb_grab_key_checked(connection_, 1, root_, modifiers, keyCode(symbol),
                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
    const bool ok = error == nullptr;
    free(error);  // NOLINT(cppcoreguidelines-no-malloc)
    return ok;
  }

  void ungrab(xcb_keysym_t symbol, uint16_t modifiers) {
    xcb_ungrab_key(connection_, keyCode(symbol), root_, modifiers);
    xcb_flush(connection_);
  }

  // Whether the key is free: grabbed and released at once.
  bool isFree(xcb_keysym_t symbol, uint16_t modifiers) {
    if (!grab(symbol, modifiers)) {
      return false;
    }
    ungrab(symbol, modifiers);
    return true;
  }

 private:
  xcb_connection_t* connection_;
  xcb_window_t root_ = 0;
  xcb_key_symbols_t* symbols_ = nullptr;
};

// Types as a keyboard does: by key code, whatever the layout group (xdotool types the symbols it
// is given and switches groups to find them), in the order written, in one go. A key is named by
// the symbol it types in the first group: with a second group locked, the key of "l" types its
// letter there. Nothing reaches the server before `send`.
class Keyboard {
 public:
  Keyboard() : connection_(xcb_connect(nullptr, nullptr)) {
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    free(xcb_xkb_use_extension_reply(connection_, xcb_xkb_use_extension(connection_, 1, 0),
                                     nullptr));  // NOLINT(cppcoreguidelines-no-malloc)
    symbols_ = xcb_key_symbols_alloc(connection_);
  }
  ~Keyboard() {
    xcb_key_symbols_free(symbols_);
    xcb_disconnect(connection_);
  }
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;

  // The keys pressed in order and released the other way round, as "ctrl+alt+space".
  Keyboard& chord(std::initializer_list<xcb_keysym_t> symbols) {
    for (const xcb_keysym_t symbol : symbols) {
      fake(XCB_KEY_PRESS, code(symbol));
    }
    for (auto symbol = std::rbegin(symbols); symbol != std::rend(symbols); ++symbol) {
      fake(XCB_KEY_RELEASE, code(*symbol));
    }
    return *this;
  }
  // Each key pressed and released. A key typed twice in a row within a millisecond looks like
  // auto-repeat to Vesk's key hold: keep a key's presses apart.
  Keyboard& type(std::initializer_list<xcb_keysym_t> symbols) {
    for (const xcb_keysym_t symbol : symbols) {
      chord({symbol});
    }
    return *this;
  }
  // Locks the layout group (0 is the first), as a group switch key would.
  Keyboard& lockGroup(uint8_t group) {
    xcb_xkb_latch_lock_state(connection_, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
    return *this;
  }
  // Everything written so far reaches the server, in order.
  void send() {
    free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_),
                                   nullptr));  // NOLINT(cppcoreguidelines-no-malloc)
  }

 private:
  xcb_keycode_t code(xcb_keysym_t symbol) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols_, symbol);
    const xcb_keycode_t first = codes == nullptr ? 0 : codes[0];
    free(codes);  // NOLINT(cppcoreguidelines-no-malloc)
    return first;
  }
  void fake(uint8_t type, xcb_keycode_t code) {
    xcb_test_fake_input(connection_, type, code, XCB_CURRENT_TIME, root_, 0, 0, 0);
  }

  xcb_connection_t* connection_;
  xcb_window_t root_ = 0;
  xcb_key_symbols_t* symbols_ = nullptr;
};

}  // namespace vesk::test
