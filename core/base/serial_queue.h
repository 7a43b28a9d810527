#pragma once
// SerialQueue: a labelled queue with one thread of its own that runs work items one at a time,
// in the order they were submitted (delayed items in order of their due time).
//
// Any thread may submit work. The destructor runs every item that is already due, drops
// delayed items that are not, and joins the thread; it must not be called from the queue.
//
// Work that throws never ends the process. The exception becomes a failure: handed with the
// queue's label to the failure handler (asynchronous work), returned by `sync` when its result
// type can hold a `Failure` (a Result), and otherwise rethrown by `sync` on the calling thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

#include "core/base/result.h"

namespace vesk {

class SerialQueue final {
 public:
  using Clock = std::chrono::steady_clock;

  // Receives the label of a queue and the failure of work that threw on it, on that queue.
  using FailureHandler = std::function<void(const std::string& label, const Failure& failure)>;

  // Process-wide; until one is set, failures are written to stderr.
  static void setFailureHandler(FailureHandler handler);

  explicit SerialQueue(std::string label);
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }

  // Runs `work` on the queue as soon as the items before it have run.
  void async(std::function<void()> work);

  // Runs `work` on the queue once `delay` has passed.
  void asyncAfter(Clock::duration delay, std::function<void()> work);

  // Runs `work` on the queue and waits for its result. Called from the queue itself, it runs
  // `work` inline (waiting would deadlock).
  template <class F>
  auto sync(F&& work) -> std::invoke_result_t<F> {
    using R = std::invoke_result_t<F>;
    if constexpr (std::is_constructible_v<R, Failure>) {
      // The failure travels back as the result, like any other failure of the operation.
      auto guarded = [this, &work]() -> R {
        try {
          return work();
        } catch (...) {
          Failure failure = failureOf(std::current_exception());
          report(failure);
          return R(std::move(failure));
        }
      };
      return runSync(guarded);
    } else {
      return runSync(work);
    }
  }

  // True when called from this queue's thread.
  bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  template <class F>
  auto runSync(F& work) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    if (isCurrent()) {
      return work();
    }
    // An exception travels through the future to the calling thread.
    std::packaged_task<R()> task([&work]() -> R { return work(); });
    auto future = task.get_future();
    async([&task] { task(); });
    return future.get();
  }

  void run();
  void report(const Failure& failure) const;

  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  // Keyed by (due time, submission number): earlier due first, then submission order.
  std::map<std::pair<Clock::time_point, uint64_t>, std::function<void()>> pending_;
  uint64_t submitted_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vesk
