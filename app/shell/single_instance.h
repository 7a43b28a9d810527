#pragma once
// SingleInstance: makes sure one Vesk runs per user session. The first process holds a lock
// file and listens on a local socket, both in the runtime folder ($XDG_RUNTIME_DIR, private to
// the user); a later process finds the lock taken, asks the running one over the socket to
// present the launcher, and ends. This is also how a desktop without global grabs (Wayland)
// binds its own shortcut to Vesk: the shortcut runs `vesk`.
//
// Main thread only.

#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/base/result.h"

class QLocalServer;
class QLocalSocket;

namespace vesk {

class SingleInstance final : public QObject {
 public:
  enum class Role {
    primary,   // this process is the one instance; it listens for reopen requests
    notified,  // another instance runs and acknowledged the reopen request
    failed,    // another instance holds the lock but could not be reached
  };

  // `folder` is where the lock and the socket live (normally the runtime folder).
  explicit SingleInstance(std::string folder);
  ~SingleInstance() override;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Decides the role. For `primary`, `onReopen` runs on the main thread for each later start.
  Role claim(std::function<void()> onReopen);

  // The reason `claim` ended in `failed`, or in `primary` without a listening socket.
  const std::string& problem() const { return problem_; }

  // The connections of later starts being served now; a few at most.
  size_t openConnections() const;

  // $XDG_RUNTIME_DIR. Without one: the temporary folder's "vesk-UID" when it is a directory of
  // this user with mode 0700 (created so when missing); when someone else made it, or made it
  // wider, Vesk's own "vesk/run" under the user's cache folder. The failure says in one
  // sentence why Vesk can't start.
  static Result<std::string> defaultFolder();

 private:
  void accept();
  static void drop(QLocalSocket* socket);

  std::string folder_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
  std::function<void()> onReopen_;
  std::vector<QPointer<QLocalSocket>> connections_;
  std::string problem_;
};

}  // namespace vesk
