// The keys that open Vesk as a new user meets them: under GNOME's window manager, whose own
// shortcuts no grab sees, and the first start's notification under openbox, read by a
// notification service of the test's own on a private bus.

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "tests/app/services/private_bus.h"
#include "tests/e2e/vesk_process.h"
#include "tests/e2e/window_manager.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

class DesktopKeysE2E : public testing::Test {
 protected:
  void start(const std::string& windowManager) {
    if (Xvfb::run("command -v " + windowManager + " >/dev/null") != 0) {
      GTEST_SKIP() << windowManager << " isn't installed";
    }
    wm = std::make_unique<WindowManager>(windowManager);
    ASSERT_TRUE(wm->ready()) << windowManager << " didn't start";
    std::filesystem::create_directories(home.applications());
    vesk = std::make_unique<VeskProcess>(home);
    ASSERT_TRUE(vesk->start());
    ASSERT_TRUE(vesk->waitForLog("Applied config.toml", 10s)) << vesk->log();
  }

  void TearDown() override {
    vesk.reset();
    wm.reset();
  }

  void keys(const std::vector<std::string>& names) {
    std::vector<std::string> args = {"xdotool", "key", "--delay", "0"};
    args.insert(args.end(), names.begin(), names.end());
    ASSERT_EQ(runProgram(home, args), 0);
  }

  bool shown(size_t times) const {
    return pumpUntil([&] { return vesk->count("panel drawn") >= times; }, 10s);
  }

  Home home;
  std::unique_ptr<WindowManager> wm;
  std::unique_ptr<VeskProcess> vesk;
};

TEST_F(DesktopKeysE2E, UnderMutterTheDefaultKeyOpensThePanelAndItsOwnSuperPIsTaken) {
  VESK_REQUIRE_XVFB();
  // The test's home lists only its own data folder; the desktop's schemas are the system's.
  home.extra["GSETTINGS_SCHEMA_DIR"] = "/usr/share/glib-2.0/schemas";
  start("mutter");
  keys({"ctrl+alt+space"});
  ASSERT_TRUE(shown(1)) << vesk->log();
  keys({"Escape"});
  ASSERT_TRUE(pumpUntil([&] { return vesk->count("The panel closed") >= 1; })) << vesk->log();

  // mutter keeps Super+P for switching displays: Vesk says so and keeps the key it had.
  std::ofstream(home.configFile()) << "[hotkeys]\nlauncher = \"super+p\"\n";
  ASSERT_TRUE(
      vesk->waitForLog("hotkeys.launcher \"super+p\" is taken by the desktop's "
                       "\"switch-monitor\" binding (org.gnome.mutter.keybindings)",
                       10s))
      << vesk->log();
  ASSERT_TRUE(pumpUntil([&] { return vesk->count("Applied config.toml") >= 2; })) << vesk->log();
  keys({"ctrl+alt+space"});
  EXPECT_TRUE(shown(2)) << vesk->log();
}

TEST_F(DesktopKeysE2E, TheFirstStartNotifiesTheKeysThatOpenVeskAndTheClickOpensIt) {
  VESK_REQUIRE_XVFB();
  PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  QDBusConnection desktop = bus.connect("notifications");
  ASSERT_TRUE(desktop.interface()->registerService("org.freedesktop.Notifications"));
  std::atomic<uint> nextId{1};
  // Ids only for posts: Vesk asks for the service's capabilities before each one.
  RecordingService notifications([&nextId](const QDBusMessage& call) {
    if (call.member() == "GetCapabilities") {
      return QVariantList{QStringList{"body", "actions"}};
    }
    return QVariantList{QVariant::fromValue(nextId++)};
  });
  ASSERT_TRUE(desktop.registerVirtualObject("/org/freedesktop/Notifications", &notifications));
  home.extra["DBUS_SESSION_BUS_ADDRESS"] = bus.address();

  start("openbox");
  const auto posts = [&notifications] {
    std::vector<QDBusMessage> notify;
    for (const QDBusMessage& call : notifications.calls()) {
      if (call.member() == "Notify") {
        notify.push_back(call);
      }
    }
    return notify;
  };
  ASSERT_TRUE(pumpUntil([&] { return !posts().empty(); }, 10s)) << vesk->log();
  const QList<QVariant> post = posts().front().arguments();
  EXPECT_EQ(post.value(0).toString(), "Vesk");
  EXPECT_EQ(post.value(4).toString(),
            "Ctrl+Alt+Space opens Vesk, Shift+Super+V its clipboard history");
  EXPECT_EQ(post.value(5).toStringList(), (QStringList{"default", "Open Vesk"}));

  QDBusMessage clicked = QDBusMessage::createSignal(
      "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
  clicked << uint(1) << QStringLiteral("default");
  desktop.send(clicked);
  EXPECT_TRUE(shown(1)) << vesk->log();
  desktop.unregisterObject("/org/freedesktop/Notifications");
}

}  // namespace
}  // namespace vesk::test
