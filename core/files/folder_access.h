#pragma once
// FolderAccess: what FileSearchEngine knows about the folders the desktop may guard with a
// permission prompt. Each folder is asked about on a queue of its own, because `canRead` may
// block; the answers come back on the owner's queue, and whoever waits for them waits at most
// a given time.
//
// Every member except the constructor and destructor runs on the owner's queue.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/base/serial_queue.h"

namespace vesk {

// True when `folder` can be listed, or does not exist (nothing there to protect).
bool canListFolder(const std::string& folder);

class FolderAccess final {
 public:
  enum class Access : uint8_t { asking, allowed, refused };
  using CanRead = std::function<bool(const std::string& folder)>;
  // Told on the owner's queue with each answer, after the waiters it completes.
  using OnAnswer = std::function<void(const std::string& folder, bool allowed)>;

  // `queue` is the owner's queue; once `stopping` is set nothing more runs on it from here.
  // Both outlive this object.
  FolderAccess(CanRead canRead, SerialQueue& queue, const std::atomic<bool>& stopping);
  FolderAccess(const FolderAccess&) = delete;
  FolderAccess& operator=(const FolderAccess&) = delete;

  void setOnAnswer(OnAnswer onAnswer) { onAnswer_ = std::move(onAnswer); }

  // Asks about each folder not already asking or allowed, then runs `then` on the queue once
  // every one of them is answered or `wait` has passed, whichever comes first.
  void ask(const std::vector<std::string>& folders, std::chrono::milliseconds wait,
           std::function<void()> then);
  // Asks again about every folder whose access was refused.
  void recheckRefused();

  std::optional<Access> answer(const std::string& folder) const;
  bool isAllowed(const std::string& folder) const {
    const auto found = access_.find(folder);
    return found != access_.end() && found->second == Access::allowed;
  }

 private:
  struct Waiter;
  void answered(const std::string& folder, bool allowed);

  CanRead canRead_;
  SerialQueue& queue_;
  const std::atomic<bool>& stopping_;
  OnAnswer onAnswer_;
  std::map<std::string, Access> access_;
  std::vector<std::shared_ptr<Waiter>> waiters_;
  // Declared last: stops first, while the state above is still alive.
  SerialQueue accessQueue_{"launcher.files.access"};
};

}  // namespace vesk
