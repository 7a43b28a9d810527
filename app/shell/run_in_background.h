#pragma once
// runInBackground(qos, work, then): the one way the application leaves the main thread for
// blocking work. `work` runs once on the shared pool of its quality-of-service class; `then`
// receives its result on the main thread (the thread of the QCoreApplication). It never fails
// and cannot be cancelled: callers that may be overtaken by a newer job carry a generation
// number and drop stale results in `then`.
//
// Neither `work` nor `then` may throw. Both may be move-only.

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace vesk {

enum class QoS { userInitiated, utility };

// Runs `job` on the pool of `qos`.
void runDetached(QoS qos, std::function<void()> job);

// Runs `job` on the main thread, after the events already queued there.
void postToMain(std::function<void()> job);

// Waits until every job run so far has finished. At shutdown, after the application object is
// gone and before the QCoreApplication is: no job may outlive what it uses.
void waitForBackgroundWork();

template <class Work, class Then>
void runInBackground(QoS qos, Work work, Then then) {
  // std::function needs copyable targets; the shared state lets move-only captures through.
  auto state = std::make_shared<std::pair<Work, Then>>(std::move(work), std::move(then));
  runDetached(qos, [state] {
    using R = std::invoke_result_t<Work&>;
    if constexpr (std::is_void_v<R>) {
      state->first();
      postToMain([state] { state->second(); });
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
