#include "app/base/pool_executor.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <exception>

#include "app/base/run_in_background.h"

namespace vesk {

PoolExecutor::PoolExecutor() {
  for (QThreadPool* pool : {&userInitiated_, &utility_}) {
    pool->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    pool->setExpiryTimeout(30000);
  }
  utility_.setThreadPriority(QThread::LowPriority);
}

PoolExecutor::~PoolExecutor() {
  waitForDone();
}

void PoolExecutor::post(std::function<void()> job, QoS qos) {
  QThreadPool& pool = qos == QoS::userInitiated ? userInitiated_ : utility_;
  // The pool's threads are the entry of this work: nothing thrown there may end the process.
  pool.start([job = std::move(job)] {
    try {
      job();
    } catch (...) {
      (void)backgroundFailure(std::current_exception());
    }
  });
}

void PoolExecutor::deliver(std::function<void()> job) {
  QCoreApplication* const app = QCoreApplication::instance();
  if (app == nullptr) {
    return;  // The application is gone: nobody is left to receive the result.
  }
  // Qt takes the queued call and deletes it once it ran; the static analyzer can't follow it
  // into Qt and would report it as leaked.
#ifndef __clang_analyzer__
  QMetaObject::invokeMethod(app, std::move(job), Qt::QueuedConnection);
#else
  static_cast<void>(job);
#endif
}

void PoolExecutor::waitForDone() {
  userInitiated_.waitForDone();
  utility_.waitForDone();
}

}  // namespace vesk
