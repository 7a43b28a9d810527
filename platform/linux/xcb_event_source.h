#pragma once
// XcbEventSource: delivers the events of one X connection on the Qt main thread. A socket
// notifier wakes it when the server sent something; events that libxcb queued while the owner
// waited for a reply are handed out before the event loop next sleeps (or at `drainSoon`).
//
// Main thread only; the connection must outlive the source.

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include <xcb/xcb.h>

#include "platform/linux/xcb_connection.h"

namespace vesk {

class XcbEventSource final {
 public:
  using Handler = std::function<void(const xcb_generic_event_t*)>;

  XcbEventSource(XcbConnection& connection, Handler handler);
  ~XcbEventSource();
  XcbEventSource(const XcbEventSource&) = delete;
  XcbEventSource& operator=(const XcbEventSource&) = delete;

  // Handles every event read so far.
  void drain();
  // Schedules `drain` on the main loop (for events queued during a round trip). Any thread.
  void drainSoon();

 private:
  void drainQueued();

  XcbConnection& connection_;
  Handler handler_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::unique_ptr<QObject> context_;  // owns the queued calls; gone with the source
  bool draining_ = false;
};

// A server time stamp (milliseconds, 32 bits) as seconds on CLOCK_MONOTONIC. Servers on this
// machine count on the same clock; a stamp that does not fit that (another machine, a wrapped
// or future stamp) counts as now.
double monotonicSecondsOf(xcb_timestamp_t time);

// Seconds on CLOCK_MONOTONIC now.
double monotonicNow();

}  // namespace vesk
