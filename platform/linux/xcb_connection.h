#pragma once
// XcbConnection: one connection to the X server, with the small helpers every X11 service of
// Vesk needs (atoms, properties, waiting for events with a deadline). XcbReply owns a reply.
//
// libxcb connections are thread-safe; the atom cache has its own lock, so every member may be
// called from any thread. Events are read only by the connection's owner.

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <xcb/xcb.h>

#include "core/base/result.h"

namespace vesk {

struct XcbFree {
  void operator()(void* pointer) const {
    std::free(pointer);
  }  // NOLINT(cppcoreguidelines-no-malloc)
};

// A reply or event from libxcb, freed with free() as libxcb requires.
template <class T>
using XcbReply = std::unique_ptr<T, XcbFree>;

using XcbEvent = XcbReply<xcb_generic_event_t>;

class XcbConnection final {
 public:
  using Clock = std::chrono::steady_clock;

  // Connects to `display` ("" = $DISPLAY). Fails with a sentence naming the display.
  static Result<std::unique_ptr<XcbConnection>> open(const std::string& display);

  ~XcbConnection();
  XcbConnection(const XcbConnection&) = delete;
  XcbConnection& operator=(const XcbConnection&) = delete;

  xcb_connection_t* get() const { return connection_; }
  xcb_window_t root() const { return screen_->root; }
  xcb_screen_t* screen() const { return screen_; }
  int fd() const { return xcb_get_file_descriptor(connection_); }
  bool broken() const { return xcb_connection_has_error(connection_) != 0; }

  // The atom of a name, interned on first use (a round trip) and cached.
  xcb_atom_t atom(std::string_view name);
  // The name of an atom, cached; empty when the server doesn't know it.
  std::string atomName(xcb_atom_t atom);

  // A property's raw bytes and type; none when absent or when the connection failed.
  // `maxBytes` bounds what is fetched; `delete_` removes the property once read.
  struct Property {
    xcb_atom_t type = XCB_NONE;
    uint8_t format = 0;
    std::vector<uint8_t> bytes;
    uint32_t bytesAfter = 0;  // what was left unread beyond maxBytes
  };
  std::optional<Property> property(xcb_window_t window, xcb_atom_t name, bool delete_ = false,
                                   uint32_t maxBytes = 1U << 20);
  // A 32-bit property (WINDOW, CARDINAL, ATOM lists) as values.
  std::vector<uint32_t> cardinals(xcb_window_t window, xcb_atom_t name);
  // A text property (UTF8_STRING or STRING), empty when absent.
  std::string text(xcb_window_t window, xcb_atom_t name);

  // The next event, waiting at most until `deadline`; none on timeout or a broken connection.
  XcbEvent waitForEvent(Clock::time_point deadline);

  // Whether the server offers an extension.
  bool hasExtension(std::string_view name);

 private:
  XcbConnection(xcb_connection_t* connection, xcb_screen_t* screen);

  xcb_connection_t* connection_;
  xcb_screen_t* screen_;
  std::mutex mutex_;
  std::unordered_map<std::string, xcb_atom_t> atoms_;
  std::unordered_map<xcb_atom_t, std::string> names_;
};

// The response type of an event without the "sent by SendEvent" bit.
inline uint8_t eventType(const xcb_generic_event_t* event) {
  return event->response_type & 0x7F;
}

}  // namespace vesk
