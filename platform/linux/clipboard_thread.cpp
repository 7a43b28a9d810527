#include "platform/linux/clipboard_thread.h"

#include <cstdint>
#include <cstdio>

#include <sys/eventfd.h>
#include <unistd.h>

namespace vesk {

Result<std::unique_ptr<ClipboardThread>> ClipboardThread::make(Log log) {
  const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    return Failure{"couldn't create the clipboard thread's wake-up descriptor"};
  }
  return std::unique_ptr<ClipboardThread>(new ClipboardThread(wakeFd, std::move(log)));
}

ClipboardThread::ClipboardThread(int wakeFd, Log log) : wakeFd_(wakeFd), log_(std::move(log)) {}

ClipboardThread::~ClipboardThread() {
  stop();
  ::close(wakeFd_);
}

void ClipboardThread::start(std::function<void()> first, std::function<void()> idle) {
  thread_ = std::thread([this, first = std::move(first), idle = std::move(idle)] {
    if (first) {
      first();
    }
    loop(idle);
  });
}

void ClipboardThread::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake();
  if (thread_.joinable()) {
    thread_.join();
  }
  // Their promises go with them: the callers get their fallback.
  std::deque<std::function<void()>> dropped;
  const std::lock_guard lock(mutex_);
  dropped.swap(tasks_);
}

bool ClipboardThread::stopping() const {
  const std::lock_guard lock(mutex_);
  return stopping_;
}

bool ClipboardThread::queue(std::function<void()> task) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) {
      return false;
    }
    tasks_.push_back(std::move(task));
  }
  wake();
  return true;
}

void ClipboardThread::wake() const {
  const uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

void ClipboardThread::drainWake() const {
  uint64_t value = 0;
  [[maybe_unused]] const auto read = ::read(wakeFd_, &value, sizeof value);
}

void ClipboardThread::log(const std::string& line) const {
  if (log_) {
    log_(line);
  } else {
    std::fprintf(stderr, "vesk: %s\n", line.c_str());
  }
}

void ClipboardThread::logSafely(const std::string& line) const {
  try {
    log(line);
  } catch (...) {
    std::fprintf(stderr, "vesk: %s\n", line.c_str());
  }
}

void ClipboardThread::loop(const std::function<void()>& idle) {
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
      } else {
        idle();
      }
    } catch (...) {
      logSafely("clipboard thread: " + failureOf(std::current_exception()).description);
    }
  }
}

}  // namespace vesk
