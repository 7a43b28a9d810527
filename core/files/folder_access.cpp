#include "core/files/folder_access.h"

#include <cerrno>
#include <set>
#include <utility>

#include <dirent.h>

namespace vesk {

bool canListFolder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir != nullptr) {
    closedir(dir);
    return true;
  }
  return errno == ENOENT;
}

struct FolderAccess::Waiter {
  std::set<std::string> outstanding;
  std::function<void()> then;
  bool fired = false;

  void fire() {
    if (!fired) {
      fired = true;
      then();
    }
  }
};

FolderAccess::FolderAccess(CanRead canRead, SerialQueue& queue, const std::atomic<bool>& stopping)
    : canRead_(std::move(canRead)), queue_(queue), stopping_(stopping) {}

std::optional<FolderAccess::Access> FolderAccess::answer(const std::string& folder) const {
  const auto found = access_.find(folder);
  return found == access_.end() ? std::nullopt : std::optional(found->second);
}

void FolderAccess::ask(const std::vector<std::string>& folders, std::chrono::milliseconds wait,
                       std::function<void()> then) {
  auto waiter = std::make_shared<Waiter>();
  waiter->then = std::move(then);
  for (const std::string& folder : folders) {
    const auto known = access_.find(folder);
    if (known != access_.end() && known->second != Access::refused) {
      continue;  // asking or allowed: left alone
    }
    access_[folder] = Access::asking;
    waiter->outstanding.insert(folder);
    accessQueue_.async([this, folder] {
      if (stopping_) {
        return;
      }
      const bool allowed = canRead_(folder);
      queue_.async([this, folder, allowed] {
        if (!stopping_) {
          answered(folder, allowed);
        }
      });
    });
  }
  if (waiter->outstanding.empty()) {
    waiter->fire();
    return;
  }
  waiters_.push_back(waiter);
  queue_.asyncAfter(wait, [this, waiter] {
    if (!stopping_) {
      waiter->fire();
      std::erase(waiters_, waiter);
    }
  });
}

void FolderAccess::answered(const std::string& folder, bool allowed) {
  access_[folder] = allowed ? Access::allowed : Access::refused;
  for (const auto& waiter : std::vector(waiters_)) {
    waiter->outstanding.erase(folder);
    if (waiter->outstanding.empty()) {
      waiter->fire();
      std::erase(waiters_, waiter);
    }
  }
  if (onAnswer_) {
    onAnswer_(folder, allowed);
  }
}

void FolderAccess::recheckRefused() {
  std::vector<std::string> refused;
  for (const auto& [folder, answer] : access_) {
    if (answer == Access::refused) {
      refused.push_back(folder);
    }
  }
  ask(refused, std::chrono::milliseconds(0), [] {});
}

}  // namespace vesk
