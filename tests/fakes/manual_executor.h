#pragma once
// ManualExecutor: an executor whose jobs run when the test says. Background and main-thread
// jobs wait in one queue in the order they came; `runAll` runs them on the calling thread,
// including the ones they queue, so a test needs no waiting for work to finish.

#include <deque>
#include <functional>
#include <mutex>
#include <utility>

#include "app/base/executor.h"

namespace vesk::test {

class ManualExecutor final : public Executor {
 public:
  void post(std::function<void()> job, QoS /*qos*/) override { push(std::move(job)); }
  void deliver(std::function<void()> job) override { push(std::move(job)); }

  // Runs every waiting job and those they queue; returns how many ran.
  int runAll() {
    int ran = 0;
    while (auto job = pop()) {
      job();
      ++ran;
    }
    return ran;
  }

  size_t waiting() const {
    const std::lock_guard lock(mutex_);
    return jobs_.size();
  }

 private:
  void push(std::function<void()> job) {
    const std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  std::function<void()> pop() {
    const std::lock_guard lock(mutex_);
    if (jobs_.empty()) {
      return {};
    }
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    return job;
  }

  mutable std::mutex mutex_;
  std::deque<std::function<void()>> jobs_;
};

}  // namespace vesk::test
