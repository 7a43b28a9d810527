#pragma once
// ClipboardThread: the thread a clipboard backend (X11Pasteboard, WaylandClipboard) runs on,
// with its queue of tasks. Other threads run work there and wait for the result (`call`); the
// thread queues more for itself (`post`). Between tasks it runs the backend's `idle`, which
// handles the connection's events and waits for more, polling `wakeFd` with them: it becomes
// readable whenever a task or the stop request comes (`drainWake` then reads it).
//
// Nothing thrown on the thread ends it, nor the process: it is logged, and a caller waiting for
// that work gets the failure when its result can hold one, else its fallback. So do callers
// when the thread stops.

#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "core/base/result.h"

namespace vesk {

class ClipboardThread final {
 public:
  using Log = std::function<void(const std::string&)>;

  // `log` takes the error lines (stderr when empty). Fails when the wake-up descriptor can't
  // be made.
  static Result<std::unique_ptr<ClipboardThread>> make(Log log);
  ~ClipboardThread();
  ClipboardThread(const ClipboardThread&) = delete;
  ClipboardThread& operator=(const ClipboardThread&) = delete;
  ClipboardThread(ClipboardThread&&) = delete;
  ClipboardThread& operator=(ClipboardThread&&) = delete;

  // Starts the thread: `first` once, then the tasks as they come, with `idle` whenever none is
  // waiting, until `stop`.
  void start(std::function<void()> first, std::function<void()> idle);
  // Ends the thread and waits for it; calls still waiting get their fallback. Not from the
  // thread itself.
  void stop();
  bool stopping() const;

  // Runs `work` on the thread and waits for its result; `fallback` when the thread stops first.
  template <class T, class Work>
  T call(Work work, T fallback) {
    auto promise = std::make_shared<std::promise<T>>();
    std::future<T> future = promise->get_future();
    if (!queue([promise, work = std::move(work)]() mutable {
          try {
            promise->set_value(work());
          } catch (...) {
            promise->set_exception(std::current_exception());
          }
        })) {
      return fallback;
    }
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

  // From the thread: runs `task` once the current event or task is done.
  void post(std::function<void()> task) { (void)queue(std::move(task)); }

  int wakeFd() const { return wakeFd_; }
  // Reads the wake-up descriptor once poll found it readable.
  void drainWake() const;

  void log(const std::string& line) const;

 private:
  ClipboardThread(int wakeFd, Log log);
  // Queues `task` and wakes the thread; false when it is stopping.
  bool queue(std::function<void()> task);
  void wake() const;
  // A log sink that fails must not take the thread with it.
  void logSafely(const std::string& line) const;
  void loop(const std::function<void()>& idle);

  const int wakeFd_;
  const Log log_;
  mutable std::mutex mutex_;
  bool stopping_ = false;
  std::deque<std::function<void()>> tasks_;
  std::thread thread_;
};

}  // namespace vesk
