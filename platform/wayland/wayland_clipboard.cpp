#include "platform/wayland/wayland_clipboard.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <unordered_map>
#include <utility>

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <ext-data-control-v1-client-protocol.h>
#include <wayland-client.h>
#include <wlr-data-control-unstable-v1-client-protocol.h>

#include "core/clipboard/clip_reading.h"
#include "platform/linux/clipboard_thread.h"
#include "platform/linux/kept_copy.h"
#include "platform/linux/x11_clipboard_types.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_pipe_sends.h"
#include "platform/wayland/wayland_selection_reader.h"

namespace vesk {
namespace {

using Clock = std::chrono::steady_clock;
using Types = X11ClipboardTypes;

// The two protocols have the same requests and events in the same order, so the wlr glue drives
// both; only the objects created are made with the interfaces of the protocol in use.
using Manager = zwlr_data_control_manager_v1;
using Device = zwlr_data_control_device_v1;
using Source = zwlr_data_control_source_v1;
using OfferProxy = zwlr_data_control_offer_v1;

struct Protocol {
  const wl_interface* manager;
  const wl_interface* device;
  const wl_interface* source;
};

constexpr Protocol kExt{&ext_data_control_manager_v1_interface,
                        &ext_data_control_device_v1_interface,
                        &ext_data_control_source_v1_interface};
constexpr Protocol kWlr{&zwlr_data_control_manager_v1_interface,
                        &zwlr_data_control_device_v1_interface,
                        &zwlr_data_control_source_v1_interface};

// Requests that create objects (their opcodes in both protocols).
constexpr uint32_t kCreateDataSource = 0;
constexpr uint32_t kGetDataDevice = 1;

constexpr size_t kMostTypes = 512;

bool contains(const std::vector<std::string>& list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// What one offer of the compositor lists: the MIME types (the markers and the hint always, the
// others up to kMostTypes).
struct OfferTypes {
  std::vector<std::string> mimeTypes;
  size_t others = 0;
};

// What one copy offers, fetched once per change count.
struct Offer {
  int64_t changeCount = -1;
  std::vector<std::string> mimeTypes;
  std::vector<std::string> uris;
  bool concealed = false;
  bool marked = false;  // concealed, transient or generated: never kept
};

using Served = std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>>;

}  // namespace

class WaylandClipboard::Worker {
 public:
  Worker(Options options, std::unique_ptr<WaylandConnection> connection, const Protocol& protocol,
         Manager* manager, Device* device, std::unique_ptr<ClipboardThread> thread)
      : options_(std::move(options)),
        thread_(std::move(thread)),
        connection_(std::move(connection)),
        protocol_(protocol),
        manager_(manager),
        device_(device),
        sends_(options_.copyTimeout),
        reader_(
            options_.stepTimeout, options_.copyTimeout, options_.maxBytes,
            [this](int fd, Clock::time_point until) { return pump(fd, until); },
            [this](const std::string& line) { thread_->log(line); }) {
    zwlr_data_control_device_v1_add_listener(device_, &kDeviceListener, this);
    thread_->start(
        [] {
          // A reader that closes its end early must cost a failed write, not the process.
          sigset_t pipe;
          sigemptyset(&pipe);
          sigaddset(&pipe, SIGPIPE);
          pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        },
        [this] { idle(); });
  }

  ~Worker() {
    thread_->stop();
    for (auto& [proxy, types] : offers_) {
      zwlr_data_control_offer_v1_destroy(proxy);
    }
    for (auto& [source, served] : sources_) {
      zwlr_data_control_source_v1_destroy(source);
    }
    zwlr_data_control_device_v1_destroy(device_);
    zwlr_data_control_manager_v1_destroy(manager_);
  }

  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  Worker(Worker&&) = delete;
  Worker& operator=(Worker&&) = delete;

  int64_t changeCount() const { return changeCount_.load(); }

  template <class T, class Work>
  T call(Work work, T fallback) {
    return thread_->call<T>(std::move(work), std::move(fallback));
  }

  // --- on the clipboard thread ---

  std::optional<std::vector<std::vector<std::string>>> itemTypes() {
    const Offer* offer = currentOffer();
    if (offer == nullptr) {
      return std::nullopt;
    }
    return Types::itemTypesOf({offer->mimeTypes, offer->uris, offer->concealed});
  }

  std::optional<Bytes> data(size_t item, const std::string& type) {
    const Offer* offer = currentOffer();
    if (offer == nullptr) {
      return std::nullopt;
    }
    std::optional<Types::Read> read =
        Types::read({offer->mimeTypes, offer->uris, offer->concealed}, item, type,
                    [this](const std::string& mimeType) { return receive(mimeType); });
    if (!read) {
      return std::nullopt;
    }
    if (read->fromOwner && options_.manageClipboard && !offer->marked && !offer->concealed) {
      kept_.keep(offer->changeCount, item, type, read->bytes);
    }
    return std::move(read->bytes);
  }

  Result<int64_t> write(const ClipItems& items) {
    if (deviceGone_ || connection_->broken()) {
      return Failure{"the compositor stopped sharing the clipboard"};
    }
    Source* source = nullptr;
    if (items.empty()) {
      kept_.clear();  // emptied on purpose: nothing to offer again
    } else {
      source = reinterpret_cast<Source*>(wl_proxy_marshal_flags(
          reinterpret_cast<wl_proxy*>(manager_), kCreateDataSource, protocol_.source,
          wl_proxy_get_version(reinterpret_cast<wl_proxy*>(manager_)), 0, nullptr));
      Served served;
      for (auto& [mimeType, bytes] : Types::offerFor(items)) {
        zwlr_data_control_source_v1_offer(source, mimeType.c_str());
        served.emplace_back(mimeType, std::make_shared<const Bytes>(std::move(bytes)));
      }
      zwlr_data_control_source_v1_add_listener(source, &kSourceListener, this);
      sources_.emplace(source, std::move(served));
    }
    zwlr_data_control_device_v1_set_selection(device_, source);
    ownSource_ = source;
    // The compositor announces the new selection before it answers a later sync: wait for that
    // answer, so that the count returned is the one the reading side reports from now on.
    bool synced = false;
    wl_callback* callback = wl_display_sync(connection_->display());
    wl_callback_add_listener(callback, &kSyncListener, &synced);
    const auto until = Clock::now() + options_.stepTimeout;
    while (!synced && !connection_->broken() && Clock::now() < until && !thread_->stopping()) {
      pump(-1, until);
    }
    if (!synced) {
      wl_callback_destroy(callback);
      return Failure{"the compositor didn't answer"};
    }
    return changeCount();
  }

  bool owns() const { return ownSource_ != nullptr; }

  bool gaveUp(int64_t count) const { return readingCount_ == count && reader_.gaveUp(); }

 private:
  static void onSync(void* data, wl_callback* callback, uint32_t /*serial*/) {
    *static_cast<bool*>(data) = true;
    wl_callback_destroy(callback);
  }
  static constexpr wl_callback_listener kSyncListener{onSync};

  // --- the device's events ---

  static void onDataOffer(void* data, Device* /*device*/, OfferProxy* offer) {
    auto* self = static_cast<Worker*>(data);
    self->offers_.emplace(offer, OfferTypes{});
    zwlr_data_control_offer_v1_add_listener(offer, &kOfferListener, self);
  }

  static void onSelection(void* data, Device* /*device*/, OfferProxy* offer) {
    auto* self = static_cast<Worker*>(data);
    if (self->selection_ != nullptr && self->selection_ != offer) {
      self->forget(self->selection_);
    }
    self->selection_ = offer;
    const int64_t before = self->changeCount_.fetch_add(1);
    // Cleared, most often because its owner quit: offer the copy the history read again.
    if (offer == nullptr && self->options_.manageClipboard && self->kept_.holds(before)) {
      self->thread_->post([self, count = before + 1] { self->adopt(count); });
    }
  }

  static void onFinished(void* data, Device* /*device*/) {
    auto* self = static_cast<Worker*>(data);
    self->deviceGone_ = true;
    self->thread_->log(
        "The compositor stopped sharing the clipboard: copies aren't recorded any more");
  }

  static void onPrimarySelection(void* data, Device* /*device*/, OfferProxy* offer) {
    auto* self = static_cast<Worker*>(data);
    if (self->primary_ != nullptr && self->primary_ != offer) {
      self->forget(self->primary_);
    }
    self->primary_ = offer;
  }

  static constexpr zwlr_data_control_device_v1_listener kDeviceListener{
      onDataOffer, onSelection, onFinished, onPrimarySelection};

  static void onOffer(void* data, OfferProxy* offer, const char* mimeType) {
    auto* self = static_cast<Worker*>(data);
    const auto found = self->offers_.find(offer);
    if (found == self->offers_.end()) {
      return;
    }
    OfferTypes& types = found->second;
    const std::string_view name(mimeType);
    const bool marker = ClipReading::isSkipMarker(name) || name == Types::kKdePasswordHint;
    if ((marker || types.others++ < kMostTypes) && !contains(types.mimeTypes, name)) {
      types.mimeTypes.emplace_back(name);
    }
  }

  static constexpr zwlr_data_control_offer_v1_listener kOfferListener{onOffer};

  // --- the events of Vesk's own sources ---

  static void onSend(void* data, Source* source, const char* mimeType, int32_t fd) {
    auto* self = static_cast<Worker*>(data);
    const auto found = self->sources_.find(source);
    if (found != self->sources_.end()) {
      for (const auto& [offered, bytes] : found->second) {
        if (offered == mimeType) {
          self->sends_.add(fd, bytes);
          return;
        }
      }
    }
    ::close(fd);
  }

  static void onCancelled(void* data, Source* source) {
    auto* self = static_cast<Worker*>(data);
    if (self->ownSource_ == source) {
      self->ownSource_ = nullptr;
    }
    self->sources_.erase(source);
    zwlr_data_control_source_v1_destroy(source);
  }

  static constexpr zwlr_data_control_source_v1_listener kSourceListener{onSend, onCancelled};

  void forget(OfferProxy* offer) {
    offers_.erase(offer);
    zwlr_data_control_offer_v1_destroy(offer);
  }

  // The selection was cleared: offer the copy kept of it, unless a newer copy came meanwhile.
  void adopt(int64_t count) {
    if (changeCount() != count || selection_ != nullptr || kept_.items().empty()) {
      return;
    }
    const ClipItems items = kept_.items();
    if (auto written = write(items); !written) {
      thread_->log("Couldn't keep the copy of an application that quit: " +
                   written.failure().description);
    }
  }

  const Offer* currentOffer() {
    const int64_t count = changeCount();
    if (offer_.changeCount == count) {
      return &offer_;
    }
    offer_ = Offer{};
    readingCount_ = count;
    reader_.newCopy();
    const auto found = offers_.find(selection_);
    if (selection_ == nullptr || found == offers_.end()) {
      return nullptr;
    }
    offer_.mimeTypes = found->second.mimeTypes;
    // The markers decide before anything else is read.
    offer_.marked = std::any_of(offer_.mimeTypes.begin(), offer_.mimeTypes.end(),
                                [](const auto& type) { return ClipReading::isSkipMarker(type); });
    if (!offer_.marked && contains(offer_.mimeTypes, Types::kKdePasswordHint)) {
      offer_.concealed = Types::hintConceals(receive(std::string(Types::kKdePasswordHint)));
    }
    if (!offer_.marked && !offer_.concealed && contains(offer_.mimeTypes, Types::kUriList)) {
      if (const auto list = receive(std::string(Types::kUriList))) {
        offer_.uris = Types::parseUriList(
            std::string_view(reinterpret_cast<const char*>(list->data()), list->size()));
      }
    }
    offer_.changeCount = count;
    return &offer_;
  }

  // One MIME type of the current selection; none once a newer copy replaced it.
  std::optional<Bytes> receive(const std::string& mimeType) {
    const int64_t count = changeCount();
    return reader_.receive(selection_, mimeType, [this, count] {
      return changeCount() != count || thread_->stopping() || connection_->broken();
    });
  }

  // One round of waiting: sends what is queued to the compositor, waits until it, the wake-up
  // descriptor, a reader of Vesk's data or `fd` (when not -1) is ready, or `until`, and handles
  // what is ready. Returns the events of `fd`.
  short pump(int fd, Clock::time_point until) {
    wl_display* display = connection_->display();
    while (wl_display_prepare_read(display) != 0) {
      wl_display_dispatch_pending(display);
    }
    wl_display_flush(display);
    std::vector<pollfd> descriptors{{thread_->wakeFd(), POLLIN, 0},
                                    {wl_display_get_fd(display), POLLIN, 0}};
    const size_t first = descriptors.size() + (fd >= 0 ? 1 : 0);
    if (fd >= 0) {
      descriptors.push_back({fd, POLLIN, 0});
    }
    until = sends_.prepare(descriptors, until);
    const auto now = Clock::now();
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
        std::max(until - now, Clock::duration::zero()));
    // A broken connection stays readable: then wait for the others only.
    if (connection_->broken()) {
      descriptors[1].fd = -1;
    }
    ::poll(descriptors.data(), descriptors.size(), static_cast<int>(wait.count()));
    if ((descriptors[1].revents & POLLIN) != 0) {
      wl_display_read_events(display);
    } else {
      wl_display_cancel_read(display);
    }
    if ((descriptors[0].revents & POLLIN) != 0) {
      thread_->drainWake();
    }
    // The sends first: dispatching may queue new ones.
    sends_.progress(descriptors.data() + first);
    const short events = fd >= 0 ? descriptors[2].revents : short{0};
    wl_display_dispatch_pending(display);
    return events;
  }

  // Between tasks: the compositor's events and Vesk's sends, and a wait for more.
  void idle() {
    pump(-1, Clock::now() + std::chrono::hours(1));
    if (connection_->broken() && !reportedBroken_) {
      reportedBroken_ = true;
      thread_->log(
          "The connection to the Wayland compositor broke: copies aren't recorded any more");
    }
  }

  const Options options_;
  const std::unique_ptr<ClipboardThread> thread_;
  const std::unique_ptr<WaylandConnection> connection_;
  const Protocol protocol_;
  Manager* const manager_;
  Device* const device_;

  std::unordered_map<OfferProxy*, OfferTypes> offers_;
  OfferProxy* selection_ = nullptr;
  OfferProxy* primary_ = nullptr;
  std::unordered_map<Source*, Served> sources_;
  Source* ownSource_ = nullptr;
  WaylandPipeSends sends_;
  bool deviceGone_ = false;

  Offer offer_;
  KeptCopy kept_;  // what the history read of the current copy
  WaylandSelectionReader reader_;
  int64_t readingCount_ = -1;  // the change count of the copy read last
  std::atomic<int64_t> changeCount_{0};
  bool reportedBroken_ = false;
};

Result<std::unique_ptr<WaylandClipboard>> WaylandClipboard::open(Options options) {
  auto opened = WaylandConnection::open(options.display);
  if (!opened) {
    return opened.failure();
  }
  std::unique_ptr<WaylandConnection> connection = std::move(opened).value();
  const bool ext = connection->offers(ext_data_control_manager_v1_interface.name);
  if (!ext && !connection->offers(zwlr_data_control_manager_v1_interface.name)) {
    return Failure{
        "the compositor offers no data-control protocol (ext_data_control_manager_v1 or "
        "zwlr_data_control_manager_v1)"};
  }
  const Protocol& protocol = ext ? kExt : kWlr;
  auto* seat = static_cast<wl_seat*>(connection->bind(wl_seat_interface, 1));
  if (seat == nullptr) {
    return Failure{"the compositor offers no seat"};
  }
  auto* manager = static_cast<Manager*>(connection->bind(*protocol.manager, 1));
  auto* device = reinterpret_cast<Device*>(wl_proxy_marshal_flags(
      reinterpret_cast<wl_proxy*>(manager), kGetDataDevice, protocol.device, 1, 0, nullptr, seat));
  wl_seat_destroy(seat);  // the device keeps the seat; this only drops Vesk's handle
  auto thread = ClipboardThread::make(options.log);
  if (!thread) {
    zwlr_data_control_device_v1_destroy(device);
    zwlr_data_control_manager_v1_destroy(manager);
    return thread.failure();
  }
  std::string name = protocol.manager->name;
  auto worker = std::make_unique<Worker>(std::move(options), std::move(connection), protocol,
                                         manager, device, std::move(thread).value());
  return std::unique_ptr<WaylandClipboard>(
      new WaylandClipboard(std::move(worker), std::move(name)));
}

WaylandClipboard::WaylandClipboard(std::unique_ptr<Worker> worker, std::string protocol)
    : worker_(std::move(worker)), protocol_(std::move(protocol)) {}

WaylandClipboard::~WaylandClipboard() = default;

int64_t WaylandClipboard::changeCount() {
  return worker_->changeCount();
}

std::optional<std::vector<std::vector<std::string>>> WaylandClipboard::itemTypes() {
  using Value = std::optional<std::vector<std::vector<std::string>>>;
  return worker_->call<Value>([this] { return worker_->itemTypes(); }, std::nullopt);
}

std::optional<std::vector<uint8_t>> WaylandClipboard::data(size_t item, const std::string& type) {
  using Value = std::optional<Bytes>;
  return worker_->call<Value>([this, item, type] { return worker_->data(item, type); },
                              std::nullopt);
}

std::optional<std::string> WaylandClipboard::string(size_t item, const std::string& type) {
  auto bytes = data(item, type);
  if (!bytes) {
    return std::nullopt;
  }
  return std::string(bytes->begin(), bytes->end());
}

std::optional<std::string> WaylandClipboard::plainString() {
  return string(0, std::string(X11ClipboardTypes::kPlainText));
}

Result<int64_t> WaylandClipboard::write(const ClipItems& items) {
  return worker_->call<Result<int64_t>>([this, &items] { return worker_->write(items); },
                                        Failure{"the clipboard connection was closed"});
}

bool WaylandClipboard::gaveUp(int64_t changeCount) {
  return worker_->call<bool>([this, changeCount] { return worker_->gaveUp(changeCount); }, true);
}

bool WaylandClipboard::ownsClipboard() {
  return worker_->call<bool>([this] { return worker_->owns(); }, false);
}

}  // namespace vesk
