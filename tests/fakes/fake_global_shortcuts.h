#pragma once
// FakeGlobalShortcuts: the desktop's global shortcuts in memory. Tests read what was bound,
// answer the newest bind by hand and press shortcuts.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/global_shortcuts.h"

namespace vesk {

class FakeGlobalShortcuts final : public GlobalShortcuts {
 public:
  struct Bind {
    std::vector<Wanted> wanted;
    BindHandler done;
  };

  void bind(std::vector<Wanted> wanted, BindHandler done) override {
    binds.push_back({std::move(wanted), std::move(done)});
  }
  std::optional<bool> isAvailable() const override { return available; }
  void setActivationHandler(ActivationHandler handler) override {
    activationHandler = std::move(handler);
  }
  void setChangeHandler(ChangeHandler handler) override { changeHandler = std::move(handler); }

  // Answers the newest bind.
  void answer(const Outcome& outcome) {
    available = outcome.kind != Outcome::Kind::unavailable;
    if (!binds.empty() && binds.back().done) {
      binds.back().done(outcome);
    }
  }
  void press(const std::string& id, double at = 0) {
    if (activationHandler) {
      activationHandler(id, at);
    }
  }

  std::vector<Bind> binds;
  std::optional<bool> available;
  ActivationHandler activationHandler;
  ChangeHandler changeHandler;
};

}  // namespace vesk
