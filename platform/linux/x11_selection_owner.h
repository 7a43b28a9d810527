#pragma once
// X11SelectionOwner: serves Vesk's own writes to the X11 clipboard. It holds the offered
// targets while Vesk owns the selection, answers every conversion request for them (TARGETS,
// TIMESTAMP, MULTIPLE and each offered target; large data chunk by chunk through INCR), and lets go
// at SelectionClear. Transfers already running when ownership is lost are finished.
//
// Runs on the clipboard thread only: its owner feeds it every event of the connection.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <xcb/xcb.h>

#include "core/clipboard/clip.h"
#include "platform/linux/xcb_connection.h"

namespace vesk {

class X11SelectionOwner final {
 public:
  // How long a chunked transfer may wait for the requestor before it is dropped.
  static constexpr std::chrono::seconds kTransferTimeout{5};

  X11SelectionOwner(XcbConnection& connection, xcb_window_t window, xcb_atom_t selection);
  ~X11SelectionOwner() = default;
  X11SelectionOwner(const X11SelectionOwner&) = delete;
  X11SelectionOwner& operator=(const X11SelectionOwner&) = delete;
  X11SelectionOwner(X11SelectionOwner&&) = delete;
  X11SelectionOwner& operator=(X11SelectionOwner&&) = delete;

  // Targets whose bytes are held, not copied: several may share one buffer.
  using SharedOffer = std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>>;

  // Starts offering `offer` (target name, bytes) as owner since the server time `time`.
  // False when the server did not make Vesk the owner.
  bool take(const std::vector<std::pair<std::string, Bytes>>& offer, xcb_timestamp_t time);
  bool take(const SharedOffer& offer, xcb_timestamp_t time);

  bool owns() const { return owned_; }

  // Handles an event if it concerns serving; true when it was consumed.
  bool handle(const xcb_generic_event_t* event);

  // Drops transfers whose requestor went quiet. Returns when the next check is due.
  XcbConnection::Clock::time_point expire(XcbConnection::Clock::time_point now);

  size_t transfers() const { return transfers_.size(); }

  // Tells the requestor of a conversion that it is done: the data is in `property`, or the
  // conversion was refused (XCB_NONE). Flushes.
  static void notify(XcbConnection& connection, const xcb_selection_request_event_t& request,
                     xcb_atom_t property);

 private:
  using Data = std::shared_ptr<const Bytes>;
  struct Transfer {
    Data data;
    size_t sent = 0;
    xcb_atom_t type = XCB_NONE;
    XcbConnection::Clock::time_point lastActivity;
    bool finished = false;  // the terminating empty chunk was sent
  };

  void answer(const xcb_selection_request_event_t& request);
  bool serve(const xcb_selection_request_event_t& request, xcb_atom_t property);
  bool serveMultiple(const xcb_selection_request_event_t& request, xcb_atom_t property);
  void sendChunk(xcb_window_t requestor, xcb_atom_t property, Transfer& transfer);

  XcbConnection& connection_;
  xcb_window_t window_;
  xcb_atom_t selection_;
  xcb_atom_t targets_, timestamp_, incr_, multiple_;
  size_t chunkBytes_;
  bool owned_ = false;
  xcb_timestamp_t time_ = XCB_CURRENT_TIME;
  std::vector<std::pair<xcb_atom_t, Data>> offer_;
  std::map<std::pair<xcb_window_t, xcb_atom_t>, Transfer> transfers_;
};

}  // namespace vesk
