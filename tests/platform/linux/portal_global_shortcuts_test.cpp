// The desktop's global shortcuts through the real xdg-desktop-portal frontend, on a private
// session bus, with a desktop side of the tests' own behind it (portal/global_shortcuts_backend.py,
// named by portal/vesk-test.portal): what Vesk binds reaches the desktop, the desktop's presses
// reach Vesk, and the keys the desktop assigns become Vesk's problems.

#include "platform/linux/portal_global_shortcuts.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/config/portal_hotkeys.h"
#include "tests/app/services/private_bus.h"
#include "tests/platform/linux/qt_pump.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace vesk {
namespace {

using test::pumpUntil;
using Kind = GlobalShortcuts::Outcome::Kind;

constexpr const char* kFrontend = "/usr/libexec/xdg-desktop-portal";
constexpr const char* kPython = "/usr/bin/python3";
const QString kBackendName = QStringLiteral("org.freedesktop.impl.portal.desktop.vesktest");
constexpr std::chrono::seconds kStartWait{20};

// A child process with the environment of this one plus `extra`; its output goes nowhere.
pid_t spawn(const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& extra) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string line = *entry;
    if (!extra.contains(line.substr(0, line.find('=')))) {
      environment.push_back(line);
    }
  }
  for (const auto& [name, value] : extra) {
    environment.push_back(name + "=" + value);
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& line : environment) {
    envp.push_back(line.data());
  }
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

void stop(pid_t pid) {
  if (pid > 0) {
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
}

// A desktop on a private session bus: the real portal frontend, and, when asked for, the tests'
// global shortcuts behind it, steered through its control object.
class PortalDesktop {
 public:
  explicit PortalDesktop(bool withShortcuts) {
    if (::access(kFrontend, X_OK) != 0) {
      problem_ = "xdg-desktop-portal isn't installed (scripts/install-deps installs it)";
      return;
    }
    if (!bus_.ok()) {
      problem_ = "dbus-daemon couldn't start a private bus";
      return;
    }
    // Qt keeps connections by name: each desktop's is its own.
    static int serial = 0;
    control_ = bus_.connect(QStringLiteral("desktop-control-%1").arg(++serial));
    const std::map<std::string, std::string> session{{"DBUS_SESSION_BUS_ADDRESS", bus_.address()}};
    std::string portals = VESK_PORTAL_TEST_DIR;
    if (withShortcuts) {
      backend_ = spawn({kPython, VESK_PORTAL_TEST_DIR "/global_shortcuts_backend.py"}, session);
      if (!ownerAppears(kBackendName)) {
        problem_ = "the tests' desktop didn't start (python3-dbus and python3-gi installed?)";
        return;
      }
    } else {
      std::string pattern =
          (std::filesystem::temp_directory_path() / "vesk-no-portals-XXXXXX").string();
      empty_ = ::mkdtemp(pattern.data());
      portals = empty_;
    }
    frontend_ = spawn({kFrontend}, {{"DBUS_SESSION_BUS_ADDRESS", bus_.address()},
                                    {"XDG_DESKTOP_PORTAL_DIR", portals},
                                    {"XDG_CURRENT_DESKTOP", "vesktest"}});
    if (!ownerAppears(QStringLiteral("org.freedesktop.portal.Desktop"))) {
      problem_ = "xdg-desktop-portal didn't start on the private bus";
    }
  }
  ~PortalDesktop() {
    stop(frontend_);
    stop(backend_);
    if (!empty_.empty()) {
      std::filesystem::remove_all(empty_);
    }
  }
  PortalDesktop(const PortalDesktop&) = delete;
  PortalDesktop& operator=(const PortalDesktop&) = delete;

  // Why the desktop couldn't be set up; empty when it runs.
  const std::string& problem() const { return problem_; }
  QDBusConnection connect(const QString& name) const { return bus_.connect(name); }

  // Every call the desktop's side received, oldest first.
  QJsonArray calls() {
    const QDBusReply<QString> reply = control(QStringLiteral("Calls"), {});
    return QJsonDocument::fromJson(reply.value().toUtf8()).array();
  }
  std::vector<QJsonObject> calls(const QString& method) {
    std::vector<QJsonObject> found;
    for (const QJsonValue& call : calls()) {
      if (call[QStringLiteral("method")].toString() == method) {
        found.push_back(call.toObject());
      }
    }
    return found;
  }
  // The key the desktop's settings give `id` from now on ("" for none).
  void assign(const QString& id, const QString& trigger) {
    control(QStringLiteral("Assign"), {id, trigger});
  }
  // The user presses `id`'s key.
  void press(const QString& id) { control(QStringLiteral("Activate"), {id}); }

 private:
  bool ownerAppears(const QString& name) {
    return pumpUntil([&] { return control_.interface()->isServiceRegistered(name).value(); },
                     kStartWait);
  }
  QDBusMessage control(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kBackendName, QStringLiteral("/org/vesk/test"),
                                       QStringLiteral("org.vesk.test.Desktop"), method);
    call.setArguments(arguments);
    return control_.call(call);
  }

  test::PrivateBus bus_;
  QDBusConnection control_{QString()};
  pid_t backend_ = 0;
  pid_t frontend_ = 0;
  std::string empty_;
  std::string problem_;
};

QJsonArray shortcut(const char* id, const char* description, const char* trigger) {
  return {QString::fromUtf8(id),
          QJsonObject{{"description", description}, {"preferred_trigger", trigger}}};
}

TEST(PortalGlobalShortcuts, BindsTheKeysHearsPressesAndRebindsInANewSession) {
  test::qtApp();
  PortalDesktop desktop(true);
  if (!desktop.problem().empty()) {
    GTEST_SKIP() << desktop.problem();
  }
  PortalGlobalShortcuts shortcuts(desktop.connect(QStringLiteral("vesk-1")), {}, "vesk");
  std::vector<std::string> pressed;
  shortcuts.setActivationHandler([&](const std::string& id, double at) {
    EXPECT_GT(at, 0.0);
    pressed.push_back(id);
  });
  std::optional<GlobalShortcuts::Outcome> outcome;
  const auto done = [&](const GlobalShortcuts::Outcome& answer) { outcome = answer; };

  shortcuts.bind({{"launcher", "Open the launcher", "CTRL+ALT+space"},
                  {"clipboard", "Show the clipboard history", "SHIFT+LOGO+v"}},
                 done);
  ASSERT_TRUE(pumpUntil([&] { return outcome.has_value(); }, kStartWait));
  ASSERT_EQ(outcome->kind, Kind::bound) << outcome->reason;
  EXPECT_EQ(shortcuts.isAvailable(), std::optional<bool>(true));
  ASSERT_EQ(outcome->assigned.size(), 2U);
  EXPECT_EQ(outcome->assigned[0].id, "launcher");
  EXPECT_EQ(outcome->assigned[0].trigger, "CTRL+ALT+space");
  std::vector<QJsonObject> binds = desktop.calls(QStringLiteral("BindShortcuts"));
  ASSERT_EQ(binds.size(), 1U);
  const QString first = binds[0]["session"].toString();
  EXPECT_EQ(binds[0]["shortcuts"].toArray(),
            (QJsonArray{shortcut("launcher", "Open the launcher", "CTRL+ALT+space"),
                        shortcut("clipboard", "Show the clipboard history", "SHIFT+LOGO+v")}));

  desktop.press(QStringLiteral("clipboard"));
  ASSERT_TRUE(pumpUntil([&] { return !pressed.empty(); }));
  EXPECT_EQ(pressed, std::vector<std::string>{"clipboard"});

  // A session binds once: a new set closes it and binds in a new one.
  outcome.reset();
  shortcuts.bind({{"launcher", "Open the launcher", "LOGO+space"}}, done);
  ASSERT_TRUE(pumpUntil([&] { return outcome.has_value(); }, kStartWait));
  ASSERT_EQ(outcome->kind, Kind::bound) << outcome->reason;
  ASSERT_TRUE(pumpUntil([&] { return !desktop.calls(QStringLiteral("Close")).empty(); }));
  EXPECT_EQ(desktop.calls(QStringLiteral("Close"))[0]["session"].toString(), first);
  binds = desktop.calls(QStringLiteral("BindShortcuts"));
  ASSERT_EQ(binds.size(), 2U);
  EXPECT_NE(binds[1]["session"].toString(), first);
  EXPECT_EQ(binds[1]["shortcuts"].toArray(),
            QJsonArray{shortcut("launcher", "Open the launcher", "LOGO+space")});

  desktop.press(QStringLiteral("launcher"));
  ASSERT_TRUE(pumpUntil([&] { return pressed.size() == 2; }));
  EXPECT_EQ(pressed.back(), "launcher");
}

std::vector<GlobalHotkeys::Entry> entries(std::vector<std::string>& ran, const char* launcher,
                                          const char* clipboard, const char* pasteNext) {
  const auto hotkey = [](const char* text) {
    return *text == '\0' ? std::nullopt : Shortcut::parse(text);
  };
  return {{"launcher", hotkey(launcher), [&ran](double) { ran.emplace_back("launcher"); }},
          {"clipboard", hotkey(clipboard), [&ran](double) { ran.emplace_back("clipboard"); }},
          {"paste_next", hotkey(pasteNext), [&ran](double) { ran.emplace_back("paste_next"); }}};
}

TEST(PortalHotkeys, KeysTheDesktopGaveOtherwiseAreProblemsAndItsPressesRunTheSlot) {
  test::qtApp();
  PortalDesktop desktop(true);
  if (!desktop.problem().empty()) {
    GTEST_SKIP() << desktop.problem();
  }
  desktop.assign(QStringLiteral("launcher"), QStringLiteral("Meta+Space"));
  PortalGlobalShortcuts shortcuts(desktop.connect(QStringLiteral("vesk-2")));
  int published = 0;
  PortalHotkeys hotkeys(shortcuts, [&] { ++published; });
  std::vector<std::string> ran;

  hotkeys.apply(entries(ran, "ctrl+alt+space", "super+shift+v", ""));
  ASSERT_TRUE(pumpUntil([&] { return published == 1; }, kStartWait));
  EXPECT_EQ(
      hotkeys.problems(),
      std::vector<std::string>{
          "hotkeys.launcher \"ctrl+alt+space\" is \"super+space\" in your desktop's settings"});
  // The slot that is off isn't bound.
  EXPECT_EQ(desktop.calls(QStringLiteral("BindShortcuts"))[0]["shortcuts"].toArray(),
            (QJsonArray{shortcut("launcher", "Open the launcher", "CTRL+ALT+space"),
                        shortcut("clipboard", "Show the clipboard history", "SHIFT+LOGO+v")}));
  desktop.press(QStringLiteral("clipboard"));
  ASSERT_TRUE(pumpUntil([&] { return !ran.empty(); }));
  EXPECT_EQ(ran, std::vector<std::string>{"clipboard"});

  // The same keys again bind nothing; a changed one binds all in a new session.
  hotkeys.apply(entries(ran, "ctrl+alt+space", "super+shift+v", ""));
  desktop.assign(QStringLiteral("launcher"), QString());
  hotkeys.apply(entries(ran, "ctrl+alt+space", "super+shift+v", "ctrl+alt+v"));
  ASSERT_TRUE(pumpUntil([&] { return published == 2; }, kStartWait));
  EXPECT_EQ(hotkeys.problems(),
            std::vector<std::string>{
                "hotkeys.launcher \"ctrl+alt+space\" has no key in your desktop's settings"});
  EXPECT_EQ(desktop.calls(QStringLiteral("CreateSession")).size(), 2U);
  EXPECT_EQ(desktop.calls(QStringLiteral("BindShortcuts"))[1]["shortcuts"].toArray().size(), 3);
}

TEST(PortalHotkeys, WithoutTheDesktopsShortcutsOneProblemNamesTheCommandsToBind) {
  test::qtApp();
  PortalDesktop desktop(false);
  if (!desktop.problem().empty()) {
    GTEST_SKIP() << desktop.problem();
  }
  PortalGlobalShortcuts shortcuts(desktop.connect(QStringLiteral("vesk-3")));
  int published = 0;
  PortalHotkeys hotkeys(shortcuts, [&] { ++published; });
  std::vector<std::string> ran;

  hotkeys.apply(entries(ran, "ctrl+alt+space", "super+shift+v", "ctrl+alt+v"));
  ASSERT_TRUE(pumpUntil([&] { return published == 1; }, kStartWait));
  EXPECT_EQ(hotkeys.problems(),
            std::vector<std::string>{
                "Hot keys only reach X11 apps in this Wayland session (the desktop's portal offers "
                "no global shortcuts): bind \"ctrl+alt+space\" to \"vesk --launcher\", "
                "\"shift+super+v\" to \"vesk --clipboard\" and \"ctrl+alt+v\" to "
                "\"vesk --paste-next\" in your desktop's keyboard settings"});
  EXPECT_EQ(shortcuts.isAvailable(), std::optional<bool>(false));
}

}  // namespace
}  // namespace vesk
