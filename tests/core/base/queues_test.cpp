#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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
  queue.asyncAfter(50ms, [&] { order.push_back(2); });
  queue.async([&] { order.push_back(1); });
  std::this_thread::sleep_for(120ms);  // the delay itself is the behaviour under test
  queue.sync([] {});
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

}  // namespace
}  // namespace vesk
