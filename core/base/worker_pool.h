#pragma once
// WorkerPool: one fixed set of threads, sized to the processor count and created once, that
// runs the parallel ranges of the file and clip searches. No thread is created per search.
//
// parallelFor may be called from any thread, also from several at once; the calling thread
// takes part in its own job, so a pool of one thread still makes progress.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vesk {

class WorkerPool final {
 public:
  // The process-wide pool, with one thread per processor.
  static WorkerPool& shared();

  explicit WorkerPool(size_t threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Number of threads that can work on a job at once (the pool's threads plus the caller).
  size_t concurrency() const { return threads_.size() + 1; }

  // Calls body(i) for every i in [0, count), spread over the pool, and returns when all calls
  // have returned. When `body` throws, on any thread, the indices not started yet are skipped;
  // once the calls already running have returned, the first exception is rethrown here, on the
  // calling thread. Nothing of the job is left behind in the pool either way.
  void parallelFor(size_t count, const std::function<void(size_t)>& body);

 private:
  struct Job;
  void work();
  static bool runOne(Job& job);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<Job>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace vesk
