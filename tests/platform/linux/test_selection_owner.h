#pragma once
// TestSelectionOwner: a small CLIPBOARD owner of the test's own, on its own connection and
// thread, standing in for the applications that misbehave. It lists the given targets (TARGETS
// is answered by itself) and answers a request for each as the target's `Answer` says: with its
// bytes, with a refusal, with its bytes after `delay`, or as an incremental transfer that sends
// one byte every `delay` and never ends. It keeps which targets were asked for.
//
// The constructor returns once the owner holds the clipboard; the destructor stops the thread
// and closes the connection, which ends any transfer still going on.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <xcb/xcb.h>

namespace vesk::test {

class TestSelectionOwner {
 public:
  enum class Answer { data, refuse, late, drip };
  struct Target {
    std::string name;
    Answer answer = Answer::data;
    std::string bytes;
  };

  explicit TestSelectionOwner(std::vector<Target> targets,
                              std::chrono::milliseconds delay = std::chrono::milliseconds(300))
      : targets_(std::move(targets)),
        delay_(delay),
        connection_(xcb_connect(nullptr, nullptr)),
        wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    window_ = xcb_generate_id(connection_);
    xcb_create_window(connection_, 0, window_, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    clipboard_ = intern({"CLIPBOARD"})[0];
    const auto fixed = intern({"TARGETS", "INCR", "UTF8_STRING"});
    targetsAtom_ = fixed[0];
    incr_ = fixed[1];
    utf8_ = fixed[2];
    std::vector<std::string> names;
    for (const Target& target : targets_) {
      names.push_back(target.name);
    }
    atoms_ = intern(names);
    xcb_set_selection_owner(connection_, window_, clipboard_, XCB_CURRENT_TIME);
    free(xcb_get_selection_owner_reply(  // NOLINT(cppcoreguidelines-no-malloc)
        connection_, xcb_get_selection_owner(connection_, clipboard_), nullptr));
    thread_ = std::thread([this] { loop(); });
  }

  ~TestSelectionOwner() {
    stopping_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(wakeFd_);
    xcb_disconnect(connection_);
  }
  TestSelectionOwner(const TestSelectionOwner&) = delete;
  TestSelectionOwner& operator=(const TestSelectionOwner&) = delete;

  // The targets asked for so far (TARGETS left out), in order.
  std::vector<std::string> requested() const {
    const std::lock_guard lock(mutex_);
    return requested_;
  }
  bool wasAskedFor(const std::string& name) const {
    const auto asked = requested();
    return std::find(asked.begin(), asked.end(), name) != asked.end();
  }
  // Chunks of incremental transfers sent so far.
  int chunksSent() const { return chunks_.load(); }

 private:
  using Clock = std::chrono::steady_clock;

  // A transfer waiting for its requestor to delete the property, or for its next chunk.
  struct Drip {
    xcb_window_t requestor;
    xcb_atom_t property;
    std::optional<Clock::time_point> next;  // set once the requestor took the last chunk
  };
  struct Late {
    Clock::time_point due;
    xcb_selection_request_event_t request;
  };

  std::vector<xcb_atom_t> intern(const std::vector<std::string>& names) {
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const std::string& name : names) {
      cookies.push_back(
          xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.data()));
    }
    std::vector<xcb_atom_t> atoms;
    for (const auto cookie : cookies) {
      xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
      atoms.push_back(reply != nullptr ? reply->atom : XCB_NONE);
      free(reply);  // NOLINT(cppcoreguidelines-no-malloc)
    }
    return atoms;
  }

  void loop() {
    while (!stopping_) {
      int timeout = -1;  // no answer due: wait for requests
      const auto due = dueTimes();
      if (!due.empty()) {
        const auto left = *std::min_element(due.begin(), due.end()) - Clock::now();
        timeout = static_cast<int>(
            std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
      }
      std::array<pollfd, 2> fds{
          {{wakeFd_, POLLIN, 0}, {xcb_get_file_descriptor(connection_), POLLIN, 0}}};
      ::poll(fds.data(), fds.size(), timeout);
      while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        handle(event);
        free(event);  // NOLINT(cppcoreguidelines-no-malloc)
      }
      runDue();
      xcb_flush(connection_);
    }
  }

  std::vector<Clock::time_point> dueTimes() const {
    std::vector<Clock::time_point> times;
    for (const Late& late : late_) {
      times.push_back(late.due);
    }
    for (const Drip& drip : drips_) {
      if (drip.next) {
        times.push_back(*drip.next);
      }
    }
    return times;
  }

  void runDue() {
    const auto now = Clock::now();
    for (auto late = late_.begin(); late != late_.end();) {
      if (late->due <= now) {
        answer(late->request, targetOf(late->request.target));
        late = late_.erase(late);
      } else {
        ++late;
      }
    }
    for (Drip& drip : drips_) {
      if (drip.next && *drip.next <= now) {
        drip.next.reset();
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, drip.requestor, drip.property,
                            utf8_, 8, 1, "x");
        chunks_.fetch_add(1);
      }
    }
  }

  const Target* targetOf(xcb_atom_t atom) const {
    for (size_t i = 0; i < atoms_.size(); ++i) {
      if (atoms_[i] == atom) {
        return &targets_[i];
      }
    }
    return nullptr;
  }

  void handle(const xcb_generic_event_t* event) {
    const uint8_t type = event->response_type & 0x7F;
    if (type == XCB_PROPERTY_NOTIFY) {
      const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
      for (Drip& drip : drips_) {
        if (notify->window == drip.requestor && notify->atom == drip.property &&
            notify->state == XCB_PROPERTY_DELETE) {
          drip.next = Clock::now() + delay_;
        }
      }
      return;
    }
    if (type != XCB_SELECTION_REQUEST) {
      return;
    }
    const auto* request = reinterpret_cast<const xcb_selection_request_event_t*>(event);
    if (request->target == targetsAtom_) {
      std::vector<xcb_atom_t> list = atoms_;
      xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request->requestor, request->property,
                          XCB_ATOM_ATOM, 32, static_cast<uint32_t>(list.size()), list.data());
      notify(*request, request->property);
      return;
    }
    const Target* target = targetOf(request->target);
    if (target != nullptr) {
      const std::lock_guard lock(mutex_);
      requested_.push_back(target->name);
    }
    if (target == nullptr || target->answer == Answer::refuse) {
      notify(*request, XCB_NONE);
    } else if (target->answer == Answer::late) {
      late_.push_back({Clock::now() + delay_, *request});
    } else if (target->answer == Answer::drip) {
      const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
      xcb_change_window_attributes(connection_, request->requestor, XCB_CW_EVENT_MASK, &mask);
      const uint32_t size = 1U << 20;
      xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request->requestor, request->property,
                          incr_, 32, 1, &size);
      drips_.push_back({request->requestor, request->property, std::nullopt});
      notify(*request, request->property);
    } else {
      answer(*request, target);
    }
  }

  void answer(const xcb_selection_request_event_t& request, const Target* target) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                        request.target, 8, static_cast<uint32_t>(target->bytes.size()),
                        target->bytes.data());
    notify(request, request.property);
  }

  void notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
    xcb_selection_notify_event_t event{};
    event.response_type = XCB_SELECTION_NOTIFY;
    event.time = request.time;
    event.requestor = request.requestor;
    event.selection = request.selection;
    event.target = request.target;
    event.property = property;
    xcb_send_event(connection_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
  }

  const std::vector<Target> targets_;
  const std::chrono::milliseconds delay_;
  xcb_connection_t* const connection_;
  const int wakeFd_;
  xcb_window_t window_ = 0;
  xcb_atom_t clipboard_ = 0, targetsAtom_ = 0, incr_ = 0, utf8_ = 0;
  std::vector<xcb_atom_t> atoms_;
  // Touched on the owner's thread only.
  std::vector<Late> late_;
  std::vector<Drip> drips_;

  mutable std::mutex mutex_;
  std::vector<std::string> requested_;
  std::atomic<int> chunks_{0};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace vesk::test
