#pragma once
// DBusSessionEvents: SessionEvents from the D-Bus services of a Linux desktop: logind's
// PrepareForSleep (the computer sleeps and wakes), the screen saver's ActiveChanged (the
// screen blanks or locks; freedesktop's or GNOME's), and the Active property of this login's
// logind session (the user switched to another login and back). Sleep and screen saver
// together make one "screens asleep" state: waking is reported once neither holds. A service
// that isn't there simply never reports.
//
// Main thread: created, called and destroyed there; the handler runs there.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <functional>
#include <memory>

#include "platform/session_events.h"

namespace vesk {

class DBusSessionEvents final : public QObject, public SessionEvents {
  Q_OBJECT

 public:
  // `system` carries logind, `session` the screen saver (the desktop's own buses by default).
  explicit DBusSessionEvents(QDBusConnection system = QDBusConnection::systemBus(),
                             QDBusConnection session = QDBusConnection::sessionBus());
  ~DBusSessionEvents() override;

  void setHandler(std::function<void(Event)> handler) override;

 private slots:
  void prepareForSleep(bool start);
  void screenSaverChanged(bool active);
  void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                const QStringList& invalidated);

 private:
  void watchSession(const QString& path);
  void updateScreens();
  void send(Event event);

  QDBusConnection system_;
  std::function<void(Event)> handler_;
  bool sleeping_ = false;
  bool screenSaver_ = false;
  bool screensAsleep_ = false;
  bool sessionActive_ = true;
};

}  // namespace vesk
