#include "platform/linux/x11_selection_owner.h"

#include <algorithm>

namespace vesk {
namespace {

constexpr size_t kLargestChunk = size_t{256} * 1024;

}  // namespace

X11SelectionOwner::X11SelectionOwner(XcbConnection& connection, xcb_window_t window,
                                     xcb_atom_t selection)
    : connection_(connection),
      window_(window),
      selection_(selection),
      targets_(connection.atom("TARGETS")),
      timestamp_(connection.atom("TIMESTAMP")),
      incr_(connection.atom("INCR")),
      multiple_(connection.atom("MULTIPLE")) {
  // A ChangeProperty request must fit the server's request size (counted in 4-byte units),
  // with room for the request header.
  const size_t maximum = static_cast<size_t>(xcb_get_maximum_request_length(connection.get())) * 4;
  chunkBytes_ = std::min(kLargestChunk, maximum > 1024 ? maximum - 1024 : maximum / 2);
}

bool X11SelectionOwner::take(const std::vector<std::pair<std::string, Bytes>>& offer,
                             xcb_timestamp_t time) {
  SharedOffer shared;
  for (const auto& [target, bytes] : offer) {
    shared.emplace_back(target, std::make_shared<const Bytes>(bytes));
  }
  return take(shared, time);
}

bool X11SelectionOwner::take(const SharedOffer& offer, xcb_timestamp_t time) {
  offer_.clear();
  for (const auto& [target, data] : offer) {
    offer_.emplace_back(connection_.atom(target), data);
  }
  time_ = time;
  xcb_connection_t* c = connection_.get();
  xcb_set_selection_owner(c, window_, selection_, time);
  const XcbReply<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection_), nullptr));
  owned_ = reply && reply->owner == window_;
  if (!owned_) {
    offer_.clear();
  }
  return owned_;
}

bool X11SelectionOwner::handle(const xcb_generic_event_t* event) {
  switch (eventType(event)) {
    case XCB_SELECTION_REQUEST: {
      const auto& request = *reinterpret_cast<const xcb_selection_request_event_t*>(event);
      if (request.owner != window_) {
        return false;
      }
      answer(request);
      return true;
    }
    case XCB_SELECTION_CLEAR: {
      const auto& clear = *reinterpret_cast<const xcb_selection_clear_event_t*>(event);
      if (clear.owner != window_ || clear.selection != selection_) {
        return false;
      }
      owned_ = false;
      offer_.clear();
      return true;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto& change = *reinterpret_cast<const xcb_property_notify_event_t*>(event);
      if (change.state != XCB_PROPERTY_DELETE) {
        return false;
      }
      const auto found = transfers_.find({change.window, change.atom});
      if (found == transfers_.end()) {
        return false;
      }
      // The requestor took the last chunk: send the next, or end the transfer.
      if (found->second.finished) {
        transfers_.erase(found);
      } else {
        sendChunk(change.window, change.atom, found->second);
      }
      return change.window != window_;  // our own reader may be waiting for this window too
    }
    default:
      return false;
  }
}

void X11SelectionOwner::answer(const xcb_selection_request_event_t& request) {
  // A requestor from before ICCCM 2 names no property: the target is the property then.
  const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
  const bool current = owned_ && request.selection == selection_ &&
                       (request.time == XCB_CURRENT_TIME || request.time >= time_);
  bool served = false;
  if (current && request.target == multiple_) {
    served = serveMultiple(request, property);
  } else if (current) {
    served = serve(request, property);
  }
  notify(connection_, request, served ? property : XCB_NONE);
}

bool X11SelectionOwner::serveMultiple(const xcb_selection_request_event_t& request,
                                      xcb_atom_t property) {
  // The property holds (target, property) pairs; each is served as a request of its own, and a
  // pair that can't be has its property replaced by None.
  if (request.property == XCB_NONE) {
    return false;
  }
  const auto value = connection_.property(request.requestor, property, false, 64 * 1024);
  if (!value || value->format != 32 || value->bytes.size() % 8 != 0 || value->bytes.empty()) {
    return false;
  }
  std::vector<xcb_atom_t> pairs(value->bytes.size() / 4);
  std::copy_n(value->bytes.data(), value->bytes.size(), reinterpret_cast<uint8_t*>(pairs.data()));
  for (size_t i = 0; i + 1 < pairs.size(); i += 2) {
    xcb_selection_request_event_t single = request;
    single.target = pairs[i];
    single.property = pairs[i + 1];
    const bool usable = single.target != multiple_ && single.property != XCB_NONE;
    if (!usable || !serve(single, single.property)) {
      pairs[i + 1] = XCB_NONE;
    }
  }
  xcb_change_property(connection_.get(), XCB_PROP_MODE_REPLACE, request.requestor, property,
                      value->type, 32, static_cast<uint32_t>(pairs.size()), pairs.data());
  return true;
}

bool X11SelectionOwner::serve(const xcb_selection_request_event_t& request, xcb_atom_t property) {
  xcb_connection_t* c = connection_.get();
  if (request.target == targets_) {
    std::vector<xcb_atom_t> atoms{targets_, timestamp_, multiple_};
    for (const auto& entry : offer_) {
      atoms.push_back(entry.first);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atoms.size()), atoms.data());
    return true;
  }
  if (request.target == timestamp_) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_INTEGER, 32,
                        1, &time_);
    return true;
  }
  const auto found = std::find_if(offer_.begin(), offer_.end(),
                                  [&](const auto& entry) { return entry.first == request.target; });
  if (found == offer_.end()) {
    return false;
  }
  const Data& data = found->second;
  if (data->size() <= chunkBytes_) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, request.target, 8,
                        static_cast<uint32_t>(data->size()), data->data());
    return true;
  }
  // Too large for one request: announce INCR with a lower bound of the size, then send a chunk
  // each time the requestor deletes the property.
  if (request.requestor != window_) {
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &mask);
  }
  const auto size = static_cast<uint32_t>(std::min<size_t>(data->size(), UINT32_MAX));
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, incr_, 32, 1, &size);
  Transfer transfer;
  transfer.data = data;
  transfer.type = request.target;
  transfer.lastActivity = XcbConnection::Clock::now();
  transfers_[{request.requestor, property}] = std::move(transfer);
  return true;
}

void X11SelectionOwner::notify(XcbConnection& connection,
                               const xcb_selection_request_event_t& request, xcb_atom_t property) {
  xcb_selection_notify_event_t event{};
  event.response_type = XCB_SELECTION_NOTIFY;
  event.time = request.time;
  event.requestor = request.requestor;
  event.selection = request.selection;
  event.target = request.target;
  event.property = property;
  // xcb_send_event copies 32 bytes; the event struct is exactly that size.
  xcb_send_event(connection.get(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(connection.get());
}

void X11SelectionOwner::sendChunk(xcb_window_t requestor, xcb_atom_t property, Transfer& transfer) {
  const size_t length = std::min(chunkBytes_, transfer.data->size() - transfer.sent);
  xcb_change_property(connection_.get(), XCB_PROP_MODE_REPLACE, requestor, property, transfer.type,
                      8, static_cast<uint32_t>(length), transfer.data->data() + transfer.sent);
  transfer.sent += length;
  transfer.finished = length == 0;
  transfer.lastActivity = XcbConnection::Clock::now();
  xcb_flush(connection_.get());
}

XcbConnection::Clock::time_point X11SelectionOwner::expire(XcbConnection::Clock::time_point now) {
  auto next = now + kTransferTimeout;
  for (auto it = transfers_.begin(); it != transfers_.end();) {
    const auto due = it->second.lastActivity + kTransferTimeout;
    if (due <= now) {
      it = transfers_.erase(it);
    } else {
      next = std::min(next, due);
      ++it;
    }
  }
  return next;
}

}  // namespace vesk
