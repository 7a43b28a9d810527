#include "platform/linux/x11_pasteboard.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <xcb/xfixes.h>

#include "core/clipboard/clip_reading.h"
#include "platform/linux/x11_clipboard_types.h"
#include "platform/linux/x11_selection_owner.h"
#include "platform/linux/x11_selection_reader.h"
#include "platform/linux/xcb_connection.h"

namespace vesk {
namespace {

using Clock = XcbConnection::Clock;
using Types = X11ClipboardTypes;

constexpr size_t kMostTargets = 512;

// The targets a hand-over keeps: text in any form, and images.
bool isTextTarget(std::string_view name) {
  return name.starts_with("text/") || name == "UTF8_STRING" || name == "STRING" || name == "TEXT";
}
bool isImageTarget(std::string_view name) {
  return name.starts_with("image/");
}

// What one copy offers, fetched once per change count.
struct Offer {
  int64_t changeCount = -1;
  std::vector<std::string> targets;
  std::vector<std::string> uris;
  bool concealed = false;
  bool marked = false;  // concealed, transient or generated: never kept
};

// What was read of the current copy, kept to serve it should its owner quit without handing it
// over: the same representations the history stored.
struct Kept {
  int64_t changeCount = -1;
  ClipItems items;
};

bool contains(const std::vector<std::string>& list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

class X11Pasteboard::Worker {
 public:
  Worker(Options options, std::unique_ptr<XcbConnection> connection, xcb_window_t window,
         uint8_t xfixesEvent, int wakeFd)
      : options_(std::move(options)),
        connection_(std::move(connection)),
        window_(window),
        xfixesEvent_(xfixesEvent),
        wakeFd_(wakeFd),
        clipboard_(connection_->atom("CLIPBOARD")),
        targets_(connection_->atom("TARGETS")),
        manager_(connection_->atom("CLIPBOARD_MANAGER")),
        saveTargets_(connection_->atom("SAVE_TARGETS")),
        timestamp_(connection_->atom("TIMESTAMP")),
        nudge_(connection_->atom("VESK_NUDGE")),
        owner_(*connection_, window, clipboard_),
        reader_(
            *connection_, window, clipboard_, options_.stepTimeout, options_.maxBytes,
            [this](const std::string& line) { log(line); },
            [this](const xcb_generic_event_t* event) { dispatch(event); }) {
    for (const std::string_view marker : ClipReading::skipMarkers) {
      markers_.push_back(connection_->atom(marker));
    }
    markers_.push_back(connection_->atom(ClipReading::passwordManagerHint));
    for (const std::string_view name : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS",
                                        "DELETE", "INSERT_SELECTION", "INSERT_PROPERTY"}) {
      unsaved_.push_back(connection_->atom(name));
    }
    thread_ = std::thread([this] {
      if (options_.manageClipboard) {
        becomeManager();
      }
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
    ::close(wakeFd_);
  }

  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;
  Worker(Worker&&) = delete;
  Worker& operator=(Worker&&) = delete;

  int64_t changeCount() const { return changeCount_.load(); }

  // Runs `work` on the clipboard thread and waits for its result; `fallback` when the thread
  // is stopping. When `work` throws, the exception is logged and the call fails: with its
  // failure when T can hold one, else with `fallback`.
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
      Failure failure = failureOf(std::current_exception());
      logSafely("clipboard thread: " + failure.description);
      if constexpr (std::is_constructible_v<T, Failure>) {
        return T(std::move(failure));
      } else {
        return fallback;
      }
    }
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
    if (read->fromOwner) {
      keep(*offer, item, type, read->bytes);
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
  bool managesClipboard() const { return managing_; }

  bool gaveUp(int64_t count) const { return readingCount_ == count && reader_.gaveUp(); }

 private:
  // Queues work for the clipboard thread from within it, to run once the current event or
  // task is done.
  void post(std::function<void()> task) {
    {
      const std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake();
  }

  // Keeps a representation of the current copy read for the history, unless the copy is one
  // that is never kept.
  void keep(const Offer& offer, size_t item, const std::string& type, const Bytes& bytes) {
    if (!managing_ || offer.marked || offer.concealed || type == Types::kConcealed) {
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

  // Owns CLIPBOARD_MANAGER unless another clipboard manager does: applications that quit then
  // hand their clipboard over to Vesk, and Vesk keeps copies whose owners quit without it.
  void becomeManager() {
    xcb_connection_t* c = connection_->get();
    const XcbReply<xcb_get_selection_owner_reply_t> current(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, manager_), nullptr));
    if (current && current->owner != XCB_NONE) {
      log("Another clipboard manager is running: it keeps copies after their applications quit");
      return;
    }
    const auto time = reader_.serverTime();
    if (!time) {
      return;
    }
    xcb_set_selection_owner(c, window_, manager_, *time);
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, manager_), nullptr));
    managing_ = owner && owner->owner == window_;
    managerTime_ = *time;
  }

  // Requests to the clipboard manager: its targets, and SAVE_TARGETS, the hand-over of an
  // application about to quit (answered on the clipboard thread's task queue, as it reads).
  void answerManager(const xcb_selection_request_event_t& request) {
    const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
    xcb_connection_t* c = connection_->get();
    if (managing_ && request.target == targets_) {
      const std::array<xcb_atom_t, 3> atoms{targets_, saveTargets_, timestamp_};
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                          atoms.size(), atoms.data());
      notify(request, property);
    } else if (managing_ && request.target == timestamp_) {
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_INTEGER,
                          32, 1, &managerTime_);
      notify(request, property);
    } else if (managing_ && request.target == saveTargets_) {
      // One hand-over at a time, and only from the application giving up the clipboard.
      if (saving_ || !fromClipboardOwner(request.requestor)) {
        notify(request, XCB_NONE);
      } else {
        saving_ = true;
        post([this, request] {
          // The next hand-over may come however this one ends.
          try {
            save(request);
          } catch (...) {
            saving_ = false;
            throw;
          }
          saving_ = false;
        });
      }
    } else {
      notify(request, XCB_NONE);
    }
  }

  // Whether `window` was made by the X client that owns the clipboard (window ids carry the id
  // base of the connection that made them).
  bool fromClipboardOwner(xcb_window_t window) {
    xcb_connection_t* c = connection_->get();
    const XcbReply<xcb_get_selection_owner_reply_t> current(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard_), nullptr));
    const uint32_t base = ~xcb_get_setup(c)->resource_id_mask;
    return current && current->owner != XCB_NONE && current->owner != window_ &&
           (current->owner & base) == (window & base);
  }

  void notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    xcb_selection_notify_event_t event{};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request.time;
    event.requestor = request.requestor;
    event.selection = request.selection;
    event.target = request.target;
    event.property = property;
    xcb_send_event(connection_->get(), 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_->get());
  }

  // Reads the clipboard from the application handing it over (its text types and one image
  // type among the targets it names, or among all it offers, within the hand-over budget), takes
  // the clipboard with them, then tells it that it may quit. Gives up as soon as Vesk writes.
  void save(const xcb_selection_request_event_t& request) {
    const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
    std::vector<xcb_atom_t> wanted;
    if (request.property != XCB_NONE) {
      wanted = connection_->cardinals(request.requestor, request.property);
    }
    const int64_t count = changeCount();
    readingCount_ = -1;
    reader_.newCopy(options_.copyTimeout,
                    [this, count] { return changeCount() != count || writesWaiting_.load() > 0; });
    std::vector<xcb_atom_t> offered;
    if (const auto list = reader_.convert(targets_)) {
      offered.resize(list->size() / 4);
      std::copy_n(list->data(), offered.size() * 4, reinterpret_cast<uint8_t*>(offered.data()));
    }
    if (wanted.empty()) {
      wanted = offered;
    }
    const auto among = [](const std::vector<xcb_atom_t>& atoms, xcb_atom_t atom) {
      return std::find(atoms.begin(), atoms.end(), atom) != atoms.end();
    };
    // A concealed or transient copy is not kept: it was never meant to outlive its owner.
    const xcb_atom_t hint = connection_->atom(ClipReading::passwordManagerHint);
    const bool marked = std::any_of(offered.begin(), offered.end(), [&](xcb_atom_t atom) {
      return atom != hint && among(markers_, atom);
    });
    const bool keepable =
        !marked && (!among(offered, hint) || !Types::hintConceals(reader_.convert(hint)));
    const X11SelectionOwner::SharedOffer offer =
        keepable ? readHandOver(chosenHandOver(wanted)) : X11SelectionOwner::SharedOffer{};
    bool taken = false;
    if (!offer.empty() && changeCount() == count && writesWaiting_.load() == 0) {
      if (const auto time = reader_.serverTime()) {
        taken = owner_.take(offer, *time);
      }
    }
    notify(request, taken ? property : XCB_NONE);
  }

  // What of the `wanted` targets a hand-over keeps: the text types first, then one image type
  // (PNG when offered).
  std::vector<std::pair<xcb_atom_t, std::string>> chosenHandOver(
      const std::vector<xcb_atom_t>& wanted) {
    std::vector<std::pair<xcb_atom_t, std::string>> chosen;
    std::optional<std::pair<xcb_atom_t, std::string>> image;
    for (const xcb_atom_t target : wanted) {
      std::string name = connection_->atomName(target);
      if (std::find(unsaved_.begin(), unsaved_.end(), target) != unsaved_.end() || name.empty() ||
          std::any_of(chosen.begin(), chosen.end(),
                      [&](const auto& c) { return c.first == target; })) {
        continue;
      }
      if (isTextTarget(name)) {
        chosen.emplace_back(target, std::move(name));
      } else if (isImageTarget(name) && (!image || name == "image/png")) {
        image.emplace(target, std::move(name));
      }
    }
    if (image) {
      chosen.push_back(std::move(*image));
    }
    return chosen;
  }

  // Reads the chosen targets of a hand-over within its budget. Targets with the same bytes
  // share one buffer; the budget counts each buffer once.
  X11SelectionOwner::SharedOffer readHandOver(
      const std::vector<std::pair<xcb_atom_t, std::string>>& chosen) {
    X11SelectionOwner::SharedOffer offer;
    uint64_t left = options_.handOverBytes;
    for (const auto& [target, name] : chosen) {
      auto bytes = reader_.convert(target, left);
      if (!bytes) {
        continue;
      }
      const auto same = std::find_if(offer.begin(), offer.end(),
                                     [&](const auto& kept) { return *kept.second == *bytes; });
      if (same != offer.end()) {
        offer.emplace_back(name, same->second);
        continue;
      }
      left -= bytes->size();
      offer.emplace_back(name, std::make_shared<const Bytes>(std::move(*bytes)));
    }
    return offer;
  }

  // The clipboard's owner went away without handing it over: serve the copy kept of it, unless
  // a newer copy or owner came meanwhile.
  void adopt(int64_t count) {
    if (changeCount() != count || kept_.items.empty() || owner_.owns()) {
      return;
    }
    xcb_connection_t* c = connection_->get();
    const XcbReply<xcb_get_selection_owner_reply_t> current(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard_), nullptr));
    if (!current || current->owner != XCB_NONE) {
      return;
    }
    const auto time = reader_.serverTime();
    if (time && changeCount() == count) {
      owner_.take(Types::offerFor(kept_.items), *time);
    }
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

  // A log sink that fails must not take the clipboard thread with it.
  void logSafely(const std::string& line) const {
    try {
      log(line);
    } catch (...) {
      std::fprintf(stderr, "vesk: %s\n", line.c_str());
    }
  }

  // The thread's entry: nothing thrown by serving the clipboard may end the process.
  void loop() {
    for (;;) {
      try {
        if (!step()) {
          return;
        }
      } catch (...) {
        logSafely("clipboard thread: " + failureOf(std::current_exception()).description);
      }
    }
  }

  // One round of the loop: a task, or the events and a wait for more; false when stopping.
  bool step() {
    std::function<void()> task;
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) {
        return false;
      }
      if (!tasks_.empty()) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
    }
    if (task) {
      task();
      return true;
    }
    while (XcbEvent event{xcb_poll_for_event(connection_->get())}) {
      dispatch(event.get());
    }
    xcb_flush(connection_->get());
    const auto now = Clock::now();
    const auto next = owner_.expire(now);
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
    std::array<pollfd, 2> descriptors{{{wakeFd_, POLLIN, 0}, {connection_->fd(), POLLIN, 0}}};
    // A broken connection stays readable: then wait for tasks and the stop request only.
    const nfds_t count = connection_->broken() ? 1 : 2;
    ::poll(descriptors.data(), count, static_cast<int>(std::max<int64_t>(1, wait.count())));
    if ((descriptors[0].revents & POLLIN) != 0) {
      uint64_t value = 0;
      [[maybe_unused]] const auto read = ::read(wakeFd_, &value, sizeof value);
    }
    return true;
  }

  void dispatch(const xcb_generic_event_t* event) {
    if (eventType(event) == xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
      const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
      if (notify->selection == clipboard_) {
        const int64_t before = changeCount_.fetch_add(1);
        const bool ownerGone = notify->subtype != XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER;
        if (ownerGone && managing_ && kept_.changeCount == before && !kept_.items.empty()) {
          post([this, count = before + 1] { adopt(count); });
        }
      }
      return;
    }
    if (eventType(event) == XCB_SELECTION_REQUEST) {
      const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
      if (request->owner == window_ && request->selection == manager_) {
        answerManager(*request);
        return;
      }
    }
    if (eventType(event) == XCB_SELECTION_CLEAR) {
      const auto* clear = reinterpret_cast<const xcb_selection_clear_event_t*>(event);
      if (clear->owner == window_ && clear->selection == manager_) {
        managing_ = false;
        kept_ = Kept{};
        log("Another clipboard manager took over: it keeps copies after their applications quit");
        return;
      }
    }
    owner_.handle(event);
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
  const std::unique_ptr<XcbConnection> connection_;
  const xcb_window_t window_;
  const uint8_t xfixesEvent_;
  const int wakeFd_;
  const xcb_atom_t clipboard_, targets_, manager_, saveTargets_, timestamp_, nudge_;
  X11SelectionOwner owner_;
  X11SelectionReader reader_;
  std::vector<xcb_atom_t> markers_;  // the skip markers and the password hint
  std::vector<xcb_atom_t> unsaved_;  // targets that are requests, not data
  bool managing_ = false;            // Vesk owns CLIPBOARD_MANAGER
  xcb_timestamp_t managerTime_ = XCB_CURRENT_TIME;
  Kept kept_;
  Offer offer_;
  int64_t readingCount_ = -1;  // the change count of the copy read last
  std::atomic<int64_t> changeCount_{0};
  std::atomic<int> writesWaiting_{0};  // Vesk's own writes queued for the clipboard thread
  bool saving_ = false;                // a hand-over is queued or being read

  std::mutex mutex_;
  bool stopping_ = false;
  std::deque<std::function<void()>> tasks_;
  std::thread thread_;
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
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    return Failure{"couldn't create the clipboard thread's wake-up descriptor"};
  }
  auto worker = std::make_unique<Worker>(std::move(options), std::move(connection), window,
                                         xfixes->first_event, wakeFd);
  return std::unique_ptr<X11Pasteboard>(new X11Pasteboard(std::move(worker)));
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
