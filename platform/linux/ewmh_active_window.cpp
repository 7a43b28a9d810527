#include "platform/linux/ewmh_active_window.h"

#include "platform/linux/xcb_connection.h"

namespace vesk {

WindowId EwmhActiveWindow::current(XcbConnection& connection) {
  const xcb_window_t root = connection.root();
  const auto published = connection.cardinals(root, connection.atom("_NET_ACTIVE_WINDOW"));
  if (!published.empty()) {
    return published.front() != root ? published.front() : 0;
  }
  xcb_connection_t* c = connection.get();
  const XcbReply<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
      focus->focus == root) {
    return 0;
  }
  return focus->focus;
}

bool EwmhActiveWindow::hasWindowManager(XcbConnection& connection) {
  return !connection.cardinals(connection.root(), connection.atom("_NET_SUPPORTING_WM_CHECK"))
              .empty();
}

void EwmhActiveWindow::request(XcbConnection& connection, xcb_window_t window, Source source,
                               xcb_timestamp_t time, xcb_window_t current) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = connection.atom("_NET_ACTIVE_WINDOW");
  message.data.data32[0] = static_cast<uint32_t>(source);
  message.data.data32[1] = time;
  message.data.data32[2] = current;
  xcb_send_event(connection.get(), 0, connection.root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection.get());
}

}  // namespace vesk
