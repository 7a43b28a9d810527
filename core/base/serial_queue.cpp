#include "core/base/serial_queue.h"

#include <cstdio>

#include <pthread.h>

namespace vesk {

namespace {

std::mutex handlerMutex;
SerialQueue::FailureHandler& failureHandler() {
  static SerialQueue::FailureHandler handler;
  return handler;
}

}  // namespace

void SerialQueue::setFailureHandler(FailureHandler handler) {
  const std::lock_guard lock(handlerMutex);
  failureHandler() = std::move(handler);
}

void SerialQueue::report(const Failure& failure) const {
  FailureHandler handler;
  {
    const std::lock_guard lock(handlerMutex);
    handler = failureHandler();
  }
  if (handler) {
    try {
      handler(label_, failure);
      return;
    } catch (...) {  // NOLINT(bugprone-empty-catch): a handler that fails falls back to stderr
    }
  }
  std::fprintf(stderr, "vesk: %s: %s\n", label_.c_str(), failure.description.c_str());
}

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
  thread_ = std::thread([this] { run(); });
  // Linux thread names are at most 15 bytes; the label still helps in a debugger.
  pthread_setname_np(thread_.native_handle(), label_.substr(0, 15).c_str());
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void SerialQueue::async(std::function<void()> work) {
  asyncAfter(Clock::duration::zero(), std::move(work));
}

void SerialQueue::asyncAfter(Clock::duration delay, std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    pending_.emplace(std::make_pair(Clock::now() + delay, submitted_++), std::move(work));
  }
  wake_.notify_all();
}

void SerialQueue::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (pending_.empty()) {
      if (stopping_) {
        return;
      }
      wake_.wait(lock);
      continue;
    }
    auto first = pending_.begin();
    const auto due = first->first.first;
    if (due > Clock::now()) {
      if (stopping_) {
        // Delayed work that is not yet due is dropped at shutdown.
        pending_.clear();
        return;
      }
      wake_.wait_until(lock, due);
      continue;
    }
    auto work = std::move(first->second);
    pending_.erase(first);
    lock.unlock();
    try {
      work();
    } catch (...) {
      report(failureOf(std::current_exception()));
    }
    work = nullptr;  // what it holds goes away outside the lock too
    lock.lock();
  }
}

}  // namespace vesk
