#include "platform/wayland/wayland_clipboard.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <ext-data-control-v1-client-protocol.h>
#include <wayland-client.h>
#include <wlr-data-control-unstable-v1-client-protocol.h>

#include "core/clipboard/clip_reading.h"
#include "platform/linux/x11_clipboard_types.h"
#include "platform/wayland/wayland_connection.h"

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
constexpr size_t kChunk = size_t{64} * 1024;

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

// What was read of the current copy, to offer it again should its owner quit.
struct Kept {
  int64_t changeCount = -1;
  ClipItems items;
};

// Data being written to a reader of one of Vesk's own sources.
struct Send {
  int fd = -1;
  std::shared_ptr<const Bytes> data;
  size_t written = 0;
  Clock::time_point progressed;
};

using Served = std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>>;

}  // namespace

class WaylandClipboard::Worker {
 public:
  Worker(Options options, std::unique_ptr<WaylandConnection> connection, const Protocol& protocol,
         Manager* manager, Device* device, int wakeFd)
      : options_(std::move(options)),
        connection_(std::move(connection)),
        protocol_(protocol),
        manager_(manager),
        device_(device),
        wakeFd_(wakeFd) {
    zwlr_data_control_device_v1_add_listener(device_, &kDeviceListener, this);
    thread_ = std::thread([this] {
      // A reader that closes its end early must cost a failed write, not the process.
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
      loop();
    });
  }

  ~Worker() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake();
    thread_.join();
    for (const Send& send : sends_) {
      ::close(send.fd);
    }
    for (auto& [proxy, types] : offers_) {
      zwlr_data_control_offer_v1_destroy(proxy);
    }
    for (auto& [source, served] : sources_) {
      zwlr_data_control_source_v1_destroy(source);
    }
    zwlr_data_control_device_v1_destroy(device_);
    zwlr_data_control_manager_v1_destroy(manager_);
    ::close(wakeFd_);
  }

  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  Worker(Worker&&) = delete;
  Worker& operator=(Worker&&) = delete;

  int64_t changeCount() const { return changeCount_.load(); }

  // Runs `work` on the clipboard thread and waits for its result; `fallback` when the thread
  // is stopping or `work` throws (logged).
  template <class T, class Work>
  T call(Work work, T fallback) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) {
        return fallback;
      }
      tasks_.emplace_back([promise, work = std::move(work)]() mutable {
        try {
          promise->set_value(work());
        } catch (...) {
          promise->set_exception(std::current_exception());
        }
      });
    }
    wake();
    try {
      return future.get();
    } catch (const std::future_error&) {
      return fallback;
    } catch (...) {
      logSafely("clipboard thread: " + failureOf(std::current_exception()).description);
      return fallback;
    }
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
    if (read->fromOwner) {
      keep(*offer, item, type, read->bytes);
    }
    return std::move(read->bytes);
  }

  Result<int64_t> write(const ClipItems& items) {
    if (deviceGone_ || connection_->broken()) {
      return Failure{"the compositor stopped sharing the clipboard"};
    }
    Source* source = nullptr;
    if (items.empty()) {
      kept_ = Kept{};  // emptied on purpose: nothing to offer again
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
    while (!synced && !connection_->broken() && Clock::now() < until && !stopping()) {
      pump(-1, until);
    }
    if (!synced) {
      wl_callback_destroy(callback);
      return Failure{"the compositor didn't answer"};
    }
    return changeCount();
  }

  bool owns() const { return ownSource_ != nullptr; }

  bool gaveUp(int64_t count) const { return readingCount_ == count && gaveUp_; }

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
    if (offer == nullptr && self->options_.manageClipboard && self->kept_.changeCount == before &&
        !self->kept_.items.empty()) {
      self->post([self, count = before + 1] { self->adopt(count); });
    }
  }

  static void onFinished(void* data, Device* /*device*/) {
    auto* self = static_cast<Worker*>(data);
    self->deviceGone_ = true;
    self->log("The compositor stopped sharing the clipboard: copies aren't recorded any more");
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
          ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
          self->sends_.push_back({fd, bytes, 0, Clock::now()});
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

  // Queues work for the clipboard thread from within it.
  void post(std::function<void()> task) {
    {
      const std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake();
  }

  bool stopping() {
    const std::lock_guard lock(mutex_);
    return stopping_;
  }

  // Keeps a representation of the current copy read for the history, unless the copy is one
  // that is never kept.
  void keep(const Offer& offer, size_t item, const std::string& type, const Bytes& bytes) {
    if (!options_.manageClipboard || offer.marked || offer.concealed || type == Types::kConcealed) {
      return;
    }
    if (kept_.changeCount != offer.changeCount) {
      kept_ = Kept{offer.changeCount, {}};
    }
    if (kept_.items.size() <= item) {
      kept_.items.resize(item + 1);
    }
    auto& representations = kept_.items[item];
    const auto same = [&](const Representation& r) { return r.type == type; };
    if (std::none_of(representations.begin(), representations.end(), same)) {
      representations.push_back({type, bytes});
    }
  }

  // The selection was cleared: offer the copy kept of it, unless a newer copy came meanwhile.
  void adopt(int64_t count) {
    if (changeCount() != count || selection_ != nullptr || kept_.items.empty()) {
      return;
    }
    const ClipItems items = kept_.items;
    if (auto written = write(items); !written) {
      log("Couldn't keep the copy of an application that quit: " + written.failure().description);
    }
  }

  const Offer* currentOffer() {
    const int64_t count = changeCount();
    if (offer_.changeCount == count) {
      return &offer_;
    }
    offer_ = Offer{};
    readingCount_ = count;
    gaveUp_ = false;
    tooLargeLogged_ = false;
    deadline_ = Clock::now() + options_.copyTimeout;
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

  // Reads one MIME type of the current selection through a pipe, serving Vesk's own sources
  // and handling the compositor's events meanwhile. None when the copy was replaced, its owner
  // stalled, closed the pipe with an error or sent more than `maxBytes`.
  std::optional<Bytes> receive(const std::string& mimeType) {
    const int64_t count = changeCount();
    if (selection_ == nullptr || gaveUp_ || stopping()) {
      return std::nullopt;
    }
    std::array<int, 2> pipe{-1, -1};
    if (::pipe2(pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
      return std::nullopt;
    }
    zwlr_data_control_offer_v1_receive(selection_, mimeType.c_str(), pipe[1]);
    ::close(pipe[1]);
    const int fd = pipe[0];
    Bytes bytes;
    auto quiet = Clock::now() + options_.stepTimeout;
    for (;;) {
      if (changeCount() != count || stopping() || connection_->broken()) {
        break;
      }
      const auto now = Clock::now();
      if (now >= deadline_) {
        giveUp();
        break;
      }
      if (now >= quiet) {
        break;
      }
      if ((pump(fd, std::min(quiet, deadline_)) & (POLLIN | POLLHUP | POLLERR)) == 0) {
        continue;
      }
      std::array<uint8_t, kChunk> chunk{};
      const ssize_t got = ::read(fd, chunk.data(), chunk.size());
      if (got == 0) {
        ::close(fd);
        return bytes;
      }
      if (got < 0) {
        if (errno == EAGAIN || errno == EINTR) {
          continue;
        }
        break;
      }
      if (bytes.size() + static_cast<size_t>(got) > options_.maxBytes) {
        tooLarge(mimeType);
        break;
      }
      bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
      quiet = Clock::now() + options_.stepTimeout;
    }
    ::close(fd);
    return std::nullopt;
  }

  // The copy took longer than copyTimeout: nothing more of it is read.
  void giveUp() {
    gaveUp_ = true;
    std::array<char, 32> seconds{};
    std::snprintf(seconds.data(), seconds.size(), "%g",
                  std::chrono::duration<double>(options_.copyTimeout).count());
    log("Gave up reading a copy: the application holding it took longer than " +
        std::string(seconds.data()) + " s to send it");
  }

  // Said once per copy: a type of it is larger than maxBytes.
  void tooLarge(const std::string& mimeType) {
    if (!tooLargeLogged_) {
      tooLargeLogged_ = true;
      log("Couldn't read a copy of " + mimeType + ": it is larger than " +
          std::to_string(options_.maxBytes >> 20) + " MiB");
    }
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
    std::vector<pollfd> descriptors{{wakeFd_, POLLIN, 0}, {wl_display_get_fd(display), POLLIN, 0}};
    const size_t first = descriptors.size() + (fd >= 0 ? 1 : 0);
    if (fd >= 0) {
      descriptors.push_back({fd, POLLIN, 0});
    }
    for (const Send& send : sends_) {
      descriptors.push_back({send.fd, POLLOUT, 0});
    }
    auto now = Clock::now();
    for (const Send& send : sends_) {
      until = std::min(until, send.progressed + options_.copyTimeout);
    }
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
      uint64_t value = 0;
      [[maybe_unused]] const auto read = ::read(wakeFd_, &value, sizeof value);
    }
    // The sends first: dispatching may queue new ones.
    now = Clock::now();
    for (size_t i = 0; i < sends_.size(); ++i) {
      Send& send = sends_[i];
      if ((descriptors[first + i].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
        const ssize_t written = ::write(send.fd, send.data->data() + send.written,
                                        std::min(kChunk, send.data->size() - send.written));
        if (written > 0) {
          send.written += static_cast<size_t>(written);
          send.progressed = now;
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
          send.written = send.data->size();  // the reader went away
        }
      }
    }
    std::erase_if(sends_, [&](const Send& send) {
      const bool done =
          send.written >= send.data->size() || now >= send.progressed + options_.copyTimeout;
      if (done) {
        ::close(send.fd);
      }
      return done;
    });
    const short events = fd >= 0 ? descriptors[2].revents : short{0};
    wl_display_dispatch_pending(display);
    return events;
  }

  void wake() const {
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
  }

  void log(const std::string& line) const {
    if (options_.log) {
      options_.log(line);
    } else {
      std::fprintf(stderr, "vesk: %s\n", line.c_str());
    }
  }

  void logSafely(const std::string& line) const {
    try {
      log(line);
    } catch (...) {
      std::fprintf(stderr, "vesk: %s\n", line.c_str());
    }
  }

  // The thread's entry: nothing thrown by serving the clipboard may end the process.
  void loop() {
    bool reported = false;
    for (;;) {
      try {
        std::function<void()> task;
        {
          const std::lock_guard lock(mutex_);
          if (stopping_) {
            return;
          }
          if (!tasks_.empty()) {
            task = std::move(tasks_.front());
            tasks_.pop_front();
          }
        }
        if (task) {
          task();
          continue;
        }
        pump(-1, Clock::now() + std::chrono::hours(1));
        if (connection_->broken() && !reported) {
          reported = true;
          log("The connection to the Wayland compositor broke: copies aren't recorded any more");
        }
      } catch (...) {
        logSafely("clipboard thread: " + failureOf(std::current_exception()).description);
      }
    }
  }

  const Options options_;
  const std::unique_ptr<WaylandConnection> connection_;
  const Protocol protocol_;
  Manager* const manager_;
  Device* const device_;
  const int wakeFd_;

  std::unordered_map<OfferProxy*, OfferTypes> offers_;
  OfferProxy* selection_ = nullptr;
  OfferProxy* primary_ = nullptr;
  std::unordered_map<Source*, Served> sources_;
  Source* ownSource_ = nullptr;
  std::vector<Send> sends_;
  bool deviceGone_ = false;

  Offer offer_;
  Kept kept_;
  int64_t readingCount_ = -1;  // the change count of the copy read last
  Clock::time_point deadline_{};
  bool gaveUp_ = false;
  bool tooLargeLogged_ = false;
  std::atomic<int64_t> changeCount_{0};

  std::mutex mutex_;
  bool stopping_ = false;
  std::deque<std::function<void()>> tasks_;
  std::thread thread_;
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
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    zwlr_data_control_device_v1_destroy(device);
    zwlr_data_control_manager_v1_destroy(manager);
    return Failure{"couldn't create the clipboard thread's wake-up descriptor"};
  }
  std::string name = protocol.manager->name;
  auto worker = std::make_unique<Worker>(std::move(options), std::move(connection), protocol,
                                         manager, device, wakeFd);
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
