#pragma once
// FakeSessionEvents: session changes sent by the test.

#include <functional>
#include <utility>

#include "platform/session_events.h"

namespace vesk {

class FakeSessionEvents final : public SessionEvents {
 public:
  void setHandler(std::function<void(Event)> handler) override { handler_ = std::move(handler); }

  void send(Event event) {
    if (handler_) {
      handler_(event);
    }
  }

 private:
  std::function<void(Event)> handler_;
};

}  // namespace vesk
