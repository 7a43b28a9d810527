#include "core/base/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <exception>

namespace vesk {

// One parallelFor call: indices are handed out by an atomic counter; the caller waits until
// every index has finished, run or skipped after a failure.
struct WorkerPool::Job {
  const std::function<void(size_t)>* body;
  size_t count;
  std::atomic<size_t> next{0};
  std::atomic<size_t> finished{0};
  std::mutex mutex;
  std::condition_variable done;
  std::exception_ptr failure;  // the first exception of `body`; guarded by `mutex`
};

WorkerPool& WorkerPool::shared() {
  static WorkerPool pool(std::max(1U, std::thread::hardware_concurrency()) - 1);
  return pool;
}

WorkerPool::WorkerPool(size_t threads) {
  threads_.reserve(threads);
  for (size_t i = 0; i < threads; ++i) {
    threads_.emplace_back([this] { work(); });
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_) {
    thread.join();
  }
}

// Runs one index of the job; false when none was left to take. After a failure the indices
// nobody has taken yet are abandoned at once, and counted as finished by the call that failed.
bool WorkerPool::runOne(Job& job) {
  const size_t i = job.next.fetch_add(1, std::memory_order_relaxed);
  if (i >= job.count) {
    return false;
  }
  size_t accounted = 1;
  try {
    (*job.body)(i);
  } catch (...) {
    {
      const std::lock_guard lock(job.mutex);
      if (!job.failure) {
        job.failure = std::current_exception();
      }
    }
    const size_t taken = job.next.exchange(job.count, std::memory_order_relaxed);
    if (taken < job.count) {
      accounted += job.count - taken;
    }
  }
  if (job.finished.fetch_add(accounted, std::memory_order_acq_rel) + accounted == job.count) {
    std::lock_guard lock(job.mutex);
    job.done.notify_all();
  }
  return true;
}

void WorkerPool::parallelFor(size_t count, const std::function<void(size_t)>& body) {
  if (count == 0) {
    return;
  }
  if (count == 1 || threads_.empty()) {
    for (size_t i = 0; i < count; ++i) {
      body(i);
    }
    return;
  }
  auto job = std::make_shared<Job>();
  job->body = &body;
  job->count = count;
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(job);
  }
  wake_.notify_all();
  while (runOne(*job)) {
  }
  {
    std::lock_guard lock(mutex_);
    std::erase(jobs_, job);
  }
  std::unique_lock lock(job->mutex);
  job->done.wait(lock, [&] { return job->finished.load(std::memory_order_acquire) == count; });
  if (job->failure) {
    std::rethrow_exception(job->failure);
  }
}

void WorkerPool::work() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [&] {
        return stopping_ || std::any_of(jobs_.begin(), jobs_.end(), [](const auto& j) {
                 return j->next.load(std::memory_order_relaxed) < j->count;
               });
      });
      if (stopping_) {
        return;
      }
      for (const auto& candidate : jobs_) {
        if (candidate->next.load(std::memory_order_relaxed) < candidate->count) {
          job = candidate;
          break;
        }
      }
    }
    if (job) {
      while (runOne(*job)) {
      }
    }
  }
}

}  // namespace vesk
