#pragma once
// Executor: where the application's work runs. `post` runs a job in the background, on a
// thread of its quality-of-service class; `deliver` runs a job on the main thread, after what
// is already queued there. Both may be called from any thread; neither blocks.
//
// The shell creates one (`PoolExecutor`) and hands it to every component that leaves the main
// thread; tests give components a manual one and run its jobs when they choose.
//
// A job runs at most once; an executor being destroyed may drop jobs that haven't started.
// Jobs must not throw (the pool logs what escapes).

#include <functional>

namespace vesk {

enum class QoS { userInitiated, utility };

class Executor {
 public:
  Executor() = default;
  virtual ~Executor() = default;
  Executor(const Executor&) = delete;
  Executor& operator=(const Executor&) = delete;
  Executor(Executor&&) = delete;
  Executor& operator=(Executor&&) = delete;

  virtual void post(std::function<void()> job, QoS qos = QoS::userInitiated) = 0;
  virtual void deliver(std::function<void()> job) = 0;
};

}  // namespace vesk
