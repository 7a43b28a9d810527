#include "platform/linux/x11_pasteboard.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <future>
#include <mutex>
#include <thread>
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

// What one copy offers, fetched once per change count.
struct Offer {
  int64_t changeCount = -1;
  std::vector<std::string> targets;
  std::vector<std::string> uris;
  bool concealed = false;
};

bool contains(const std::vector<std::string>& list, std::string_view value) {
  return std::find(list.begin(), list.end(), value) != list.end();
}

// Whether a password manager's hint conceals the copy: unless its value can be read and is a
// short plain word other than "secret" (in any case), it is taken for "secret".
bool hintConceals(const std::optional<Bytes>& value) {
  constexpr size_t kLongestHint = 64;
  if (!value) {
    return true;
  }
  std::string text(value->begin(), value->end());
  while (!text.empty() && text.back() == '\0') {
    text.pop_back();  // some owners end their strings with NUL
  }
  std::string word(ClipReading::trimmed(text));
  const auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  };
  if (word.empty() || word.size() > kLongestHint || !std::all_of(word.begin(), word.end(), plain)) {
    return true;
  }
  std::transform(word.begin(), word.end(), word.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return word == "secret";
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
        owner_(*connection_, window, clipboard_),
        reader_(
            *connection_, window, clipboard_, options_.stepTimeout, options_.maxBytes,
            [this](const std::string& line) { log(line); },
            [this](const xcb_generic_event_t* event) { dispatch(event); }) {
    for (const std::string_view marker : ClipReading::skipMarkers) {
      markers_.push_back(connection_->atom(marker));
    }
    markers_.push_back(connection_->atom(ClipReading::passwordManagerHint));
    thread_ = std::thread([this] { loop(); });
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

  int64_t changeCount() const { return changeCount_.load(); }

  // Runs `work` on the clipboard thread and waits for its result; `fallback` when the thread
  // is stopping.
  template <class T, class Work>
  T call(Work work, T fallback) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) {
        return fallback;
      }
      tasks_.emplace_back(
          [promise, work = std::move(work)]() mutable { promise->set_value(work()); });
    }
    wake();
    try {
      return future.get();
    } catch (const std::future_error&) {
      return fallback;
    }
  }

  // --- on the clipboard thread ---

  std::optional<std::vector<std::vector<std::string>>> itemTypes() {
    const Offer* offer = currentOffer();
    if (offer == nullptr) {
      return std::nullopt;
    }
    std::vector<std::vector<std::string>> items(std::max<size_t>(1, offer->uris.size()));
    items[0] = Types::typesOf(offer->targets);
    if (offer->concealed && !contains(items[0], Types::kConcealed)) {
      items[0].emplace_back(Types::kConcealed);
    }
    for (size_t i = 0; i < offer->uris.size(); ++i) {
      items[i].emplace_back(Types::isFileUri(offer->uris[i]) ? Types::kFileUrl : Types::kUrl);
    }
    return items;
  }

  std::optional<Bytes> data(size_t item, const std::string& type) {
    const Offer* offer = currentOffer();
    if (offer == nullptr) {
      return std::nullopt;
    }
    if (type == Types::kFileUrl || type == Types::kUrl) {
      if (item >= offer->uris.size() ||
          Types::isFileUri(offer->uris[item]) != (type == Types::kFileUrl)) {
        return std::nullopt;
      }
      const std::string& uri = offer->uris[item];
      return Bytes(uri.begin(), uri.end());
    }
    if (item != 0) {
      return std::nullopt;
    }
    if (type == Types::kConcealed && offer->concealed &&
        !contains(offer->targets, Types::kConcealed)) {
      return Bytes{'s', 'e', 'c', 'r', 'e', 't'};
    }
    for (const std::string& target : Types::targetsFor(type)) {
      if (!contains(offer->targets, target)) {
        continue;
      }
      if (auto bytes = convert(target)) {
        if (Types::isLatin1(target)) {
          const std::string text = Types::latin1ToUtf8(*bytes);
          return Bytes(text.begin(), text.end());
        }
        return bytes;
      }
    }
    return std::nullopt;
  }

  Result<int64_t> write(const ClipItems& items) {
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

  bool gaveUp(int64_t count) const { return readingCount_ == count && reader_.gaveUp(); }

 private:
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

  void loop() {
    for (;;) {
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
    }
  }

  void dispatch(const xcb_generic_event_t* event) {
    if (eventType(event) == xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
      const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
      if (notify->selection == clipboard_) {
        changeCount_.fetch_add(1);
      }
      return;
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
    if (!marked && contains(offer_.targets, Types::kKdePasswordHint)) {
      offer_.concealed = hintConceals(convert(std::string(Types::kKdePasswordHint)));
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
  const xcb_atom_t clipboard_, targets_;
  X11SelectionOwner owner_;
  X11SelectionReader reader_;
  std::vector<xcb_atom_t> markers_;  // the skip markers and the password hint
  Offer offer_;
  int64_t readingCount_ = -1;  // the change count of the copy read last
  std::atomic<int64_t> changeCount_{0};

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
  return worker_->call<Result<int64_t>>([this, &items] { return worker_->write(items); },
                                        Failure{"the clipboard connection was closed"});
}

bool X11Pasteboard::gaveUp(int64_t changeCount) {
  return worker_->call<bool>([this, changeCount] { return worker_->gaveUp(changeCount); }, true);
}

bool X11Pasteboard::ownsClipboard() {
  return worker_->call<bool>([this] { return worker_->owns(); }, false);
}

}  // namespace vesk
