#pragma once
// SessionEvents: when the computer sleeps and wakes, the screens turn off or lock, and the user
// switches away from this login and back. The clipboard recorder stops polling in between.
//
// Threads: the handler is set and called on the main thread.

#include <functional>

namespace vesk {

class SessionEvents {
 public:
  enum class Event {
    screensDidSleep,         // the computer is about to sleep, or the screen saver / lock came on
    screensDidWake,          // both are over again
    sessionDidResignActive,  // the user switched to another login
    sessionDidBecomeActive,  // the user came back
  };

  virtual ~SessionEvents() = default;

  // One handler; replaces the previous one. Main thread.
  virtual void setHandler(std::function<void(Event)> handler) = 0;
};

}  // namespace vesk
