#pragma once
// Helpers of the end-to-end tests: the clipboard database read with SQLite, and key grabs tried
// by a second X client.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sqlite3.h>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

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

}  // namespace vesk::test
