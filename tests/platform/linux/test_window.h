#pragma once
// TestWindow: a top-level window of another X client, as the tests of Vesk's window services
// need one: with a class, a process id, protocols, and its own event queue to look into.

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include "platform/linux/xcb_connection.h"

namespace vesk::test {

class TestWindow {
 public:
  explicit TestWindow(const std::string& instance = "vesktest",
                      const std::string& wmClass = "VeskTest")
      : connection_(xcb_connect(nullptr, nullptr)) {
    screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    const uint32_t mask = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE |
                          XCB_EVENT_MASK_FOCUS_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen_->root, 10, 10, 100, 80, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, XCB_CW_EVENT_MASK,
                      &mask);
    const std::string classValue = instance + '\0' + wmClass + '\0';
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_CLASS,
                        XCB_ATOM_STRING, 8, static_cast<uint32_t>(classValue.size()),
                        classValue.data());
    // Another process's window (Vesk skips its own): the test's parent stands in.
    const uint32_t pid = static_cast<uint32_t>(::getppid());
    setCardinals(window_, "_NET_WM_PID", XCB_ATOM_CARDINAL, {pid});
    xcb_map_window(connection_, window_);
    sync();
  }
  ~TestWindow() { xcb_disconnect(connection_); }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  xcb_window_t id() const { return window_; }
  xcb_window_t root() const { return screen_->root; }

  xcb_atom_t atom(const std::string& name) {
    const XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr));
    return reply ? reply->atom : XCB_NONE;
  }

  void setCardinals(xcb_window_t window, const std::string& name, xcb_atom_t type,
                    const std::vector<uint32_t>& values) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom(name), type, 32,
                        static_cast<uint32_t>(values.size()), values.data());
    sync();
  }

  void setText(const std::string& name, const std::string& value) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom(name),
                        atom("UTF8_STRING"), 8, static_cast<uint32_t>(value.size()), value.data());
    sync();
  }

  // Plays the window manager: publishes `window` as the active one.
  void publishActive(xcb_window_t window) {
    setCardinals(screen_->root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, {window});
  }

  void deleteRootProperty(const std::string& name) {
    xcb_delete_property(connection_, screen_->root, atom(name));
    sync();
  }

  void focus() {
    xcb_set_input_focus(connection_, XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
    sync();
  }

  void sync() {
    const XcbReply<xcb_get_input_focus_reply_t> reply(
        xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  }

  // The next event of this client of `type`, waiting at most `timeout`.
  XcbEvent next(uint8_t type, std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      while (XcbEvent event{xcb_poll_for_event(connection_)}) {
        if ((event->response_type & 0x7F) == type) {
          return event;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) {
        return nullptr;
      }
      pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
      ::poll(&descriptor, 1, static_cast<int>(left));
    }
  }

 private:
  xcb_connection_t* connection_;
  xcb_screen_t* screen_ = nullptr;
  xcb_window_t window_ = 0;
};

// Forgets what earlier tests of the process published on the root window as window manager.
inline void resetRootProperties() {
  TestWindow helper("reset", "Reset");
  for (const char* name : {"_NET_ACTIVE_WINDOW", "_NET_CLIENT_LIST", "_NET_CLIENT_LIST_STACKING"}) {
    helper.deleteRootProperty(name);
  }
}

}  // namespace vesk::test
