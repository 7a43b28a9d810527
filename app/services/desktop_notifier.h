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
// main thread: a post that does not arrive is one log line and nothing else.
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

#include "platform/notifier.h"

namespace vesk {

class FileManager;

class DesktopNotifier final : public QObject, public Notifier {
  Q_OBJECT

 public:
  using LogLine = std::function<void(const std::string&)>;

  // `fileManager` may be null: clicks then reveal nothing. `log` receives the lines of posts
  // that failed and of failed zips and reveals (default: the app log, error level).
  DesktopNotifier(QDBusConnection bus, std::shared_ptr<FileManager> fileManager, LogLine log = {});
  ~DesktopNotifier() override;
  DesktopNotifier(const DesktopNotifier&) = delete;
  DesktopNotifier& operator=(const DesktopNotifier&) = delete;

  void update(const std::string& title, const std::string& body) override;
  void failed(const std::string& title, const std::optional<std::string>& path,
              const std::string& reason) override;
  void saved(const std::string& path) override;
  // Zips in the background (utility priority); the outcome is posted on the main thread.
  void zip(const std::string& path) override;

 private Q_SLOTS:
  void actionInvoked(uint id, const QString& action);
  void notificationClosed(uint id, uint reason);

 private:
  void post(const std::string& title, const std::string& body,
            const std::optional<std::string>& path);
  void notify(const std::string& title, const std::string& body,
              const std::optional<std::string>& path, bool markup);
  void reveal(const std::string& path);

  QDBusConnection bus_;
  std::shared_ptr<FileManager> fileManager_;
  LogLine log_;
  // The file of each notification shown that is about one, until the service closes it.
  std::map<uint32_t, std::string> paths_;
  // Held weakly by the callbacks of background work and of pending calls.
  std::shared_ptr<DesktopNotifier*> self_;
};

}  // namespace vesk
