#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/dbus_session_events.h"
#include "tests/platform/qt_pump.h"
#include "tests/platform/xvfb.h"

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

}  // namespace
}  // namespace vesk
