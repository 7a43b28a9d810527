#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/dbus_session_events.h"
#include "tests/platform/linux/qt_pump.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk {
namespace {

using Event = SessionEvents::Event;
using test::pumpUntil;

// A private message bus for one test, stopped with it.
class PrivateBus {
 public:
  PrivateBus() {
    std::istringstream lines(
        test::Xvfb::output("dbus-daemon --session --fork --print-address=1 --print-pid=1"));
    std::getline(lines, address_);
    lines >> pid_;
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
    }
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool ok() const { return pid_ > 0 && !address_.empty(); }

  QDBusConnection connect(const QString& name) {
    return QDBusConnection::connectToBus(QString::fromStdString(address_), name);
  }

 private:
  std::string address_;
  pid_t pid_ = 0;
};

void emitSignal(QDBusConnection& from, const char* path, const char* interface, const char* name,
                bool value) {
  QDBusMessage message = QDBusMessage::createSignal(path, interface, name);
  message << value;
  from.send(message);
}

// logind's manager as far as finding this process's session goes.
class FakeLoginManager final : public QDBusVirtualObject {
 public:
  static constexpr const char* kSessionPath = "/org/freedesktop/login1/session/_7";

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() != QStringLiteral("GetSessionByPID")) {
      return false;
    }
    connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(kSessionPath))));
    return true;
  }
  QString introspect(const QString& /*path*/) const override { return {}; }
};

void emitActive(QDBusConnection& from, bool active) {
  QDBusMessage message = QDBusMessage::createSignal(
      FakeLoginManager::kSessionPath, "org.freedesktop.DBus.Properties", "PropertiesChanged");
  message << QStringLiteral("org.freedesktop.login1.Session")
          << QVariantMap{{QStringLiteral("Active"), active}} << QStringList{};
  from.send(message);
}

struct Recorder {
  std::vector<Event> events;
};

TEST(DBusSessionEvents, SleepAndScreenSaverTogetherMakeOneAsleepState) {
  test::qtApp();
  PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  QDBusConnection services = bus.connect("services-1");
  ASSERT_TRUE(services.interface()->registerService("org.freedesktop.login1"));
  ASSERT_TRUE(services.interface()->registerService("org.freedesktop.ScreenSaver"));
  DBusSessionEvents events(bus.connect("vesk-1"), bus.connect("vesk-1"));
  Recorder recorder;
  events.setHandler([&](Event event) { recorder.events.push_back(event); });
  pumpUntil([] { return false; }, std::chrono::milliseconds(100));

  emitSignal(services, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
             "PrepareForSleep", true);
  emitSignal(services, "/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", true);
  emitSignal(services, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
             "PrepareForSleep", false);
  ASSERT_TRUE(pumpUntil([&] { return !recorder.events.empty(); }));
  // Waking from sleep with the screen saver still on is not yet awake.
  pumpUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(recorder.events, std::vector<Event>{Event::screensDidSleep});

  emitSignal(services, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
             "ActiveChanged", false);
  ASSERT_TRUE(pumpUntil([&] { return recorder.events.size() == 2; }));
  EXPECT_EQ(recorder.events[1], Event::screensDidWake);
}

TEST(DBusSessionEvents, SignalFromAnImpostorIsIgnored) {
  test::qtApp();
  PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  QDBusConnection services = bus.connect("services-2");
  ASSERT_TRUE(services.interface()->registerService("org.freedesktop.ScreenSaver"));
  ASSERT_TRUE(services.interface()->registerService("org.freedesktop.login1"));
  QDBusConnection impostor = bus.connect("impostor-2");
  DBusSessionEvents events(bus.connect("vesk-2"), bus.connect("vesk-2"));
  Recorder recorder;
  events.setHandler([&](Event event) { recorder.events.push_back(event); });
  pumpUntil([] { return false; }, std::chrono::milliseconds(100));

  emitSignal(impostor, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
             "PrepareForSleep", true);
  emitSignal(services, "/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", true);
  emitSignal(services, "/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", false);
  ASSERT_TRUE(pumpUntil([&] { return recorder.events.size() >= 2; }));
  EXPECT_EQ(recorder.events, (std::vector<Event>{Event::screensDidSleep, Event::screensDidWake}));
}

TEST(DBusSessionEvents, SwitchingToAnotherLoginAndBackIsReportedOnce) {
  test::qtApp();
  PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  QDBusConnection services = bus.connect("services-3");
  FakeLoginManager manager;
  ASSERT_TRUE(services.registerVirtualObject("/org/freedesktop/login1", &manager));
  ASSERT_TRUE(services.interface()->registerService("org.freedesktop.login1"));
  DBusSessionEvents events(bus.connect("vesk-3"), bus.connect("vesk-3"));
  Recorder recorder;
  events.setHandler([&](Event event) { recorder.events.push_back(event); });
  // The session's path arrives asynchronously; until then its changes can't be heard.
  ASSERT_TRUE(pumpUntil([&] {
    emitActive(services, false);
    return !recorder.events.empty();
  }));
  emitActive(services, false);
  emitActive(services, true);
  ASSERT_TRUE(pumpUntil([&] { return recorder.events.size() >= 2; }));
  pumpUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(recorder.events,
            (std::vector<Event>{Event::sessionDidResignActive, Event::sessionDidBecomeActive}));
}

}  // namespace
}  // namespace vesk
