#pragma once
// DesktopNotifier: the Notifier over the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Every post is shown at once as
// "Vesk" with the icon and desktop entry "vesk". A notification about a file offers the default
// action ("Show in File Manager"); invoking it reveals the file through the FileManager in the
// background.
//
// Texts are plain: escaped for markup when the service says it reads markup in bodies
// ("body-markup" among its capabilities), as they are otherwise.
//
// Every bus call is asynchronous, so a slow or missing notification service never blocks the
// main thread: a post that does not arrive (no service owns the name, none answers within
// kAnswerTimeout, or there is no session bus) is one log line, and `showOwn` shows it instead.
//
// Main thread only (the thread of the QCoreApplication); the bus delivers the action signals
// there.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/base/executor.h"
#include "platform/notifier.h"

namespace vesk {

class FileManager;

class DesktopNotifier final : public QObject, public Notifier {
  Q_OBJECT

 public:
  using LogLine = std::function<void(const std::string&)>;
  // Shows a post that the service didn't; `clicked` (may be empty) does what a click on the
  // notification would have done.
  using ShowOwn = std::function<void(const std::string& title, const std::string& body,
                                     std::function<void()> clicked)>;

  static constexpr int kAnswerTimeoutMs = 1000;

  // `fileManager` may be null: clicks then reveal nothing. `log` receives the lines of posts
  // that failed and of failed zips and reveals (default: the app log, error level).
  DesktopNotifier(Executor& executor, QDBusConnection bus, std::shared_ptr<FileManager> fileManager,
                  LogLine log = {});
  ~DesktopNotifier() override;
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;
  DesktopNotifier(DesktopNotifier&&) = delete;
  DesktopNotifier& operator=(DesktopNotifier&&) = delete;

  void update(const std::string& title, const std::string& body) override;
  void failed(const std::string& title, const std::optional<std::string>& path,
              const std::string& reason) override;
  void saved(const std::string& path) override;
  // Zips in the background (utility priority); the outcome is posted on the main thread.
  void zip(const std::string& path) override;
  void notice(const std::string& title, const std::string& body, const std::string& action,
              std::function<void()> onClick) override;

  // Where posts go that the service didn't show; empty: they are only logged.
  ShowOwn showOwn;

 private Q_SLOTS:
  void actionInvoked(uint id, const QString& action);
  void notificationClosed(uint id, uint reason);

 private:
  Executor& executor_;
  void post(const std::string& title, const std::string& body,
            const std::optional<std::string>& path);
  // Posts with the default action `label` running `onClick`, when that is set.
  void post(const std::string& title, const std::string& body, const QString& label,
            std::function<void()> onClick);
  // Sends the notification, its texts escaped when the service reads markup.
  void notify(const std::string& title, const std::string& body, const QString& label,
              std::function<void()> onClick, bool markup);
  void reveal(const std::string& path);
  void notShown(const std::string& title, const std::string& body,
                const std::function<void()>& onClick, const std::string& why);

  QDBusConnection bus_;
  std::shared_ptr<FileManager> fileManager_;
  LogLine log_;
  // What clicking each notification shown does, until the service closes it.
  std::map<uint32_t, std::function<void()>> clicks_;
  // Held weakly by the callbacks of background work and of pending calls.
  std::shared_ptr<DesktopNotifier*> self_;
};

}  // namespace vesk
