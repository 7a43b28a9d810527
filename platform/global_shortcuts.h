#pragma once
// GlobalShortcuts: system-wide shortcuts that the desktop itself holds and assigns keys to, for
// sessions where no client may grab keys (Wayland). Vesk names each shortcut and proposes a
// trigger; the desktop decides which key, if any, it really gets, and reports each press.
//
// Threads: every member is called on the main thread; outcomes and activations arrive there.
// Nothing waits on the desktop: a desktop that never answers leaves a bind pending, nothing more.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

class GlobalShortcuts {
 public:
  struct Wanted {
    std::string id;           // "launcher"
    std::string description;  // what it does, shown in the desktop's settings
    // The proposed key in the desktop's trigger syntax ("CTRL+ALT+space"); empty: none.
    std::string preferredTrigger;
  };

  struct Assigned {
    std::string id;
    // The desktop's own text for the key ("Ctrl+Alt+Space"); empty when it gave none.
    std::string trigger;
  };

  struct Outcome {
    enum class Kind {
      bound,        // the desktop took the shortcuts in `assigned` (a subset of those wanted)
      unavailable,  // the desktop offers no such service, or it didn't answer
      refused,      // the service answered, but didn't bind (the user cancelled, an error)
    };
    Kind kind = Kind::unavailable;
    std::vector<Assigned> assigned;
    std::string reason;  // why, when not bound
  };

  using BindHandler = std::function<void(const Outcome&)>;
  // `activatedAt`: when the desktop's press reached Vesk, in seconds on the monotonic clock
  // (CLOCK_MONOTONIC, the clock of the latency log lines).
  using ActivationHandler = std::function<void(const std::string& id, double activatedAt)>;
  // The user gave shortcuts other keys in the desktop's settings.
  using ChangeHandler = std::function<void(const std::vector<Assigned>&)>;

  GlobalShortcuts() = default;
  virtual ~GlobalShortcuts() = default;
  GlobalShortcuts(const GlobalShortcuts&) = delete;
  GlobalShortcuts& operator=(const GlobalShortcuts&) = delete;
  GlobalShortcuts(GlobalShortcuts&&) = delete;
  GlobalShortcuts& operator=(GlobalShortcuts&&) = delete;

  // Makes `wanted` the whole set, replacing every earlier bind (an empty list releases them).
  // `done` runs once with the outcome; a bind superseded by a later one before the desktop
  // answered never reports.
  virtual void bind(std::vector<Wanted> wanted, BindHandler done) = 0;
  // Whether the desktop offers the service: none until a bind found out.
  virtual std::optional<bool> isAvailable() const = 0;
  // Where presses of the bound shortcuts go (one handler; replaces the previous one).
  virtual void setActivationHandler(ActivationHandler handler) = 0;
  virtual void setChangeHandler(ChangeHandler handler) = 0;
};

}  // namespace vesk
