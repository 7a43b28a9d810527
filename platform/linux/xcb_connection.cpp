#include "platform/linux/xcb_connection.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <poll.h>

namespace vesk {

Result<std::unique_ptr<XcbConnection>> XcbConnection::open(const std::string& display) {
  int screenNumber = 0;
  xcb_connection_t* connection =
      xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
  const std::string shown = display.empty() ? "the X display" : "X display " + display;
  if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
    if (connection != nullptr) {
      xcb_disconnect(connection);
    }
    return Failure{"couldn't connect to " + shown};
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
    xcb_screen_next(&screens);
  }
  if (screens.rem == 0) {
    xcb_disconnect(connection);
    return Failure{shown + " has no screen"};
  }
  return std::unique_ptr<XcbConnection>(new XcbConnection(connection, screens.data));
}

XcbConnection::XcbConnection(xcb_connection_t* connection, xcb_screen_t* screen)
    : connection_(connection), screen_(screen) {}

XcbConnection::~XcbConnection() {
  xcb_disconnect(connection_);
}

xcb_atom_t XcbConnection::atom(std::string_view name) {
  const std::string key(name);
  {
    const std::lock_guard lock(mutex_);
    if (const auto found = atoms_.find(key); found != atoms_.end()) {
      return found->second;
    }
  }
  const auto cookie =
      xcb_intern_atom(connection_, 0, static_cast<uint16_t>(key.size()), key.data());
  const XcbReply<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(connection_, cookie, nullptr));
  if (!reply) {
    return XCB_NONE;
  }
  const std::lock_guard lock(mutex_);
  atoms_[key] = reply->atom;
  names_[reply->atom] = key;
  return reply->atom;
}

std::string XcbConnection::atomName(xcb_atom_t atom) {
  if (atom == XCB_NONE) {
    return {};
  }
  {
    const std::lock_guard lock(mutex_);
    if (const auto found = names_.find(atom); found != names_.end()) {
      return found->second;
    }
  }
  const XcbReply<xcb_get_atom_name_reply_t> reply(
      xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr));
  if (!reply) {
    return {};
  }
  std::string name(xcb_get_atom_name_name(reply.get()),
                   static_cast<size_t>(xcb_get_atom_name_name_length(reply.get())));
  const std::lock_guard lock(mutex_);
  names_[atom] = name;
  atoms_[name] = atom;
  return name;
}

std::optional<XcbConnection::Property> XcbConnection::property(xcb_window_t window, xcb_atom_t name,
                                                               bool delete_, uint32_t maxBytes) {
  // The length is counted in 32-bit units; round up so that maxBytes is always fetched.
  const uint32_t units = maxBytes / 4 + 1;
  const auto cookie = xcb_get_property(connection_, delete_ ? 1 : 0, window, name,
                                       XCB_GET_PROPERTY_TYPE_ANY, 0, units);
  const XcbReply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(connection_, cookie, nullptr));
  if (!reply || reply->type == XCB_NONE) {
    return std::nullopt;
  }
  Property result;
  result.type = reply->type;
  result.format = reply->format;
  result.bytesAfter = reply->bytes_after;
  const auto* value = static_cast<const uint8_t*>(xcb_get_property_value(reply.get()));
  const int length = xcb_get_property_value_length(reply.get());
  if (value != nullptr && length > 0) {
    result.bytes.assign(value, value + length);
  }
  return result;
}

std::vector<uint32_t> XcbConnection::cardinals(xcb_window_t window, xcb_atom_t name) {
  const auto found = property(window, name);
  std::vector<uint32_t> values;
  if (!found || found->format != 32) {
    return values;
  }
  values.resize(found->bytes.size() / 4);
  std::copy_n(found->bytes.data(), values.size() * 4, reinterpret_cast<uint8_t*>(values.data()));
  return values;
}

std::string XcbConnection::text(xcb_window_t window, xcb_atom_t name) {
  const auto found = property(window, name);
  if (!found || found->format != 8) {
    return {};
  }
  return {found->bytes.begin(), found->bytes.end()};
}

XcbEvent XcbConnection::waitForEvent(Clock::time_point deadline) {
  for (;;) {
    if (XcbEvent event{xcb_poll_for_event(connection_)}) {
      return event;
    }
    if (broken()) {
      return nullptr;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return nullptr;
    }
    pollfd descriptor{fd(), POLLIN, 0};
    const int ready = ::poll(&descriptor, 1, static_cast<int>(std::min<int64_t>(left, 1000)));
    if (ready < 0 && errno != EINTR) {
      return nullptr;
    }
  }
}

bool XcbConnection::hasExtension(std::string_view name) {
  const auto cookie =
      xcb_query_extension(connection_, static_cast<uint16_t>(name.size()), name.data());
  const XcbReply<xcb_query_extension_reply_t> reply(
      xcb_query_extension_reply(connection_, cookie, nullptr));
  return reply && reply->present != 0;
}

}  // namespace vesk
