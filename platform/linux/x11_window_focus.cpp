#include "platform/linux/x11_window_focus.h"

#include <QGuiApplication>
#include <chrono>

#include <QtGui/qguiapplication_platform.h>
#include <xkbcommon/xkbcommon.h>

#include "platform/linux/xcb_connection.h"
#include "platform/linux/xcb_event_source.h"

namespace vesk {

namespace {

constexpr uint32_t kSourceApplication = 1;
constexpr uint32_t kSourcePager = 2;
constexpr int kRetryMs = 10;
constexpr auto kTimeWait = std::chrono::milliseconds(200);

// X key symbols of the named keys → Qt keys.
struct Named {
  uint32_t keysym;
  int key;
};
constexpr Named kNamed[] = {
    {0xff0d, Qt::Key_Return}, {0xff8d, Qt::Key_Enter},   {0xff08, Qt::Key_Backspace},
    {0xff09, Qt::Key_Tab},    {0xfe20, Qt::Key_Backtab}, {0xff1b, Qt::Key_Escape},
    {0xff51, Qt::Key_Left},   {0xff52, Qt::Key_Up},      {0xff53, Qt::Key_Right},
    {0xff54, Qt::Key_Down},   {0xffff, Qt::Key_Delete},  {0xff50, Qt::Key_Home},
    {0xff57, Qt::Key_End},
};

}  // namespace

Result<std::unique_ptr<X11WindowFocus>> X11WindowFocus::open(const std::string& display) {
  auto connection = XcbConnection::open(display);
  if (!connection) {
    return connection.failure();
  }
  return std::unique_ptr<X11WindowFocus>(new X11WindowFocus(std::move(connection).value()));
}

X11WindowFocus::X11WindowFocus(std::unique_ptr<XcbConnection> connection)
    : connection_(std::move(connection)) {
  xcb_connection_t* c = connection_->get();
  symbols_ = xcb_key_symbols_alloc(c);
  helper_ = xcb_generate_id(c);
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, helper_, connection_->root(), -1, -1, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(c);
  events_ = std::make_unique<XcbEventSource>(
      *connection_, [this](const xcb_generic_event_t* event) { handle(event); });
  retry_.setInterval(kRetryMs);
  QObject::connect(&retry_, &QTimer::timeout, [this] {
    if (tryGrab()) {
      retry_.stop();
    }
  });
  limit_.setSingleShot(true);
  limit_.setInterval(kHoldMs);
  QObject::connect(&limit_, &QTimer::timeout, [this] {
    // The panel did not get the focus in time: let the keys go where the server sends them.
    retry_.stop();
    if (grabbed_) {
      xcb_ungrab_keyboard(connection_->get(), XCB_CURRENT_TIME);
      xcb_flush(connection_->get());
    }
    grabbed_ = false;
  });
}

X11WindowFocus::~X11WindowFocus() {
  events_.reset();
  if (grabbed_) {
    xcb_ungrab_keyboard(connection_->get(), XCB_CURRENT_TIME);
  }
  xcb_destroy_window(connection_->get(), helper_);
  xcb_flush(connection_->get());
  xcb_key_symbols_free(symbols_);
}

X11WindowFocus::Key X11WindowFocus::keyOf(uint32_t keysym, uint16_t state) {
  Key key;
  if ((state & XCB_MOD_MASK_SHIFT) != 0) {
    key.qtModifiers |= Qt::ShiftModifier;
  }
  if ((state & XCB_MOD_MASK_CONTROL) != 0) {
    key.qtModifiers |= Qt::ControlModifier;
  }
  if ((state & XCB_MOD_MASK_1) != 0) {
    key.qtModifiers |= Qt::AltModifier;
  }
  if ((state & XCB_MOD_MASK_4) != 0) {
    key.qtModifiers |= Qt::MetaModifier;
  }
  for (const Named& named : kNamed) {
    if (named.keysym == keysym) {
      key.qtKey = named.key;
      if (keysym == 0xff8d) {
        key.qtModifiers |= Qt::KeypadModifier;
      }
      return key;
    }
  }
  char utf8[8] = {};
  const int length = xkb_keysym_to_utf8(keysym, utf8, sizeof utf8);
  if (length > 1) {
    key.text = std::string(utf8, static_cast<size_t>(length - 1));
  }
  const uint32_t point = xkb_keysym_to_utf32(keysym);
  if (point >= 'a' && point <= 'z') {
    key.qtKey = Qt::Key_A + static_cast<int>(point - 'a');
  } else if (point == ' ') {
    key.qtKey = Qt::Key_Space;
  } else if (point > 0x20 && point < 0x7f) {
    key.qtKey = static_cast<int>(point >= 'a' ? point - 32 : point);
  } else {
    key.qtKey = point != 0 ? static_cast<int>(point) : Qt::Key_unknown;
  }
  if ((key.qtModifiers & Qt::ControlModifier) != 0) {
    key.text.clear();  // Control does not type
  }
  return key;
}

void X11WindowFocus::handle(const xcb_generic_event_t* event) {
  if ((event->response_type & 0x7f) != XCB_KEY_PRESS || !holding_) {
    return;
  }
  const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event);
  const int column = (press->state & XCB_MOD_MASK_SHIFT) != 0 ? 1 : 0;
  xcb_keysym_t keysym = xcb_key_symbols_get_keysym(symbols_, press->detail, column);
  if (keysym == 0) {
    keysym = xcb_key_symbols_get_keysym(symbols_, press->detail, 0);
  }
  // Modifier keys alone are no key.
  if (keysym == 0 || (keysym >= 0xffe1 && keysym <= 0xffee)) {
    return;
  }
  held_.push_back(keyOf(keysym, press->state));
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

bool X11WindowFocus::hasWindowManager() {
  return !connection_->cardinals(connection_->root(), connection_->atom("_NET_SUPPORTING_WM_CHECK"))
              .empty();
}

WindowId X11WindowFocus::focusedWindow() {
  const std::vector<uint32_t> active =
      connection_->cardinals(connection_->root(), connection_->atom("_NET_ACTIVE_WINDOW"));
  if (!active.empty() && active.front() != 0) {
    return active.front();
  }
  xcb_connection_t* c = connection_->get();
  XcbReply<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  if (!focus || focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
      focus->focus == connection_->root()) {
    return 0;
  }
  return focus->focus;
}

void X11WindowFocus::prepare(WindowId panel) {
  xcb_connection_t* c = connection_->get();
  const xcb_atom_t states[] = {connection_->atom("_NET_WM_STATE_SKIP_TASKBAR"),
                               connection_->atom("_NET_WM_STATE_SKIP_PAGER"),
                               connection_->atom("_NET_WM_STATE_ABOVE")};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel, connection_->atom("_NET_WM_STATE"),
                      XCB_ATOM_ATOM, 32, 3, states);
  xcb_flush(c);
}

void X11WindowFocus::activate(WindowId panel) {
  xcb_connection_t* c = connection_->get();
  const uint32_t time = serverTime();
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel, connection_->atom("_NET_WM_USER_TIME"),
                      XCB_ATOM_CARDINAL, 32, 1, &time);
  if (!hasWindowManager()) {
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, panel, time);
    xcb_flush(c);
    return;
  }
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = panel;
  message.type = connection_->atom("_NET_ACTIVE_WINDOW");
  message.data.data32[0] = kSourceApplication;
  message.data.data32[1] = time;
  message.data.data32[2] = focusedWindow();
  xcb_send_event(c, 0, connection_->root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(c);
}

void X11WindowFocus::giveBack(WindowId previous) {
  const WindowId now = focusedWindow();
  if (now != 0 && now != previous) {
    return;  // another window took the focus meanwhile
  }
  xcb_connection_t* c = connection_->get();
  if (!hasWindowManager()) {
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, previous, XCB_CURRENT_TIME);
    xcb_flush(c);
    return;
  }
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = previous;
  message.type = connection_->atom("_NET_ACTIVE_WINDOW");
  message.data.data32[0] = kSourcePager;
  message.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(c, 0, connection_->root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(c);
}

bool X11WindowFocus::tryGrab() {
  xcb_connection_t* c = connection_->get();
  XcbReply<xcb_grab_keyboard_reply_t> reply(
      xcb_grab_keyboard_reply(c,
                              xcb_grab_keyboard(c, 0, connection_->root(), XCB_CURRENT_TIME,
                                                XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
                              nullptr));
  grabbed_ = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
  return grabbed_;
}

void X11WindowFocus::holdKeys() {
  held_.clear();
  holding_ = true;
  // While the hot key is still down its own grab is active; try again until it is up.
  if (!tryGrab()) {
    retry_.start();
  }
  limit_.start();
}

std::vector<WindowFocus::Key> X11WindowFocus::releaseKeys() {
  retry_.stop();
  limit_.stop();
  if (grabbed_) {
    xcb_ungrab_keyboard(connection_->get(), XCB_CURRENT_TIME);
    grabbed_ = false;
  }
  if (holding_) {
    // Every key the server sent before the ungrab is read now, so none is left behind.
    xcb_connection_t* c = connection_->get();
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));  // NOLINT
    events_->drain();
  }
  holding_ = false;
  std::vector<Key> keys = std::move(held_);
  held_.clear();
  return keys;
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
