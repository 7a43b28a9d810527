#include "app/services/desktop_notifier.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>
#include <filesystem>
#include <utility>

#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/services/zipper.h"
#include "platform/file_manager.h"

namespace vesk {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAppName = QStringLiteral("Vesk");
const QString kIcon = QStringLiteral("vesk");
const QString kDesktopEntry = QStringLiteral("vesk");
// The one action of a notification about a file: the key the service sends when the
// notification itself is clicked, and its label where the service shows it as a button.
const QString kDefaultAction = QStringLiteral("default");
const QString kDefaultLabel = QStringLiteral("Show in File Manager");
// The service's own expiry.
constexpr int kExpireDefault = -1;

QString qt(const std::string& text) {
  return QString::fromStdString(text);
}

std::string fileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

DesktopNotifier::DesktopNotifier(Executor& executor, QDBusConnection bus,
                                 std::shared_ptr<FileManager> fileManager, LogLine log)
    : executor_(executor),
      bus_(std::move(bus)),
      fileManager_(std::move(fileManager)),
      log_(log ? std::move(log)
               : [](const std::string& line) { Log::app.error("%s", line.c_str()); }),
      self_(std::make_shared<DesktopNotifier*>(this)) {
  if (!bus_.isConnected()) {
    return;
  }
  bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
               SLOT(actionInvoked(uint, QString)));
  bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
               SLOT(notificationClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier() {
  *self_ = nullptr;
}

void DesktopNotifier::update(const std::string& title, const std::string& body) {
  post(title, body, std::nullopt);
}

void DesktopNotifier::failed(const std::string& title, const std::optional<std::string>& path,
                             const std::string& reason) {
  post(title, reason, path);
}

void DesktopNotifier::saved(const std::string& path) {
  const std::filesystem::path file(path);
  post("Saved to " + file.parent_path().filename().string(), file.filename().string(), path);
}

void DesktopNotifier::zip(const std::string& path) {
  std::weak_ptr<DesktopNotifier*> weak = self_;
  runInBackground(
      executor_, QoS::utility, [path] { return Zipper::zip(path); },
      [weak, path](const Result<std::string, Zipper::Failure>& archive) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        DesktopNotifier& notifier = **self;
        if (archive) {
          notifier.post("Zipped", fileName(archive.value()), archive.value());
          return;
        }
        const std::string& reason = archive.failure().description;
        notifier.log_("Couldn't zip " + path + ": " + reason);
        notifier.post("Couldn't zip " + fileName(path), reason, std::nullopt);
      });
}

void DesktopNotifier::notice(const std::string& title, const std::string& body,
                             const std::string& action, std::function<void()> onClick) {
  post(title, body, qt(action), std::move(onClick));
}

void DesktopNotifier::post(const std::string& title, const std::string& body,
                           const std::optional<std::string>& path) {
  std::function<void()> onClick;
  if (path) {
    onClick = [this, file = *path] { reveal(file); };
  }
  post(title, body, kDefaultLabel, std::move(onClick));
}

void DesktopNotifier::post(const std::string& title, const std::string& body, const QString& label,
                           std::function<void()> onClick) {
  if (!bus_.isConnected()) {
    notShown(title, body, onClick, "no session bus");
    return;
  }
  // Asked before every post: the service may have been replaced since the last one. A
  // service that refuses the question is taken to show plain text; one that doesn't answer
  // within kAnswerTimeoutMs would not show the post either.
  const QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                          QStringLiteral("GetCapabilities"));
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(ask, kAnswerTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, title, body, label,
           onClick = std::move(onClick)](QDBusPendingCallWatcher* finished) mutable {
            finished->deleteLater();
            const QDBusPendingReply<QStringList> reply = *finished;
            if (reply.isError() && reply.error().type() == QDBusError::NoReply) {
              notShown(title, body, onClick, reply.error().message().toStdString());
              return;
            }
            const bool markup =
                !reply.isError() && reply.value().contains(QStringLiteral("body-markup"));
            notify(title, body, label, std::move(onClick), markup);
          });
}

void DesktopNotifier::notify(const std::string& title, const std::string& body,
                             const QString& label, std::function<void()> onClick, bool markup) {
  // A service that reads markup would take a file named "<u>x &amp; y" as markup.
  const auto text = [markup](const std::string& plain) {
    return markup ? qt(plain).toHtmlEscaped() : qt(plain);
  };
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  const QStringList actions = onClick ? QStringList{kDefaultAction, label} : QStringList{};
  const QVariantMap hints{{QStringLiteral("desktop-entry"), kDesktopEntry}};
  call << kAppName << static_cast<uint>(0) << kIcon << text(title) << text(body) << actions << hints
       << kExpireDefault;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kAnswerTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, title, body, onClick = std::move(onClick)](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<uint> reply = *finished;
            if (reply.isError()) {
              notShown(title, body, onClick, reply.error().message().toStdString());
              return;
            }
            if (onClick) {
              clicks_[reply.value()] = onClick;
            }
          });
}

void DesktopNotifier::notShown(const std::string& title, const std::string& body,
                               const std::function<void()>& onClick, const std::string& why) {
  log_("Couldn't show the notification \"" + title + "\": " + why);
  if (!showOwn) {
    return;
  }
  std::function<void()> clicked;
  if (onClick) {
    // Vesk's own message may outlive the notifier.
    std::weak_ptr<DesktopNotifier*> weak = self_;
    clicked = [weak, onClick] {
      if (const auto self = weak.lock(); self && *self != nullptr) {
        onClick();
      }
    };
  }
  showOwn(title, body, std::move(clicked));
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
  const auto found = clicks_.find(id);
  if (found == clicks_.end() || action != kDefaultAction) {
    return;
  }
  // A copy: the click may post again, and so change the map, while it runs.
  const std::function<void()> onClick = found->second;
  onClick();
}

void DesktopNotifier::notificationClosed(uint id, uint /*reason*/) {
  clicks_.erase(id);
}

void DesktopNotifier::reveal(const std::string& path) {
  if (!fileManager_) {
    return;
  }
  std::weak_ptr<DesktopNotifier*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated, [files = fileManager_, path] { return files->reveal({path}); },
      [weak, path](const Result<void>& revealed) {
        const auto self = weak.lock();
        if (!revealed && self && *self != nullptr) {
          (*self)->log_("Couldn't show " + path + ": " + revealed.failure().description);
        }
      });
}

}  // namespace vesk
