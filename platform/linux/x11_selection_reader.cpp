#include "platform/linux/x11_selection_reader.h"

#include <algorithm>
#include <utility>

#include "platform/linux/x11_pasteboard.h"

namespace vesk {
namespace {

// The largest chunk of an incremental transfer read at once; owners send far smaller ones.
constexpr uint32_t kLargestChunk = 16U << 20;

}  // namespace

X11SelectionReader::X11SelectionReader(XcbConnection& connection, xcb_window_t window,
                                       xcb_atom_t selection, std::chrono::milliseconds stepTimeout,
                                       uint64_t maxBytes, Log log, Dispatch dispatch)
    : connection_(connection),
      window_(window),
      selection_(selection),
      stepTimeout_(stepTimeout),
      maxBytes_(maxBytes),
      log_(std::move(log)),
      dispatch_(std::move(dispatch)),
      property_(connection.atom("VESK_CLIPBOARD")),
      timeProperty_(connection.atom("VESK_TIMESTAMP")),
      incr_(connection.atom("INCR")) {}

XcbEvent X11SelectionReader::waitFor(
    const std::function<bool(const xcb_generic_event_t*)>& predicate, Clock::time_point deadline) {
  for (;;) {
    XcbEvent event = connection_.waitForEvent(deadline);
    if (!event) {
      return nullptr;
    }
    dispatch_(event.get());
    if (predicate(event.get())) {
      return event;
    }
  }
}

void X11SelectionReader::newCopy(std::chrono::milliseconds timeout,
                                 std::function<bool()> replaced) {
  tooLargeLogged_ = false;
  copyTimeout_ = timeout;
  deadline_ = Clock::now() + timeout;
  replaced_ = std::move(replaced);
  gaveUp_ = false;
}

XcbEvent X11SelectionReader::step(const Predicate& wanted) {
  if (ended()) {
    return nullptr;
  }
  const bool last = Clock::now() + stepTimeout_ >= deadline_;
  XcbEvent event =
      waitFor([&](const xcb_generic_event_t* candidate) { return wanted(candidate) || ended(); },
              last ? deadline_ : Clock::now() + stepTimeout_);
  if (!event && last) {
    gaveUp_ = true;
    log_(X11Pasteboard::gaveUpLine(copyTimeout_));
  }
  if (!event || ended()) {
    return nullptr;
  }
  return event;
}

std::optional<xcb_timestamp_t> X11SelectionReader::serverTime() {
  // Appending nothing to a property still makes the server send PropertyNotify, which
  // carries the server time.
  xcb_change_property(connection_.get(), XCB_PROP_MODE_APPEND, window_, timeProperty_,
                      XCB_ATOM_STRING, 8, 0, nullptr);
  xcb_flush(connection_.get());
  const XcbEvent event = waitFor(
      [&](const xcb_generic_event_t* candidate) {
        if (eventType(candidate) != XCB_PROPERTY_NOTIFY) {
          return false;
        }
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(candidate);
        return notify->window == window_ && notify->atom == timeProperty_;
      },
      Clock::now() + stepTimeout_);
  if (!event) {
    return std::nullopt;
  }
  return reinterpret_cast<const xcb_property_notify_event_t*>(event.get())->time;
}

std::optional<Bytes> X11SelectionReader::convert(xcb_atom_t target, uint64_t limit) {
  limit = std::min(limit, maxBytes_);
  if (ended()) {
    return std::nullopt;
  }
  xcb_connection_t* c = connection_.get();
  xcb_delete_property(c, window_, property_);
  xcb_convert_selection(c, window_, selection_, target, property_, XCB_CURRENT_TIME);
  xcb_flush(c);
  const XcbEvent event = step([&](const xcb_generic_event_t* candidate) {
    if (eventType(candidate) != XCB_SELECTION_NOTIFY) {
      return false;
    }
    const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(candidate);
    return notify->requestor == window_ && notify->selection == selection_ &&
           notify->target == target;
  });
  if (!event ||
      reinterpret_cast<const xcb_selection_notify_event_t*>(event.get())->property == XCB_NONE) {
    return std::nullopt;
  }
  auto value = connection_.property(
      window_, property_, true, static_cast<uint32_t>(std::min<uint64_t>(limit, UINT32_MAX - 8)));
  if (!value) {
    return std::nullopt;
  }
  if (value->type == incr_) {
    return readIncremental(target, limit);
  }
  if (value->bytesAfter > 0 || value->bytes.size() > limit) {
    tooLarge(target, limit);
    return std::nullopt;
  }
  return std::move(value->bytes);
}

std::optional<Bytes> X11SelectionReader::readIncremental(xcb_atom_t target, uint64_t limit) {
  // Deleting the INCR property (done by the caller's read) asks for the first chunk; each
  // chunk read with delete asks for the next; an empty chunk ends the transfer.
  Bytes all;
  for (;;) {
    const XcbEvent event = step([&](const xcb_generic_event_t* candidate) {
      if (eventType(candidate) != XCB_PROPERTY_NOTIFY) {
        return false;
      }
      const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(candidate);
      return notify->window == window_ && notify->atom == property_ &&
             notify->state == XCB_PROPERTY_NEW_VALUE;
    });
    if (!event) {
      if (!ended()) {
        log_("Couldn't read a copy of " + connection_.atomName(target) +
             ": the application holding it stopped sending");
      }
      return std::nullopt;
    }
    auto chunk = connection_.property(window_, property_, true, kLargestChunk);
    if (!chunk) {
      continue;
    }
    if (chunk->bytes.empty()) {
      return all;
    }
    if (chunk->bytesAfter > 0 || all.size() + chunk->bytes.size() > limit) {
      tooLarge(target, limit);
      return std::nullopt;
    }
    all.insert(all.end(), chunk->bytes.begin(), chunk->bytes.end());
  }
}

void X11SelectionReader::tooLarge(xcb_atom_t target, uint64_t limit) {
  if (tooLargeLogged_) {
    return;
  }
  tooLargeLogged_ = true;
  log_("Couldn't read a copy of " + connection_.atomName(target) + ": it is larger than " +
       (limit >= (uint64_t{1} << 20) ? std::to_string(limit >> 20) + " MiB"
                                     : std::to_string(limit) + " bytes"));
}

}  // namespace vesk
