#include "platform/linux/xcb_event_source.h"

#include <QAbstractEventDispatcher>
#include <QMetaObject>
#include <ctime>

namespace vesk {
namespace {

// A press older than this is not believable as the age of an event just read.
constexpr double kLongestDelivery = 60.0;

}  // namespace

XcbEventSource::XcbEventSource(XcbConnection& connection, Handler handler)
    : connection_(connection),
      handler_(std::move(handler)),
      notifier_(std::make_unique<QSocketNotifier>(connection.fd(), QSocketNotifier::Read)),
      context_(std::make_unique<QObject>()) {
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, context_.get(),
                   [this] { drain(); });
  // Events libxcb read while someone on this thread waited for a reply sit in its queue, and
  // the socket has nothing more to say about them: hand them out before the loop sleeps.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, context_.get(),
                     [this] { drainQueued(); });
  }
}

void XcbEventSource::drainQueued() {
  if (draining_) {
    return;
  }
  draining_ = true;
  while (XcbEvent event{xcb_poll_for_queued_event(connection_.get())}) {
    handler_(event.get());
  }
  draining_ = false;
}

XcbEventSource::~XcbEventSource() = default;

void XcbEventSource::drain() {
  if (draining_) {
    return;  // a handler that makes round trips gets its events in the outer loop
  }
  draining_ = true;
  while (XcbEvent event{xcb_poll_for_event(connection_.get())}) {
    handler_(event.get());
  }
  draining_ = false;
  if (connection_.broken()) {
    notifier_->setEnabled(false);  // a dead socket stays readable forever
  }
}

void XcbEventSource::drainSoon() {
  QMetaObject::invokeMethod(
      context_.get(), [this] { drain(); }, Qt::QueuedConnection);
}

double monotonicNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double monotonicSecondsOf(xcb_timestamp_t time) {
  const double now = monotonicNow();
  const auto nowMs = static_cast<uint32_t>(static_cast<uint64_t>(now * 1000.0));
  const double age = static_cast<uint32_t>(nowMs - time) / 1000.0;
  return age < kLongestDelivery ? now - age : now;
}

}  // namespace vesk
