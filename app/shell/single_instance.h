#pragma once
// SingleInstance: makes sure one Vesk runs per user session. The first process holds a lock
// file and listens on a local socket, both in the runtime folder ($XDG_RUNTIME_DIR, private to
// the user); a later process finds the lock taken, sends its request (present the launcher, or
// one of the hot keys' jobs) to the running one over the socket, and ends. This is also how a
// desktop without global grabs (Wayland) or a window manager's own bindings reach Vesk: the
// shortcut runs `vesk --launcher`, `vesk --clipboard` or `vesk --paste-next`.
//
// The later process needs no QCoreApplication: `lock` and `send` run before one exists, so a
// second start answers in a few milliseconds. `listen` needs the application object.
//
// Main thread only.

#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
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

  // What a later start asks of the running instance.
  enum class Request {
    reopen,     // `vesk`: present the launcher; never closes a panel that is shown
    launcher,   // `vesk --launcher`: as the launcher hot key, shows or hides it
    clipboard,  // `vesk --clipboard`: as the clipboard hot key
    pasteNext,  // `vesk --paste-next`: as the paste-next hot key
  };

  // The request a command line asks for: none of the options is `reopen`; an option Vesk does
  // not know is nullopt.
  static std::optional<Request> requestOf(const std::vector<std::string>& arguments);

  // `folder` is where the lock and the socket live (normally the runtime folder).
  explicit SingleInstance(std::string folder);
  ~SingleInstance() override;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // Takes the lock when no other instance holds it: true means this process is the one
  // instance and must `listen` once the application object exists.
  bool lock();
  // For a process that could not take the lock: hands `request` to the running instance;
  // `notified` once it acknowledged, else `failed` (see `problem`).
  Role send(Request request);
  // Listens for later starts; `onRequest` runs on the main thread for each. A socket that
  // can't be made leaves `problem` set, and the instance runs without it.
  void listen(std::function<void(Request)> onRequest);

  // The reason `send` failed, or why `listen` could not listen.
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
  std::function<void(Request)> onRequest_;
  std::vector<QPointer<QLocalSocket>> connections_;
  std::string problem_;
};

}  // namespace vesk
