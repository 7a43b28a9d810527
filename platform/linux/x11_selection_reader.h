#pragma once
// X11SelectionReader: reads the CLIPBOARD selection of another client (or of Vesk itself)
// through ICCCM conversions into a property of Vesk's helper window, following INCR transfers
// chunk by chunk. Each step waits at most `stepTimeout`, so an owner that stops answering costs
// one step; data over `maxBytes` is not read (one log line per copy). All the steps of one copy
// end by the copy's deadline, so an owner that answers slowly but steadily (one byte per step)
// costs that long at most: then the copy is given up (one log line) and reads of it give nothing.
// They also end as soon as a newer copy replaced the one being read.
//
// Runs on the clipboard thread only. Every event read while waiting is handed to `dispatch`
// first, so the connection's other duties (serving our own writes, counting owner changes)
// go on during a long read.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <xcb/xcb.h>

#include "core/clipboard/clip.h"
#include "platform/linux/xcb_connection.h"

namespace vesk {

class X11SelectionReader final {
 public:
  using Clock = XcbConnection::Clock;
  using Dispatch = std::function<void(const xcb_generic_event_t*)>;
  using Log = std::function<void(const std::string&)>;

  X11SelectionReader(XcbConnection& connection, xcb_window_t window, xcb_atom_t selection,
                     std::chrono::milliseconds stepTimeout, uint64_t maxBytes, Log log,
                     Dispatch dispatch);

  // The selection converted to `target`; none when the owner refuses, stops answering, or
  // the data is larger than `maxBytes` or `limit`.
  std::optional<Bytes> convert(xcb_atom_t target, uint64_t limit = UINT64_MAX);

  // A current server time stamp (from a property change on the helper window).
  std::optional<xcb_timestamp_t> serverTime();

  // Waits for the first event `predicate` accepts; none at the deadline.
  XcbEvent waitFor(const std::function<bool(const xcb_generic_event_t*)>& predicate,
                   Clock::time_point deadline);

  // Starts reading a new copy, whose reads end `timeout` from now or once `replaced` holds. Its
  // size problem is logged again.
  void newCopy(std::chrono::milliseconds timeout, std::function<bool()> replaced);

  // Whether reading the current copy was given up at its deadline.
  bool gaveUp() const { return gaveUp_; }

 private:
  using Predicate = std::function<bool(const xcb_generic_event_t*)>;

  // One step of reading the current copy: the first event `wanted` accepts, none when the
  // owner took too long or the copy was replaced.
  XcbEvent step(const Predicate& wanted);
  bool ended() const { return gaveUp_ || (replaced_ && replaced_()); }
  std::optional<Bytes> readIncremental(xcb_atom_t target, uint64_t limit);
  void tooLarge(xcb_atom_t target, uint64_t limit);

  XcbConnection& connection_;
  const xcb_window_t window_;
  const xcb_atom_t selection_;
  const std::chrono::milliseconds stepTimeout_;
  const uint64_t maxBytes_;
  const Log log_;
  const Dispatch dispatch_;
  const xcb_atom_t property_, timeProperty_, incr_;
  bool tooLargeLogged_ = false;
  std::chrono::milliseconds copyTimeout_{0};
  Clock::time_point deadline_ = Clock::time_point::max();
  std::function<bool()> replaced_;
  bool gaveUp_ = false;
};

}  // namespace vesk
