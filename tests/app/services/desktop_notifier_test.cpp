#include "app/services/desktop_notifier.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/dbus_file_manager.h"
#include "tests/app/app_test_support.h"
#include "tests/app/services/private_bus.h"

namespace vesk {
namespace {

using test::pumpUntil;
using test::RecordingService;

// One Notify call as the service saw it.
struct Post {
  QString appName;
  uint replaces = 0;
  QString icon;
  QString title;
  QString body;
  QStringList actions;
  QVariantMap hints;
  int timeout = 0;
};

Post postOf(const QDBusMessage& call) {
  const QList<QVariant> a = call.arguments();
  Post post;
  post.appName = a.value(0).toString();
  post.replaces = a.value(1).toUInt();
  post.icon = a.value(2).toString();
  post.title = a.value(3).toString();
  post.body = a.value(4).toString();
  post.actions = a.value(5).toStringList();
  a.value(6).value<QDBusArgument>() >> post.hints;
  post.timeout = a.value(7).toInt();
  return post;
}

// A notification service and a file manager of the test's own on a private bus, and the
// notifier on its own connection to that bus.
class DesktopNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bus.ok());
    desktop = bus.connect("desktop-" + QString::number(++serial));
    ASSERT_TRUE(desktop.interface()->registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(desktop.interface()->registerService("org.freedesktop.FileManager1"));
    ASSERT_TRUE(desktop.registerVirtualObject("/org/freedesktop/Notifications", &notifications));
    ASSERT_TRUE(desktop.registerVirtualObject("/org/freedesktop/FileManager1", &fileManager));
    notifier = std::make_unique<DesktopNotifier>(
        test::testExecutor(), bus.connect("vesk-" + QString::number(serial)),
        std::make_shared<DBusFileManager>(bus.address()),
        [this](const std::string& line) { lines.push_back(line); });
  }

  void TearDown() override { notifier.reset(); }

  std::vector<Post> posts() const {
    std::vector<Post> all;
    for (const QDBusMessage& call : notifications.calls()) {
      if (call.member() == "Notify") {
        all.push_back(postOf(call));
      }
    }
    return all;
  }

  void invoke(uint id, const QString& action) {
    QDBusMessage signal = QDBusMessage::createSignal(
        "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked");
    signal << id << action;
    desktop.send(signal);
  }

  static inline int serial = 0;
  test::PrivateBus bus;
  QDBusConnection desktop{QString()};
  std::atomic<uint> nextId{1};
  QStringList capabilities{"body", "actions"};
  RecordingService notifications{[this](const QDBusMessage& call) {
    if (call.member() == "GetCapabilities") {
      return QVariantList{QVariant::fromValue(capabilities)};
    }
    return QVariantList{QVariant::fromValue(nextId++)};
  }};
  RecordingService fileManager;
  std::vector<std::string> lines;
  std::unique_ptr<DesktopNotifier> notifier;
};

TEST_F(DesktopNotifierTest, EachKindOfPostCarriesItsTextsActionsAndHints) {
  notifier->update("Vesk 2.1 is installed", "It's running now.");
  notifier->failed("Couldn't open Report", std::string("/data/Report.pdf"), "No app opens it");
  notifier->failed("Couldn't clear the clipboard history", std::nullopt, "The disk is full");
  notifier->saved("/home/ana/Pictures/Clip 3.png");
  ASSERT_TRUE(pumpUntil([&] { return posts().size() == 4; }));

  const std::vector<Post> all = posts();
  const QStringList fileActions{"default", "Show in File Manager"};
  for (const Post& post : all) {
    EXPECT_EQ(post.appName, "Vesk");
    EXPECT_EQ(post.icon, "vesk");
    EXPECT_EQ(post.replaces, 0U);
    EXPECT_EQ(post.timeout, -1);
    EXPECT_EQ(post.hints, (QVariantMap{{"desktop-entry", "vesk"}}));
  }
  EXPECT_EQ(all[0].title, "Vesk 2.1 is installed");
  EXPECT_EQ(all[0].body, "It's running now.");
  EXPECT_TRUE(all[0].actions.isEmpty());
  EXPECT_EQ(all[1].title, "Couldn't open Report");
  EXPECT_EQ(all[1].body, "No app opens it");
  EXPECT_EQ(all[1].actions, fileActions);
  EXPECT_EQ(all[2].body, "The disk is full");
  EXPECT_TRUE(all[2].actions.isEmpty());
  // The folder's name only, not its path.
  EXPECT_EQ(all[3].title, "Saved to Pictures");
  EXPECT_EQ(all[3].body, "Clip 3.png");
  EXPECT_EQ(all[3].actions, fileActions);
  EXPECT_TRUE(lines.empty());
}

TEST_F(DesktopNotifierTest, ClickOnANotificationAboutAFileRevealsIt) {
  notifier->update("Vesk is up to date", "");
  notifier->saved("/home/ana/Pictures/Clip 3.png");
  ASSERT_TRUE(pumpUntil([&] { return posts().size() == 2; }));
  // Ids of other applications' notifications and clicks on one without a file reveal nothing.
  invoke(1, "default");
  invoke(77, "default");
  invoke(2, "default");
  // Signals are handled in the order sent: once the last one reached the file manager, the
  // earlier ones had their turn.
  ASSERT_TRUE(pumpUntil([&] { return !fileManager.calls().empty(); }));

  const std::vector<QDBusMessage> shown = fileManager.calls();
  ASSERT_EQ(shown.size(), 1U);
  EXPECT_EQ(shown[0].member(), "ShowItems");
  EXPECT_EQ(shown[0].arguments().value(0).toStringList(),
            QStringList{"file:///home/ana/Pictures/Clip%203.png"});
}

TEST_F(DesktopNotifierTest, ZipPostsTheArchiveOrWhyItFailed) {
  test::TempFolder folder;
  test::writeFile(folder / "Report/notes.txt", "notes");
  notifier->zip(folder / "Report");
  notifier->zip(folder / "Missing");
  ASSERT_TRUE(pumpUntil([&] { return posts().size() == 2; }));

  std::vector<Post> all = posts();
  if (all[0].title != "Zipped") {
    std::swap(all[0], all[1]);
  }
  EXPECT_EQ(all[0].title, "Zipped");
  EXPECT_EQ(all[0].body, "Report.zip");
  EXPECT_EQ(all[0].actions, (QStringList{"default", "Show in File Manager"}));
  EXPECT_TRUE(std::filesystem::exists(folder / "Report.zip"));
  EXPECT_EQ(all[1].title, "Couldn't zip Missing");
  EXPECT_EQ(all[1].body.toStdString(),
            "Couldn't read " + (folder / "Missing") + ": No such file or directory");
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0], "Couldn't zip " + (folder / "Missing") + ": " + all[1].body.toStdString());
}

// A file named like markup is shown as its name, whether or not the service reads markup.
TEST_F(DesktopNotifierTest, TextsAreEscapedExactlyWhenTheServiceReadsMarkup) {
  test::TempFolder folder;
  const std::string name = "<u>Qmarkup &amp; co";
  test::writeFile(folder / (name + "/notes.txt"), "notes");
  capabilities = {"body", "body-markup", "actions"};
  notifier->zip(folder / name);
  ASSERT_TRUE(pumpUntil([&] { return posts().size() == 1; }));
  capabilities = {"body", "actions"};
  notifier->failed("Couldn't open <b>", std::nullopt, "a & b");
  ASSERT_TRUE(pumpUntil([&] { return posts().size() == 2; }));
  capabilities = {"body-markup"};
  notifier->failed("Couldn't open <b>", std::nullopt, "a & b");
  ASSERT_TRUE(pumpUntil([&] { return posts().size() == 3; }));

  const std::vector<Post> all = posts();
  EXPECT_EQ(all[0].title, "Zipped");
  EXPECT_EQ(all[0].body, "&lt;u&gt;Qmarkup &amp;amp; co.zip");
  EXPECT_EQ(all[1].title, "Couldn't open <b>");
  EXPECT_EQ(all[1].body, "a & b");
  EXPECT_EQ(all[2].title, "Couldn't open &lt;b&gt;");
  EXPECT_EQ(all[2].body, "a &amp; b");
}

// A file manager that takes its time (started cold by the bus) answers after the reveal gave
// up waiting: it shows the file itself, so no folder window is opened besides, and the reveal
// is no failure. With no file manager at all, the folder is opened instead; the tests' desktop
// has no app for folders, so that fails.
TEST(DBusFileManager, ASlowFileManagerIsOneWindowAndNoFailure) {
  test::PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  const std::string file = "/data/Report.pdf";
  EXPECT_FALSE(DBusFileManager(bus.address()).reveal({file}));

  class Silent final : public QDBusVirtualObject {
   public:
    bool handleMessage(const QDBusMessage& /*message*/,
                       const QDBusConnection& /*connection*/) override {
      ++calls;
      return true;  // and never answers
    }
    QString introspect(const QString& /*path*/) const override { return {}; }
    std::atomic<int> calls{0};
  } silent;
  QDBusConnection desktop = bus.connect("slow-desktop");
  ASSERT_TRUE(desktop.interface()->registerService("org.freedesktop.FileManager1"));
  ASSERT_TRUE(desktop.registerVirtualObject("/org/freedesktop/FileManager1", &silent));
  EXPECT_TRUE(DBusFileManager(bus.address()).reveal({file}));
  EXPECT_TRUE(pumpUntil([&] { return silent.calls == 1; }));
  desktop.unregisterObject("/org/freedesktop/FileManager1");
}

// Takes every call and never answers it, as a hung service does.
class SilentService final : public QDBusVirtualObject {
 public:
  bool handleMessage(const QDBusMessage& /*message*/, const QDBusConnection& /*bus*/) override {
    ++calls;
    return true;
  }
  QString introspect(const QString& /*path*/) const override { return {}; }
  std::atomic<int> calls{0};
};

// A post nobody shows is a log line and Vesk's own message, whose click does what the
// notification's would: with no service on the bus, with one that doesn't answer, and with no
// bus at all.
TEST(DesktopNotifier, WithoutANotificationServiceEachPostIsALogLineAndShownByVesk) {
  test::PrivateBus bus;
  ASSERT_TRUE(bus.ok());
  QDBusConnection desktop = bus.connect("desktop-files");
  RecordingService fileManager;
  ASSERT_TRUE(desktop.interface()->registerService("org.freedesktop.FileManager1"));
  ASSERT_TRUE(desktop.registerVirtualObject("/org/freedesktop/FileManager1", &fileManager));
  struct Shown {
    std::string title;
    std::string body;
    std::function<void()> clicked;
  };
  std::vector<std::string> lines;
  std::vector<Shown> shown;
  const auto wire = [&](DesktopNotifier& notifier) {
    notifier.showOwn = [&](const std::string& title, const std::string& body,
                           std::function<void()> clicked) {
      shown.push_back({title, body, std::move(clicked)});
    };
  };
  DesktopNotifier notifier(test::testExecutor(), bus.connect("vesk-alone"),
                           std::make_shared<DBusFileManager>(bus.address()),
                           [&](const std::string& line) { lines.push_back(line); });
  wire(notifier);
  notifier.failed("Couldn't open Report", std::string("/data/Report.pdf"), "No app opens it");
  ASSERT_TRUE(pumpUntil([&] { return !lines.empty(); }));
  test::pumpFor(std::chrono::milliseconds(100));
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_EQ(lines[0].rfind("Couldn't show the notification \"Couldn't open Report\": ", 0), 0U)
      << lines[0];
  ASSERT_EQ(shown.size(), 1U);
  EXPECT_EQ(shown[0].title, "Couldn't open Report");
  EXPECT_EQ(shown[0].body, "No app opens it");
  ASSERT_TRUE(shown[0].clicked);
  shown[0].clicked();
  ASSERT_TRUE(pumpUntil([&] { return !fileManager.calls().empty(); }));
  EXPECT_EQ(fileManager.calls()[0].arguments().value(0).toStringList(),
            QStringList{"file:///data/Report.pdf"});

  // A service that takes the call and never answers is given a second.
  SilentService silent;
  ASSERT_TRUE(desktop.interface()->registerService("org.freedesktop.Notifications"));
  ASSERT_TRUE(desktop.registerVirtualObject("/org/freedesktop/Notifications", &silent));
  notifier.update("Vesk is up to date", "Version 2.1");
  ASSERT_TRUE(pumpUntil([&] { return shown.size() == 2; }));
  EXPECT_EQ(silent.calls, 1);
  EXPECT_EQ(shown[1].title, "Vesk is up to date");
  EXPECT_FALSE(shown[1].clicked) << "a post about no file does nothing when clicked";
  EXPECT_EQ(lines.size(), 2U);

  // No bus at all.
  DesktopNotifier unconnected(test::testExecutor(), QDBusConnection(QStringLiteral("no-such-bus")),
                              nullptr, [&](const std::string& line) { lines.push_back(line); });
  wire(unconnected);
  unconnected.saved("/data/Report.pdf");
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[2], "Couldn't show the notification \"Saved to data\": no session bus");
  ASSERT_EQ(shown.size(), 3U);
  EXPECT_EQ(shown[2].body, "Report.pdf");
}

}  // namespace
}  // namespace vesk
