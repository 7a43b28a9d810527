#pragma once
// SerialQueue: a labelled queue with one thread of its own that runs work items one at a time,
// in the order they were submitted (delayed items in order of their due time).
//
// Any thread may submit work. The destructor runs every item that is already due, drops
// delayed items that are not, and joins the thread; it must not be called from the queue.

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

namespace vesk {

class SerialQueue final {
 public:
  using Clock = std::chrono::steady_clock;

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
    if (isCurrent()) {
      return work();
    }
    std::packaged_task<R()> task(std::forward<F>(work));
    auto future = task.get_future();
    async([&task] { task(); });
    return future.get();
  }

  // True when called from this queue's thread.
  bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void run();

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
