#include "platform/linux/dbus_session_events.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariant>

#include <unistd.h>

namespace vesk {
namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kLoginPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kGnomeScreenSaver = QStringLiteral("org.gnome.ScreenSaver");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
// Desktops publish the screen saver under either path.
const QStringList kScreenSaverPaths{QStringLiteral("/org/freedesktop/ScreenSaver"),
                                    QStringLiteral("/ScreenSaver")};
// Finding this login's session must not hold up start-up.
constexpr int kCallTimeoutMs = 2000;

}  // namespace

DBusSessionEvents::DBusSessionEvents(QDBusConnection system, QDBusConnection session)
    : system_(std::move(system)) {
  system_.connect(kLogin, kLoginPath, kManager, QStringLiteral("PrepareForSleep"), this,
                  SLOT(prepareForSleep(bool)));
  for (const QString& path : kScreenSaverPaths) {
    session.connect(kScreenSaver, path, kScreenSaver, QStringLiteral("ActiveChanged"), this,
                    SLOT(screenSaverChanged(bool)));
  }
  // GNOME Shell announces its lock screen under its own name only.
  session.connect(kGnomeScreenSaver, QStringLiteral("/org/gnome/ScreenSaver"), kGnomeScreenSaver,
                  QStringLiteral("ActiveChanged"), this, SLOT(screenSaverChanged(bool)));
  // The session object's path, to hear when it stops being the active one.
  QDBusMessage call = QDBusMessage::createMethodCall(kLogin, kLoginPath, kManager,
                                                     QStringLiteral("GetSessionByPID"));
  call << static_cast<uint>(::getpid());
  auto* watcher = new QDBusPendingCallWatcher(system_.asyncCall(call, kCallTimeoutMs), this);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                   [this](QDBusPendingCallWatcher* finished) {
                     const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                     if (reply.isValid()) {
                       watchSession(reply.value().path());
                     }
                     finished->deleteLater();
                   });
}

DBusSessionEvents::~DBusSessionEvents() = default;

void DBusSessionEvents::setHandler(std::function<void(Event)> handler) {
  handler_ = std::move(handler);
}

void DBusSessionEvents::watchSession(const QString& path) {
  system_.connect(kLogin, path, kProperties, QStringLiteral("PropertiesChanged"), this,
                  SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
}

void DBusSessionEvents::prepareForSleep(bool start) {
  sleeping_ = start;
  updateScreens();
}

void DBusSessionEvents::screenSaverChanged(bool active) {
  screenSaver_ = active;
  updateScreens();
}

void DBusSessionEvents::sessionPropertiesChanged(const QString& interface,
                                                 const QVariantMap& changed,
                                                 const QStringList& /*invalidated*/) {
  const auto active = changed.constFind(QStringLiteral("Active"));
  if (interface != kSession || active == changed.constEnd()) {
    return;
  }
  const bool now = active->toBool();
  if (now == sessionActive_) {
    return;
  }
  sessionActive_ = now;
  send(now ? Event::sessionDidBecomeActive : Event::sessionDidResignActive);
}

void DBusSessionEvents::updateScreens() {
  const bool asleep = sleeping_ || screenSaver_;
  if (asleep == screensAsleep_) {
    return;
  }
  screensAsleep_ = asleep;
  send(asleep ? Event::screensDidSleep : Event::screensDidWake);
}

void DBusSessionEvents::send(Event event) {
  if (handler_) {
    handler_(event);
  }
}

}  // namespace vesk
