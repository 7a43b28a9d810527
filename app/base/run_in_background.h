#pragma once
// runInBackground(executor, qos, work, then): blocking work off the main thread. `work` runs
// once through the executor's `post`; `then` receives its result through its `deliver`, on the
// main thread. It never fails and cannot be cancelled: callers that may be overtaken by a newer
// job carry a generation number and drop stale results in `then`.
//
// Both may be move-only. When `work` throws, the exception is logged; a result that can hold a
// `Failure` (a Result) hands it to `then`, otherwise `then` is not called. `then` must not throw.

#include <exception>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "app/base/executor.h"
#include "core/base/result.h"

namespace vesk {

// Logs the exception that ended a background job and gives the failure it stands for.
Failure backgroundFailure(const std::exception_ptr& exception);

template <class Work, class Then>
void runInBackground(Executor& executor, QoS qos, Work work, Then then) {
  // std::function needs copyable targets; the shared state lets move-only captures through.
  auto state = std::make_shared<std::pair<Work, Then>>(std::move(work), std::move(then));
  executor.post(
      [state, &executor] {
        using R = std::invoke_result_t<Work&>;
        if constexpr (std::is_void_v<R>) {
          state->first();
          executor.deliver([state] { state->second(); });
        } else if constexpr (std::is_constructible_v<R, Failure>) {
          std::shared_ptr<R> result;
          try {
            result = std::make_shared<R>(state->first());
          } catch (...) {
            result = std::make_shared<R>(backgroundFailure(std::current_exception()));
          }
          executor.deliver([state, result] { state->second(std::move(*result)); });
        } else {
          auto result = std::make_shared<R>(state->first());
          executor.deliver([state, result] { state->second(std::move(*result)); });
        }
      },
      qos);
}

// `work` in the background with nothing to hand back.
template <class Work>
void runInBackground(Executor& executor, QoS qos, Work work) {
  auto state = std::make_shared<Work>(std::move(work));
  executor.post([state] { (*state)(); }, qos);
}

}  // namespace vesk
