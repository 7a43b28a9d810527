#pragma once
// PoolExecutor: the executor of the running application. Two thread pools, so that long
// utility work (application scans, index rebuilds) never delays what the user waits for, and
// the main thread of the QCoreApplication for `deliver` (a job delivered after the
// application object is gone is dropped).
//
// `waitForDone` waits until every job posted so far has finished: at shutdown, after the
// components are gone and before the QCoreApplication is, no job may outlive what it uses.

#include <QThreadPool>
#include <functional>

#include "app/base/executor.h"

namespace vesk {

class PoolExecutor final : public Executor {
 public:
  PoolExecutor();
  ~PoolExecutor() override;
  PoolExecutor(const PoolExecutor&) = delete;
  PoolExecutor& operator=(const PoolExecutor&) = delete;
  PoolExecutor(PoolExecutor&&) = delete;
  PoolExecutor& operator=(PoolExecutor&&) = delete;

  void post(std::function<void()> job, QoS qos = QoS::userInitiated) override;
  void deliver(std::function<void()> job) override;
  void waitForDone();

 private:
  QThreadPool userInitiated_;
  QThreadPool utility_;
};

}  // namespace vesk
