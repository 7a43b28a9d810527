#include "app/base/run_in_background.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

#include "app/base/log.h"

namespace vesk {

namespace {

// Two pools so that long utility work (application scans) never delays what the user waits
// for. They are created on first use and live until the process ends.
QThreadPool& poolFor(QoS qos) {
  if (qos == QoS::userInitiated) {
    static QThreadPool* const pool = [] {
      auto* created = new QThreadPool;  // NOLINT: process lifetime
      created->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
      created->setExpiryTimeout(30000);
      return created;
    }();
    return *pool;
  }
  static QThreadPool* const pool = [] {
    auto* created = new QThreadPool;  // NOLINT: process lifetime
    created->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    created->setThreadPriority(QThread::LowPriority);
    created->setExpiryTimeout(30000);
    return created;
  }();
  return *pool;
}

}  // namespace

Failure backgroundFailure(const std::exception_ptr& exception) {
  Failure failure = failureOf(exception);
  Log::app.error("background work: %s", failure.description.c_str());
  return failure;
}

void runDetached(QoS qos, std::function<void()> job) {
  // The pool's threads are the entry of this work: nothing thrown there may end the process.
  poolFor(qos).start([job = std::move(job)] {
    try {
      job();
    } catch (...) {
      (void)backgroundFailure(std::current_exception());
    }
  });
}

void waitForBackgroundWork() {
  poolFor(QoS::userInitiated).waitForDone();
  poolFor(QoS::utility).waitForDone();
}

void postToMain(std::function<void()> job) {
  QCoreApplication* const app = QCoreApplication::instance();
  if (app == nullptr) {
    return;  // The application is gone: nobody is left to receive the result.
  }
  QMetaObject::invokeMethod(app, std::move(job), Qt::QueuedConnection);
}

}  // namespace vesk
