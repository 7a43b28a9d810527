#pragma once
// HotKeyService: the desktop's system-wide hot keys. A registration grabs one key with a set of
// modifiers for the whole session; each press of it is reported with the registration's id.
//
// Threads: every member is called on the main thread, and presses are delivered there too.
// Ownership: the service releases every registration it still holds when it is destroyed.

#include <cstdint>
#include <functional>

namespace vesk {

class HotKeyService {
 public:
  // Modifier bits, the same as Shortcut's.
  static constexpr uint32_t kCmd = 0x100;
  static constexpr uint32_t kShift = 0x200;
  static constexpr uint32_t kAlt = 0x800;
  static constexpr uint32_t kCtrl = 0x1000;

  enum class Outcome {
    registered,  // the key is ours until unregistered
    taken,       // another application holds this key with these modifiers
    failed,      // the desktop refused for another reason (bad key code, no connection)
  };

  // `id`: the caller's number of the registration; `pressedAt`: when the key went down, in
  // seconds on the monotonic clock (CLOCK_MONOTONIC, the clock of the latency log lines).
  using PressHandler = std::function<void(uint32_t id, double pressedAt)>;

  virtual ~HotKeyService() = default;

  // Grabs `keyCode` (a platform key code from KeyLayout) with exactly `modifiers` (bits above).
  // The caller picks `id`; an id that is already registered is replaced. Main thread.
  virtual Outcome registerHotKey(uint32_t id, uint32_t keyCode, uint32_t modifiers) = 0;

  // Releases the registration; an unknown id is ignored. Main thread.
  virtual void unregisterHotKey(uint32_t id) = 0;

  // Where presses go (one handler; replaces the previous one). Main thread.
  virtual void setPressHandler(PressHandler handler) = 0;
};

}  // namespace vesk
