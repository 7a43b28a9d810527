#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/base/result.h"
#include "core/base/serial_queue.h"
#include "core/base/worker_pool.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueue, RunsWorkInSubmissionOrderOnOneThread) {
  std::vector<int> order;
  std::thread::id worker;
  bool sameThread = true;
  {
    SerialQueue queue("test.order");
    for (int i = 0; i < 100; ++i) {
      queue.async([&, i] {
        if (i == 0) {
          worker = std::this_thread::get_id();
        }
        sameThread = sameThread && std::this_thread::get_id() == worker;
        order.push_back(i);
      });
    }
    queue.sync([] {});
  }
  ASSERT_EQ(order.size(), 100U);
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(order[i], i);
  }
  EXPECT_TRUE(sameThread);
}

TEST(SerialQueue, DelayedWorkRunsAfterLaterImmediateWork) {
  SerialQueue queue("test.delay");
  std::vector<int> order;
  std::promise<void> delayedRan;
  queue.asyncAfter(50ms, [&] {
    order.push_back(2);
    delayedRan.set_value();
  });
  queue.async([&] { order.push_back(1); });
  ASSERT_EQ(delayedRan.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(SerialQueue, SyncReturnsValuesAndRunsInlineFromTheQueue) {
  SerialQueue queue("test.sync");
  EXPECT_EQ(queue.sync([] { return 42; }), 42);
  const int nested = queue.sync([&] {
    EXPECT_TRUE(queue.isCurrent());
    return queue.sync([] { return 7; });
  });
  EXPECT_EQ(nested, 7);
  EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, DestructionDropsDelayedWorkThatIsNotDue) {
  std::atomic<bool> ran{false};
  {
    SerialQueue queue("test.drop");
    queue.asyncAfter(10s, [&] { ran = true; });
  }
  EXPECT_FALSE(ran);
}

// Collects what the queues report, for the tests of work that throws.
class FailureLog {
 public:
  FailureLog() {
    SerialQueue::setFailureHandler([this](const std::string& label, const Failure& failure) {
      const std::lock_guard lock(mutex_);
      lines_.push_back(label + ": " + failure.description);
    });
  }
  ~FailureLog() { SerialQueue::setFailureHandler({}); }
  FailureLog(const FailureLog&) = delete;
  FailureLog& operator=(const FailureLog&) = delete;

  std::vector<std::string> lines() const {
    const std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST(SerialQueue, WorkThatThrowsIsReportedWithTheLabelAndBecomesTheOperationsFailure) {
  FailureLog log;
  SerialQueue queue("test.throws");
  queue.async([] { throw std::bad_alloc(); });
  queue.asyncAfter(1ms, [] { throw std::runtime_error("broken"); });
  const Result<int> result = queue.sync([]() -> Result<int> { throw std::bad_alloc(); });
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.failure().description, "there isn't enough memory");
  // A result that can't hold a failure gets the exception on the calling thread.
  EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("for the caller"); }),
               std::runtime_error);

  // The queue goes on with later work.
  std::promise<void> later;
  queue.asyncAfter(2ms, [&] { later.set_value(); });
  ASSERT_EQ(later.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_EQ(queue.sync([] { return 42; }), 42);
  EXPECT_EQ(log.lines(), (std::vector<std::string>{
                             "test.throws: there isn't enough memory",
                             "test.throws: there isn't enough memory",
                             "test.throws: an internal error (broken)",
                         }));
}

TEST(WorkerPool, VisitsEveryIndexOnce) {
  WorkerPool pool(3);
  std::vector<std::atomic<int>> hits(1000);
  pool.parallelFor(hits.size(), [&](size_t i) { hits[i].fetch_add(1); });
  for (const auto& h : hits) {
    EXPECT_EQ(h.load(), 1);
  }
}

TEST(WorkerPool, ServesSeveralCallersAtOnce) {
  WorkerPool pool(2);
  std::atomic<long> total{0};
  std::vector<std::thread> callers;
  for (int c = 0; c < 4; ++c) {
    callers.emplace_back([&] {
      for (int round = 0; round < 50; ++round) {
        pool.parallelFor(64, [&](size_t i) { total += static_cast<long>(i); });
      }
    });
  }
  for (auto& t : callers) {
    t.join();
  }
  EXPECT_EQ(total.load(), 4L * 50 * (63 * 64 / 2));
}

TEST(WorkerPool, PoolWithoutThreadsRunsOnTheCaller) {
  WorkerPool pool(0);
  int sum = 0;
  pool.parallelFor(10, [&](size_t i) { sum += static_cast<int>(i); });
  EXPECT_EQ(sum, 45);
  EXPECT_EQ(WorkerPool::shared().concurrency(), std::max(1U, std::thread::hardware_concurrency()));
}

// A body that throws on the calling thread must not leave the job with the workers: they would
// go on calling a body whose frame is gone.
TEST(WorkerPool, BodyThrowingOnTheCallerEndsTheJobBeforeTheCallReturns) {
  constexpr size_t kCount = 10'000'000;
  auto pool = std::make_unique<WorkerPool>(3);
  const auto caller = std::this_thread::get_id();
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<bool> workerStarted{false};
  std::atomic<int> running{0};
  std::atomic<size_t> calls{0};
  // On the heap and freed after the call, as a caller's frame would be gone.
  auto body = std::make_unique<std::function<void(size_t)>>([&](size_t) {
    ++running;
    ++calls;
    if (std::this_thread::get_id() == caller) {
      // Throw while the workers are busy with the job.
      std::unique_lock lock(mutex);
      changed.wait_for(lock, 5s, [&] { return workerStarted.load(); });
      --running;
      throw std::runtime_error("caller");
    }
    if (!workerStarted) {
      {
        const std::lock_guard lock(mutex);
        workerStarted = true;
      }
      changed.notify_all();
    }
    --running;
  });
  bool runningAtReturn = true;
  size_t callsAtReturn = 0;
  try {
    pool->parallelFor(kCount, *body);
    ADD_FAILURE() << "the exception did not reach the caller";
  } catch (const std::runtime_error&) {
    runningAtReturn = running.load() != 0;
    callsAtReturn = calls.load();
  }
  body.reset();
  EXPECT_FALSE(runningAtReturn);

  // The pool serves the next job, and nothing of the failed one runs later.
  std::atomic<int> next{0};
  pool->parallelFor(1000, [&](size_t) { ++next; });
  EXPECT_EQ(next.load(), 1000);
  pool.reset();
  EXPECT_EQ(calls.load(), callsAtReturn);
}

TEST(WorkerPool, BodyThrowingOnAWorkerIsRethrownToTheCaller) {
  WorkerPool pool(3);
  const auto caller = std::this_thread::get_id();
  std::mutex mutex;
  std::condition_variable changed;
  bool workerStarted = false;
  std::atomic<int> running{0};
  bool runningAtReturn = true;
  try {
    pool.parallelFor(100'000, [&](size_t) {
      ++running;
      if (std::this_thread::get_id() == caller) {
        // Hold the caller's first index until a worker has taken part.
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 5s, [&] { return workerStarted; });
        --running;
        return;
      }
      {
        const std::lock_guard lock(mutex);
        workerStarted = true;
      }
      changed.notify_all();
      --running;
      throw std::bad_alloc();
    });
    ADD_FAILURE() << "the worker's exception did not reach the caller";
  } catch (const std::bad_alloc&) {
    runningAtReturn = running.load() != 0;
  }
  EXPECT_FALSE(runningAtReturn);
  std::atomic<int> next{0};
  pool.parallelFor(1000, [&](size_t) { ++next; });
  EXPECT_EQ(next.load(), 1000);
}

}  // namespace
}  // namespace vesk
