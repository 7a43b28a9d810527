#include "platform/linux/x11_window_focus.h"

#include <QGuiApplication>
#include <array>
#include <chrono>

#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include "platform/linux/ewmh_active_window.h"
#include "platform/linux/x11_hot_key_service.h"
#include "platform/linux/x11_key_hold.h"
#include "platform/linux/xcb_connection.h"
#include "platform/linux/xcb_event_source.h"

namespace vesk {

namespace {

constexpr auto kTimeWait = std::chrono::milliseconds(200);

}  // namespace

Result<std::unique_ptr<X11WindowFocus>> X11WindowFocus::open(
    const std::string& display, std::weak_ptr<X11HotKeyService> hotKeys) {
  auto connection = XcbConnection::open(display);
  if (!connection) {
    return connection.failure();
  }
  return std::unique_ptr<X11WindowFocus>(
      new X11WindowFocus(std::move(connection).value(), std::move(hotKeys)));
}

X11WindowFocus::X11WindowFocus(std::unique_ptr<XcbConnection> connection,
                               std::weak_ptr<X11HotKeyService> hotKeys)
    : connection_(std::move(connection)), hotKeys_(std::move(hotKeys)) {
  xcb_connection_t* c = connection_->get();
  helper_ = xcb_generate_id(c);
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, helper_, connection_->root(), -1, -1, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);
  const auto handler = [this](const xcb_generic_event_t* event) { handle(event); };
  events_ = std::make_unique<XcbEventSource>(*connection_, handler);
  ownHold_ = std::make_unique<X11KeyHold>(*connection_, handler);
}

X11WindowFocus::~X11WindowFocus() {
  events_.reset();
  ownHold_.reset();
  xcb_destroy_window(connection_->get(), helper_);
  xcb_flush(connection_->get());
}

void X11WindowFocus::handle(const xcb_generic_event_t* event) {
  (void)ownHold_->take(event);
}

X11KeyHold& X11WindowFocus::hold() {
  if (holdingOn_) {
    return holdingOn_->keyHold();
  }
  if (const std::shared_ptr<X11HotKeyService> hotKeys = hotKeys_.lock()) {
    return hotKeys->keyHold();
  }
  return *ownHold_;
}

uint32_t X11WindowFocus::serverTime() {
  xcb_connection_t* c = connection_->get();
  const xcb_atom_t name = connection_->atom("_VESK_TIME");
  xcb_change_property(c, XCB_PROP_MODE_APPEND, helper_, name, XCB_ATOM_STRING, 8, 0, nullptr);
  xcb_flush(c);
  const auto deadline = XcbConnection::Clock::now() + kTimeWait;
  while (XcbEvent event = connection_->waitForEvent(deadline)) {
    if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
      const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
      if (notify->window == helper_) {
        return notify->time;
      }
    }
    handle(event.get());
  }
  return XCB_CURRENT_TIME;
}

WindowId X11WindowFocus::focusedWindow() {
  xcb_connection_t* c = connection_->get();
  // A client's windows share the base of their ids. Vesk's own (the panel, its message) and the
  // window manager's (a frame, the window it focuses to focus nothing) are no window the user
  // came from.
  const uint32_t mask = xcb_get_setup(c)->resource_id_mask;
  const auto check =
      connection_->cardinals(connection_->root(), connection_->atom("_NET_SUPPORTING_WM_CHECK"));
  const WindowId manager = check.empty() ? 0 : check.front();
  const auto own = [&](WindowId window) {
    return (panel_ != 0 && (window & ~mask) == (panel_ & ~mask)) ||
           (manager != 0 && (window & ~mask) == (manager & ~mask));
  };
  const WindowId active = EwmhActiveWindow::current(*connection_);
  if (active != 0 && !own(active)) {
    return active;
  }
  // The window manager names no window, or still one of Vesk's, while the keys may already go
  // to a window it didn't focus itself (one that took the focus back on its own).
  const XcbReply<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
      focus->focus == connection_->root() || own(focus->focus)) {
    return 0;
  }
  return focus->focus;
}

bool X11WindowFocus::hasInputFocus(WindowId window) {
  xcb_connection_t* c = connection_->get();
  const XcbReply<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  if (!focus || window == 0) {
    return false;
  }
  // The focus may sit on a child of the window (a toolkit's focus proxy): walk up to the root.
  xcb_window_t at = focus->focus;
  while (at != XCB_NONE && at != XCB_INPUT_FOCUS_POINTER_ROOT && at != connection_->root()) {
    if (at == window) {
      return true;
    }
    const XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, at), nullptr));
    if (!tree) {
      return false;
    }
    at = tree->parent;
  }
  return false;
}

void X11WindowFocus::prepare(WindowId panel) {
  xcb_connection_t* c = connection_->get();
  const std::array<xcb_atom_t, 3> states = {connection_->atom("_NET_WM_STATE_SKIP_TASKBAR"),
                                            connection_->atom("_NET_WM_STATE_SKIP_PAGER"),
                                            connection_->atom("_NET_WM_STATE_ABOVE")};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel, connection_->atom("_NET_WM_STATE"),
                      XCB_ATOM_ATOM, 32, static_cast<uint32_t>(states.size()), states.data());
  xcb_flush(c);
}

void X11WindowFocus::activate(WindowId panel) {
  panel_ = panel;
  xcb_connection_t* c = connection_->get();
  // The panel's map request, sent on Qt's connection, reaches the server first: a window
  // manager then manages the panel before it reads the request for the focus, and without one
  // the focus goes to a window already viewable.
  sync();
  const uint32_t time = serverTime();
  // Qt keeps the user time on a window of its own where the window manager reads it
  // (_NET_WM_USER_TIME_WINDOW), stamped with the last event Qt saw, which is older than the
  // hot key: that window gets the fresh time too.
  std::vector<uint32_t> stamped{panel};
  for (const uint32_t window :
       connection_->cardinals(panel, connection_->atom("_NET_WM_USER_TIME_WINDOW"))) {
    if (window != 0 && window != panel) {
      stamped.push_back(window);
    }
  }
  for (const uint32_t window : stamped) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, connection_->atom("_NET_WM_USER_TIME"),
                        XCB_ATOM_CARDINAL, 32, 1, &time);
  }
  if (!EwmhActiveWindow::hasWindowManager(*connection_)) {
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, panel, time);
    xcb_flush(c);
    return;
  }
  EwmhActiveWindow::request(*connection_, panel, EwmhActiveWindow::Source::application, time,
                            focusedWindow());
}

void X11WindowFocus::giveBack(WindowId previous) {
  // Right after the panel is hidden the window manager may still name it active.
  const WindowId now = focusedWindow();
  if (now != 0 && now != previous && now != panel_) {
    return;  // another window took the focus meanwhile
  }
  if (!EwmhActiveWindow::hasWindowManager(*connection_)) {
    xcb_set_input_focus(connection_->get(), XCB_INPUT_FOCUS_PARENT, previous, XCB_CURRENT_TIME);
    xcb_flush(connection_->get());
    return;
  }
  EwmhActiveWindow::request(*connection_, previous, EwmhActiveWindow::Source::pager,
                            XCB_CURRENT_TIME);
}

void X11WindowFocus::holdKeys() {
  // The hot keys stay alive while they hold the keyboard.
  holdingOn_ = hotKeys_.lock();
  (void)hold().hold();
}

std::vector<WindowFocus::Key> X11WindowFocus::releaseKeys() {
  std::vector<Key> keys = hold().release();
  holdingOn_.reset();
  return keys;
}

void X11WindowFocus::replay(const std::vector<Key>& keys) {
  xcb_connection_t* c = connection_->get();
  xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
  constexpr xcb_keysym_t kShiftL = 0xffe1;
  const XcbReply<xcb_keycode_t> shiftCodes(xcb_key_symbols_get_keycode(symbols, kShiftL));
  xcb_key_symbols_free(symbols);
  const xcb_keycode_t shift = shiftCodes ? *shiftCodes : XCB_NO_SYMBOL;
  constexpr uint32_t kShortcut =
      XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;
  const auto fake = [c, root = connection_->root()](uint8_t type, xcb_keycode_t code) {
    xcb_test_fake_input(c, type, code, XCB_CURRENT_TIME, root, 0, 0, 0);
  };
  for (const Key& key : keys) {
    const bool shifted = (key.state & XCB_MOD_MASK_SHIFT) != 0;
    if (key.code == 0 || key.code > 255 || (key.state & kShortcut) != 0 ||
        (shifted && shift == XCB_NO_SYMBOL)) {
      continue;
    }
    // Caps Lock, Num Lock and the layout group are the server's own state: they still hold.
    if (shifted) {
      fake(XCB_KEY_PRESS, shift);
    }
    fake(XCB_KEY_PRESS, static_cast<xcb_keycode_t>(key.code));
    fake(XCB_KEY_RELEASE, static_cast<xcb_keycode_t>(key.code));
    if (shifted) {
      fake(XCB_KEY_RELEASE, shift);
    }
  }
  xcb_flush(c);
}

void X11WindowFocus::sync() {
  // The frame was sent on Qt's connection: a round trip there means the server has it.
  if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
    xcb_connection_t* c = x11->connection();
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // NOLINT
  }
}

bool X11WindowFocus::hasCompositor() {
  xcb_connection_t* c = connection_->get();
  XcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
      c, xcb_get_selection_owner(c, connection_->atom("_NET_WM_CM_S0")), nullptr));
  return owner && owner->owner != XCB_NONE;
}

}  // namespace vesk
