#include "platform/linux/x11_pasteboard.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <utility>

#include <poll.h>

#include <xcb/xfixes.h>

#include "core/clipboard/clip_reading.h"
#include "platform/linux/clipboard_thread.h"
#include "platform/linux/x11_clipboard_manager.h"
#include "platform/linux/x11_clipboard_types.h"
#include "platform/linux/x11_selection_owner.h"
#include "platform/linux/x11_selection_reader.h"
#include "platform/linux/xcb_connection.h"

namespace vesk {
namespace {

using Clock = XcbConnection::Clock;
using Types = X11ClipboardTypes;

constexpr size_t kMostTargets = 512;

// What one copy offers, fetched once per change count.
struct Offer {
  int64_t changeCount = -1;
  std::vector<std::string> targets;
  std::vector<std::string> uris;
  bool concealed = false;
  bool marked = false;  // concealed, transient or generated: never kept
};

bool contains(const std::vector<std::string>& list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

class X11Pasteboard::Worker {
 public:
  Worker(Options options, std::unique_ptr<XcbConnection> connection, xcb_window_t window,
         uint8_t xfixesEvent, std::unique_ptr<ClipboardThread> thread)
      : options_(std::move(options)),
        thread_(std::move(thread)),
        connection_(std::move(connection)),
        window_(window),
        xfixesEvent_(xfixesEvent),
        clipboard_(connection_->atom("CLIPBOARD")),
        targets_(connection_->atom("TARGETS")),
        nudge_(connection_->atom("VESK_NUDGE")),
        owner_(*connection_, window, clipboard_),
        reader_(
            *connection_, window, clipboard_, options_.stepTimeout, options_.maxBytes,
            [this](const std::string& line) { thread_->log(line); },
            [this](const xcb_generic_event_t* event) { dispatch(event); }),
        manager_(*connection_, window, reader_, owner_, options_.copyTimeout,
                 options_.handOverBytes,
                 {.post = [this](std::function<void()> task) { thread_->post(std::move(task)); },
                  .log = [this](const std::string& line) { thread_->log(line); },
                  .changeCount = [this] { return changeCount(); },
                  .writeWaiting = [this] { return writesWaiting_.load() > 0; },
                  .readingHandOver = [this] { readingCount_ = -1; }}) {
    for (const std::string_view marker : ClipReading::skipMarkers) {
      markers_.push_back(connection_->atom(marker));
    }
    markers_.push_back(connection_->atom(ClipReading::passwordManagerHint));
    thread_->start(
        [this] {
          if (options_.manageClipboard) {
            manager_.start();
          }
        },
        [this] { idle(); });
  }

  ~Worker() { thread_->stop(); }

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
    return Types::itemTypesOf({offer->targets, offer->uris, offer->concealed});
  }

  std::optional<Bytes> data(size_t item, const std::string& type) {
    const Offer* offer = currentOffer();
    if (offer == nullptr) {
      return std::nullopt;
    }
    std::optional<Types::Read> read =
        Types::read({offer->targets, offer->uris, offer->concealed}, item, type,
                    [this](const std::string& target) { return convert(target); });
    if (!read) {
      return std::nullopt;
    }
    if (read->fromOwner && !offer->marked && !offer->concealed) {
      manager_.keep(offer->changeCount, item, type, read->bytes);
    }
    return std::move(read->bytes);
  }

  // Any thread, before a write is queued: a hand-over being read gives way to it at once.
  void writeQueued() {
    writesWaiting_.fetch_add(1);
    // An empty append still makes the server send PropertyNotify, which wakes a waiting read.
    // (xcb requests may come from any thread; the atom was made beforehand.)
    xcb_change_property(connection_->get(), XCB_PROP_MODE_APPEND, window_, nudge_, XCB_ATOM_STRING,
                        8, 0, nullptr);
    xcb_flush(connection_->get());
  }

  Result<int64_t> write(const ClipItems& items) {
    writesWaiting_.fetch_sub(1);
    const auto time = reader_.serverTime();
    if (!time) {
      return Failure{"the X server didn't answer"};
    }
    if (!owner_.take(Types::offerFor(items), *time)) {
      return Failure{"another application holds the clipboard"};
    }
    // Wait for our own owner-change notification, so that the count returned is the one the
    // reading side reports from now on.
    reader_.waitFor(
        [&](const xcb_generic_event_t* event) {
          if (eventType(event) != xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
            return false;
          }
          const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
          return notify->owner == window_ && notify->selection_timestamp == *time;
        },
        Clock::now() + options_.stepTimeout);
    return changeCount();
  }

  bool owns() const { return owner_.owns(); }
  bool managesClipboard() const { return manager_.manages(); }

  bool gaveUp(int64_t count) const { return readingCount_ == count && reader_.gaveUp(); }

 private:
  // Between tasks: the events, then a wait for more.
  void idle() {
    while (XcbEvent event{xcb_poll_for_event(connection_->get())}) {
      dispatch(event.get());
    }
    xcb_flush(connection_->get());
    const auto now = Clock::now();
    const auto next = owner_.expire(now);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
    std::array<pollfd, 2> descriptors{
        {{thread_->wakeFd(), POLLIN, 0}, {connection_->fd(), POLLIN, 0}}};
    // A broken connection stays readable: then wait for tasks and the stop request only.
    const nfds_t count = connection_->broken() ? 1 : 2;
    ::poll(descriptors.data(), count, static_cast<int>(std::max<int64_t>(1, wait.count())));
    if ((descriptors[0].revents & POLLIN) != 0) {
      thread_->drainWake();
    }
  }

  void dispatch(const xcb_generic_event_t* event) {
    if (eventType(event) == xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
      const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
      if (notify->selection == clipboard_) {
        const int64_t before = changeCount_.fetch_add(1);
        manager_.ownerChanged(before,
                              notify->subtype != XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER);
      }
      return;
    }
    if (!manager_.handle(event)) {
      owner_.handle(event);
    }
  }

  std::optional<Bytes> convert(const std::string& target) {
    return reader_.convert(connection_->atom(target));
  }

  const Offer* currentOffer() {
    const int64_t count = changeCount();
    if (offer_.changeCount == count) {
      return &offer_;
    }
    offer_ = Offer{};
    readingCount_ = count;
    // A copy replaced while it is read would be dropped anyway: stop reading it at once.
    reader_.newCopy(options_.copyTimeout, [this, count] { return changeCount() != count; });
    const auto list = reader_.convert(targets_);
    if (!list) {
      return nullptr;
    }
    // The markers are found among all the targets, however many there are, by their atoms (no
    // round trip). An owner offering absurdly many targets costs a round trip per name, so only
    // the first of the others are looked at.
    const size_t atoms = list->size() / 4;
    size_t named = 0;
    for (size_t i = 0; i < atoms; ++i) {
      xcb_atom_t atom = 0;
      std::copy_n(list->data() + i * 4, 4, reinterpret_cast<uint8_t*>(&atom));
      const bool marker = std::find(markers_.begin(), markers_.end(), atom) != markers_.end();
      if (!marker && named++ >= kMostTargets) {
        continue;
      }
      std::string name = connection_->atomName(atom);
      if (!name.empty() && !contains(offer_.targets, name)) {
        offer_.targets.push_back(std::move(name));
      }
    }
    // The markers decide before anything else is read.
    const bool marked =
        std::any_of(offer_.targets.begin(), offer_.targets.end(),
                    [](const auto& target) { return ClipReading::isSkipMarker(target); });
    offer_.marked = marked;
    if (!marked && contains(offer_.targets, Types::kKdePasswordHint)) {
      offer_.concealed = Types::hintConceals(convert(std::string(Types::kKdePasswordHint)));
    }
    if (!marked && !offer_.concealed && contains(offer_.targets, Types::kUriList)) {
      if (const auto list = convert(std::string(Types::kUriList))) {
        offer_.uris = Types::parseUriList(
            std::string_view(reinterpret_cast<const char*>(list->data()), list->size()));
      }
    }
    offer_.changeCount = count;
    return &offer_;
  }

  const Options options_;
  const std::unique_ptr<ClipboardThread> thread_;
  const std::unique_ptr<XcbConnection> connection_;
  const xcb_window_t window_;
  const uint8_t xfixesEvent_;
  const xcb_atom_t clipboard_, targets_, nudge_;
  X11SelectionOwner owner_;
  X11SelectionReader reader_;
  X11ClipboardManager manager_;
  std::vector<xcb_atom_t> markers_;  // the skip markers and the password hint
  Offer offer_;
  int64_t readingCount_ = -1;  // the change count of the copy read last
  std::atomic<int64_t> changeCount_{0};
  std::atomic<int> writesWaiting_{0};  // Vesk's own writes queued for the clipboard thread
};

Result<std::unique_ptr<X11Pasteboard>> X11Pasteboard::open(Options options) {
  auto opened = XcbConnection::open(options.display);
  if (!opened) {
    return opened.failure();
  }
  std::unique_ptr<XcbConnection> connection = std::move(opened).value();
  xcb_connection_t* c = connection->get();
  const XcbReply<xcb_xfixes_query_version_reply_t> version(
      xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
  const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
  if (!version || xfixes == nullptr || xfixes->present == 0) {
    return Failure{"the X server has no XFixes extension, so copies can't be noticed"};
  }

  const xcb_window_t window = xcb_generate_id(c);
  const std::array<uint32_t, 2> values{1, XCB_EVENT_MASK_PROPERTY_CHANGE};
  xcb_create_window(c, 0, window, connection->root(), -10, -10, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                    XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values.data());
  xcb_xfixes_select_selection_input(c, window, connection->atom("CLIPBOARD"),
                                    XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
  xcb_flush(c);
  auto thread = ClipboardThread::make(options.log);
  if (!thread) {
    return thread.failure();
  }
  auto worker = std::make_unique<Worker>(std::move(options), std::move(connection), window,
                                         xfixes->first_event, std::move(thread).value());
  return std::unique_ptr<X11Pasteboard>(new X11Pasteboard(std::move(worker)));
}

std::string X11Pasteboard::gaveUpLine(std::chrono::milliseconds copyTimeout) {
  std::array<char, 32> seconds{};
  std::snprintf(seconds.data(), seconds.size(), "%g",
                std::chrono::duration<double>(copyTimeout).count());
  return "Gave up reading a copy: the application holding it took longer than " +
         std::string(seconds.data()) + " s to send it";
}

X11Pasteboard::X11Pasteboard(std::unique_ptr<Worker> worker) : worker_(std::move(worker)) {}

X11Pasteboard::~X11Pasteboard() = default;

int64_t X11Pasteboard::changeCount() {
  return worker_->changeCount();
}

std::optional<std::vector<std::vector<std::string>>> X11Pasteboard::itemTypes() {
  using Value = std::optional<std::vector<std::vector<std::string>>>;
  return worker_->call<Value>([this] { return worker_->itemTypes(); }, std::nullopt);
}

std::optional<std::vector<uint8_t>> X11Pasteboard::data(size_t item, const std::string& type) {
  using Value = std::optional<Bytes>;
  return worker_->call<Value>([this, item, type] { return worker_->data(item, type); },
                              std::nullopt);
}

std::optional<std::string> X11Pasteboard::string(size_t item, const std::string& type) {
  auto bytes = data(item, type);
  if (!bytes) {
    return std::nullopt;
  }
  return std::string(bytes->begin(), bytes->end());
}

std::optional<std::string> X11Pasteboard::plainString() {
  return string(0, std::string(X11ClipboardTypes::kPlainText));
}

Result<int64_t> X11Pasteboard::write(const ClipItems& items) {
  worker_->writeQueued();
  return worker_->call<Result<int64_t>>([this, &items] { return worker_->write(items); },
                                        Failure{"the clipboard connection was closed"});
}

bool X11Pasteboard::gaveUp(int64_t changeCount) {
  return worker_->call<bool>([this, changeCount] { return worker_->gaveUp(changeCount); }, true);
}

bool X11Pasteboard::ownsClipboard() {
  return worker_->call<bool>([this] { return worker_->owns(); }, false);
}

bool X11Pasteboard::managesClipboard() {
  return worker_->call<bool>([this] { return worker_->managesClipboard(); }, false);
}

}  // namespace vesk
