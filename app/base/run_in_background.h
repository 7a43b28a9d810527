#pragma once
// runInBackground(qos, work, then): the one way the application leaves the main thread for
// blocking work. `work` runs once on the shared pool of its quality-of-service class; `then`
// receives its result on the main thread (the thread of the QCoreApplication). It never fails
// and cannot be cancelled: callers that may be overtaken by a newer job carry a generation
// number and drop stale results in `then`.
//
// Both may be move-only. When `work` throws, the exception is logged; a result that can hold a
// `Failure` (a Result) hands it to `then`, otherwise `then` is not called. `then` must not throw.

#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "core/base/result.h"

namespace vesk {

enum class QoS { userInitiated, utility };

// Runs `job` on the pool of `qos`.
void runDetached(QoS qos, std::function<void()> job);

// Runs `job` on the main thread, after the events already queued there.
void postToMain(std::function<void()> job);

// Waits until every job run so far has finished. At shutdown, after the application object is
// gone and before the QCoreApplication is: no job may outlive what it uses.
void waitForBackgroundWork();

// Logs the exception that ended a background job and gives the failure it stands for.
Failure backgroundFailure(const std::exception_ptr& exception);

template <class Work, class Then>
void runInBackground(QoS qos, Work work, Then then) {
  // std::function needs copyable targets; the shared state lets move-only captures through.
  auto state = std::make_shared<std::pair<Work, Then>>(std::move(work), std::move(then));
  runDetached(qos, [state] {
    using R = std::invoke_result_t<Work&>;
    if constexpr (std::is_void_v<R>) {
      state->first();
      postToMain([state] { state->second(); });
    } else if constexpr (std::is_constructible_v<R, Failure>) {
      std::shared_ptr<R> result;
      try {
        result = std::make_shared<R>(state->first());
      } catch (...) {
        result = std::make_shared<R>(backgroundFailure(std::current_exception()));
      }
      postToMain([state, result] { state->second(std::move(*result)); });
    } else {
      auto result = std::make_shared<R>(state->first());
      postToMain([state, result] { state->second(std::move(*result)); });
    }
  });
}

// `work` in the background with nothing to hand back.
template <class Work>
void runInBackground(QoS qos, Work work) {
  auto state = std::make_shared<Work>(std::move(work));
  runDetached(qos, [state] { (*state)(); });
}

}  // namespace vesk
