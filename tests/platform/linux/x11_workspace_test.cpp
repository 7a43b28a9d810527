#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/linux/ewmh_active_window.h"
#include "platform/linux/ewmh_workspace.h"
#include "platform/linux/xcb_connection.h"
#include "tests/core/clipboard/clip_test_folder.h"
#include "tests/platform/linux/qt_pump.h"
#include "tests/platform/linux/test_window.h"
#include "tests/platform/linux/xvfb.h"

namespace vesk {
namespace {

using test::pumpUntil;
using test::TestWindow;

// Desktop entries of this process's tests, in a data folder of their own; set before GIO
// reads any.
std::string prepareDesktopEntries() {
  static const std::string folder = [] {
    static const test::TemporaryFolder data;  // of this process: tests run side by side
    const std::string home = data.path();
    std::filesystem::create_directories(home + "/applications");
    std::ofstream(home + "/applications/org.example.Tool.desktop")
        << "[Desktop Entry]\nType=Application\nName=Example Tool\nExec=/bin/true\n";
    std::ofstream(home + "/applications/painter.desktop")
        << "[Desktop Entry]\nType=Application\nName=Painter\nExec=/bin/false\n"
           "StartupWMClass=PaintWindow\n";
    // Apps whose program is this test's own, which the window processes below run.
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    for (const std::string name : {"Solo", "Writer", "Calc"}) {
      std::ofstream(home + "/applications/" + name + ".desktop")
          << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=" << self
          << "\nStartupWMClass=" << name << "\n";
    }
    std::ofstream(home + "/applications/Stranger.desktop")
        << "[Desktop Entry]\nType=Application\nName=Stranger\nExec=/bin/true\n"
           "StartupWMClass=Stranger\n";
    ::setenv("XDG_DATA_HOME", home.c_str(), 1);              // NOLINT(concurrency-mt-unsafe)
    ::setenv("XDG_DATA_DIRS", (home + "/none").c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    return std::filesystem::canonical(home + "/applications").string();
  }();
  return folder;
}

std::unique_ptr<EwmhWorkspace> openWorkspace() {
  test::qtApp();
  prepareDesktopEntries();
  test::resetRootProperties();
  auto opened = EwmhWorkspace::open("");
  return opened ? std::move(opened).value() : nullptr;
}

// A process of its own (this program, forked) with one X connection and window for each class,
// whose windows claim `claimedPid` (its own pid when 0). It runs until it is signalled.
class WindowProcess {
 public:
  explicit WindowProcess(const std::vector<std::string>& classes, pid_t claimedPid = 0) {
    int ids[2] = {-1, -1};
    EXPECT_EQ(::pipe2(ids, O_CLOEXEC), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::close(ids[0]);
      std::vector<std::unique_ptr<TestWindow>> windows;
      const auto pid = static_cast<uint32_t>(claimedPid != 0 ? claimedPid : ::getpid());
      for (const std::string& name : classes) {
        auto& window = windows.emplace_back(std::make_unique<TestWindow>(name, name));
        window->setCardinals(window->id(), "_NET_WM_PID", XCB_ATOM_CARDINAL, {pid});
        const xcb_window_t id = window->id();
        (void)!::write(ids[1], &id, sizeof id);
      }
      ::close(ids[1]);
      for (;;) {
        ::pause();
      }
    }
    ::close(ids[1]);
    xcb_window_t id = 0;
    while (windows.size() < classes.size() && ::read(ids[0], &id, sizeof id) == sizeof id) {
      windows.push_back(id);
    }
    ::close(ids[0]);
    EXPECT_EQ(windows.size(), classes.size());
  }
  ~WindowProcess() {
    if (pid_ > 0) {
      endSignal();
    }
  }
  WindowProcess(const WindowProcess&) = delete;
  WindowProcess& operator=(const WindowProcess&) = delete;

  pid_t pid() const { return pid_; }

  // The signal the process ended with: SIGTERM, sent now, when nothing signalled it before.
  int endSignal() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    const pid_t ended = ::waitpid(pid_, &status, 0);
    pid_ = 0;
    return ended > 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }

  std::vector<xcb_window_t> windows;

 private:
  pid_t pid_ = 0;
};

TEST(EwmhWorkspace, ForceQuitKillsOnlyAProcessThatIsTheAppAloneAndQuitNeverSignals) {
  VESK_REQUIRE_XVFB();
  auto workspace = openWorkspace();
  ASSERT_TRUE(workspace);
  TestWindow desktop("desktop", "Desktop");
  const auto app = [&](const std::vector<xcb_window_t>& list, const std::string& id) {
    std::vector<uint32_t> listed(list.begin(), list.end());
    desktop.setCardinals(desktop.root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, listed);
    for (const RunningApp& running : workspace->runningApplications()) {
      if (running.bundleIdentifier == id) {
        return running;
      }
    }
    ADD_FAILURE() << id << " isn't running";
    return RunningApp{};
  };
  // A window is gone once the workspace's own requests before this one are done.
  const auto exists = [&](xcb_window_t window) { return workspace->activateWindow(window); };

  {
    SCOPED_TRACE("the app alone in its process");
    WindowProcess solo({"Solo"});
    EXPECT_EQ(workspace->forceQuit(app(solo.windows, "Solo")), Workspace::ForceQuit::killed);
    EXPECT_EQ(solo.endSignal(), SIGKILL);
  }
  {
    SCOPED_TRACE("a window claiming another process's pid");
    WindowProcess bystander({});
    WindowProcess impostor({"Solo"}, bystander.pid());
    EXPECT_EQ(workspace->forceQuit(app(impostor.windows, "Solo")),
              Workspace::ForceQuit::windowsClosed);
    EXPECT_FALSE(exists(impostor.windows[0]));
    EXPECT_EQ(bystander.endSignal(), SIGTERM);
  }
  {
    SCOPED_TRACE("quit, of a window that takes no close request");
    WindowProcess solo({"Solo"});
    EXPECT_FALSE(workspace->quit(app(solo.windows, "Solo")));
    EXPECT_EQ(solo.endSignal(), SIGTERM);
  }
}

TEST(EwmhWorkspace, FrontmostWithoutWindowManagerIsTheFocusedWindowsClass) {
  VESK_REQUIRE_XVFB();
  auto workspace = openWorkspace();
  ASSERT_TRUE(workspace);
  TestWindow window("vesktest", "VeskTest");
  window.focus();

  const auto front = workspace->frontmostApplication();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->bundleIdentifier, "VeskTest");
  EXPECT_EQ(front->entryPath, "");
  EXPECT_FALSE(front->isRegular());
  EXPECT_EQ(front->windows, std::vector<WindowId>{window.id()});
  EXPECT_EQ(front->pid, ::getppid());
  EXPECT_GT(front->launchDate, 1.6e9);
  // No window manager, no client list: nothing counts as running.
  EXPECT_TRUE(workspace->runningApplications().empty());
}

TEST(EwmhWorkspace, DesktopEntryIsFoundFromTheApplicationIdOrTheWindowClass) {
  VESK_REQUIRE_XVFB();
  auto workspace = openWorkspace();
  ASSERT_TRUE(workspace);
  const std::string folder = prepareDesktopEntries();
  TestWindow tool("tool", "Tool");
  tool.setText("_GTK_APPLICATION_ID", "org.example.Tool");
  TestWindow painter("painter-bin", "PaintWindow");
  tool.publishActive(tool.id());

  auto front = workspace->frontmostApplication();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->bundleIdentifier, "org.example.Tool");
  EXPECT_EQ(front->entryPath, folder + "/org.example.Tool.desktop");
  EXPECT_EQ(front->name, "Example Tool");

  tool.publishActive(painter.id());
  front = workspace->frontmostApplication();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->bundleIdentifier, "painter");
  EXPECT_EQ(front->name, "Painter");
}

TEST(EwmhWorkspace, ClientListGivesRegularAppsMostRecentlyUsedFirstWithNotifications) {
  VESK_REQUIRE_XVFB();
  auto workspace = openWorkspace();
  ASSERT_TRUE(workspace);
  TestWindow tool("tool", "Tool");
  tool.setText("_GTK_APPLICATION_ID", "org.example.Tool");
  TestWindow painter("painter", "PaintWindow");
  TestWindow hidden("hidden", "Hidden");
  hidden.setCardinals(hidden.id(), "_NET_WM_STATE", XCB_ATOM_ATOM,
                      {hidden.atom("_NET_WM_STATE_SKIP_TASKBAR")});

  std::vector<std::string> events;
  Workspace::Observers observers;
  observers.didActivate = [&](const std::optional<RunningApp>& app) {
    events.push_back("activate " + (app ? app->bundleIdentifier : "none"));
  };
  observers.didLaunch = [&](const RunningApp& app) {
    events.push_back("launch " + app.bundleIdentifier);
  };
  observers.didTerminate = [&](const RunningApp& app) {
    events.push_back("terminate " + app.bundleIdentifier);
  };
  workspace->setObservers(observers);

  // Stacking bottom to top: painter, tool, hidden.
  tool.setCardinals(tool.root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW,
                    {painter.id(), tool.id(), hidden.id()});
  ASSERT_TRUE(pumpUntil([&] { return events.size() >= 2; }));
  EXPECT_EQ(events, (std::vector<std::string>{"launch org.example.Tool", "launch painter"}));

  auto running = workspace->runningApplications();
  ASSERT_EQ(running.size(), 2U);
  EXPECT_EQ(running[0].bundleIdentifier, "org.example.Tool");  // on top
  EXPECT_TRUE(running[0].isRegular());

  events.clear();
  tool.publishActive(painter.id());
  ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
  EXPECT_EQ(events, std::vector<std::string>{"activate painter"});
  running = workspace->runningApplications();
  ASSERT_EQ(running.size(), 2U);
  EXPECT_EQ(running[0].bundleIdentifier, "painter");
  EXPECT_EQ(running[0].windows, std::vector<WindowId>{painter.id()});

  events.clear();
  tool.setCardinals(tool.root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, {tool.id()});
  ASSERT_TRUE(pumpUntil([&] { return !events.empty(); }));
  EXPECT_EQ(events, std::vector<std::string>{"terminate painter"});
}

TEST(EwmhWorkspace, OwnPanelTakingTheFocusLeavesTheFrontmostApplication) {
  VESK_REQUIRE_XVFB();
  auto workspace = openWorkspace();
  ASSERT_TRUE(workspace);
  TestWindow editor("editor", "Editor");
  TestWindow panel("vesk", "Vesk");
  panel.setCardinals(panel.id(), "_NET_WM_PID", XCB_ATOM_CARDINAL,
                     {static_cast<uint32_t>(::getpid())});
  std::vector<std::string> activated;
  Workspace::Observers observers;
  observers.didActivate = [&](const std::optional<RunningApp>& app) {
    activated.push_back(app ? app->bundleIdentifier : "none");
  };
  workspace->setObservers(observers);

  editor.publishActive(editor.id());
  ASSERT_TRUE(pumpUntil([&] { return !activated.empty(); }));
  editor.publishActive(panel.id());
  pumpUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(activated, std::vector<std::string>{"Editor"});
  EXPECT_EQ(workspace->activeWindow(), panel.id());
  const auto front = workspace->frontmostApplication();
  ASSERT_TRUE(front);
  EXPECT_EQ(front->bundleIdentifier, "Editor");
}

TEST(EwmhWorkspace, QuitAsksEachWindowToClose) {
  VESK_REQUIRE_XVFB();
  auto workspace = openWorkspace();
  ASSERT_TRUE(workspace);
  TestWindow window("closable", "Closable");
  window.setCardinals(window.id(), "WM_PROTOCOLS", XCB_ATOM_ATOM,
                      {window.atom("WM_DELETE_WINDOW")});
  window.setCardinals(window.root(), "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, {window.id()});
  window.publishActive(window.id());
  const auto front = workspace->frontmostApplication();
  ASSERT_TRUE(front);

  ASSERT_TRUE(workspace->quit(*front));
  const XcbEvent message = window.next(XCB_CLIENT_MESSAGE);
  ASSERT_TRUE(message);
  const auto* event = reinterpret_cast<const xcb_client_message_event_t*>(message.get());
  EXPECT_EQ(event->type, window.atom("WM_PROTOCOLS"));
  EXPECT_EQ(event->data.data32[0], window.atom("WM_DELETE_WINDOW"));
}

// What the window manager publishes decides, the root and None meaning no active window even
// while a window has the input focus; only without the property does the focus tell, where the
// root means none too.
TEST(EwmhActiveWindow, RootOrNoneMeansNoActiveWindow) {
  VESK_REQUIRE_XVFB();
  test::resetRootProperties();
  auto opened = XcbConnection::open("");
  ASSERT_TRUE(opened.ok());
  XcbConnection& connection = *opened.value();
  TestWindow window;
  window.focus();
  EXPECT_EQ(EwmhActiveWindow::current(connection), window.id());

  window.publishActive(window.root());
  EXPECT_EQ(EwmhActiveWindow::current(connection), 0U);
  window.publishActive(XCB_NONE);
  EXPECT_EQ(EwmhActiveWindow::current(connection), 0U);
  window.publishActive(window.id());
  EXPECT_EQ(EwmhActiveWindow::current(connection), window.id());

  window.deleteRootProperty("_NET_ACTIVE_WINDOW");
  xcb_set_input_focus(connection.get(), XCB_INPUT_FOCUS_POINTER_ROOT, connection.root(),
                      XCB_CURRENT_TIME);
  EXPECT_EQ(EwmhActiveWindow::current(connection), 0U);
}

TEST(EwmhWorkspace, ActivatingWithoutWindowManagerFocusesTheWindow) {
  VESK_REQUIRE_XVFB();
  auto workspace = openWorkspace();
  ASSERT_TRUE(workspace);
  TestWindow first("first", "First");
  TestWindow second("second", "Second");
  first.focus();
  ASSERT_TRUE(workspace->activateWindow(second.id()));
  EXPECT_TRUE(pumpUntil([&] { return workspace->activeWindow() == second.id(); }));
  EXPECT_FALSE(workspace->activateWindow(0));
  EXPECT_FALSE(workspace->activateWindow(0x7fffff));  // no such window
}

}  // namespace
}  // namespace vesk
