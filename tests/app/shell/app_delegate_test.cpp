// The application object wired to fakes of the desktop services, with a real configuration
// file, real clipboard store and real application folders in a temporary home.

#include "app/shell/app_delegate.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "app/clipboard/clipboard_history.h"
#include "app/clipboard/clipboard_recorder.h"
#include "app/config/config_store.h"
#include "app/config/global_hotkeys.h"
#include "app/launcher/launcher_controller.h"
#include "core/clipboard/clipboard_store.h"
#include "platform/linux/gio_app_catalog.h"
#include "platform/linux/qt_image_codec.h"
#include "tests/app/app_test_support.h"
#include "tests/fakes/fake_global_shortcuts.h"
#include "tests/fakes/fake_hot_key_service.h"
#include "tests/fakes/fake_key_layout.h"
#include "tests/fakes/fake_key_synthesizer.h"
#include "tests/fakes/fake_notifier.h"
#include "tests/fakes/fake_pasteboard.h"
#include "tests/fakes/fake_pasteboard_writer.h"
#include "tests/fakes/fake_session_events.h"
#include "tests/fakes/fake_workspace.h"

namespace vesk {
namespace {

using Grab = FakeHotKeyService::Grab;
using test::pumpUntil;

class AppDelegateTest : public testing::Test {
 protected:
  AppDelegateTest() {
    layout->characters = {{"p", 33}, {"v", 55}, {"k", 45}};
    layout->virtualKeys = {{49, 65}};  // space
    keys->setTrusted(true);
    paths.home = folder.path();
    paths.configFile = folder / "config/vesk/config.toml";
    paths.historyFile = folder / "data/vesk/history.json";
    paths.clipboardFolder = folder / "data/vesk/clipboard";
    paths.applicationRoots = {folder / "applications"};
    std::filesystem::create_directories(folder / "applications");
  }

  void start() {
    AppServices services;
    services.pasteboard = pasteboard;
    services.pasteboardWriter = writer;
    services.imageCodec = std::make_shared<QtImageCodec>();
    services.hotKeys = hotKeys;
    services.keyLayout = layout;
    services.keySynthesizer = keys;
    services.workspace = workspace;
    services.sessionEvents = session;
    services.catalog = std::make_shared<GioAppCatalog>();
    services.notifier = notifier;
    services.globalShortcuts = desktopShortcuts;
    delegate = std::make_unique<AppDelegate>(test::testExecutor(), std::move(services), paths);
    delegate->onIndex = [this](const SearchIndex&) { ++indexes; };
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(pumpUntil([this] { return indexes > 0 && delegate->configStore().hasLoaded(); }));
    ASSERT_TRUE(pumpUntil([this] { return delegate->recorder() != nullptr; }));
  }

  void copy(const std::string& text) {
    pasteboard->copy({{{"public.utf8-plain-text", FakePasteboard::bytes(text)}}});
  }

  bool hasNotice(ClipboardNotice notice) const {
    const auto& notices = delegate->clipboardNotices();
    return std::find(notices.begin(), notices.end(), notice) != notices.end();
  }

  test::TempFolder folder;
  AppPaths paths;
  std::shared_ptr<FakePasteboard> pasteboard = std::make_shared<FakePasteboard>();
  std::shared_ptr<FakePasteboardWriter> writer = std::make_shared<FakePasteboardWriter>();
  std::shared_ptr<FakeHotKeyService> hotKeys = std::make_shared<FakeHotKeyService>();
  std::shared_ptr<FakeKeyLayout> layout = std::make_shared<FakeKeyLayout>();
  std::shared_ptr<FakeKeySynthesizer> keys = std::make_shared<FakeKeySynthesizer>();
  std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
  std::shared_ptr<FakeSessionEvents> session = std::make_shared<FakeSessionEvents>();
  std::shared_ptr<FakeNotifier> notifier = std::make_shared<FakeNotifier>();
  std::shared_ptr<FakeGlobalShortcuts> desktopShortcuts;  // none: an X11 session
  std::unique_ptr<AppDelegate> delegate;
  int indexes = 0;
};

TEST_F(AppDelegateTest, StartUpWritesTheConfigAndRegistersTheThreeHotKeys) {
  start();
  EXPECT_TRUE(std::filesystem::exists(paths.configFile));
  EXPECT_TRUE(hotKeys->isRegistered(Grab{65, Shortcut::ctrl | Shortcut::alt}));
  EXPECT_TRUE(hotKeys->isRegistered(Grab{55, Shortcut::cmd | Shortcut::shift}));
  EXPECT_TRUE(hotKeys->isRegistered(Grab{55, Shortcut::ctrl | Shortcut::alt}));

  std::vector<AppDelegate::Mode> presented;
  delegate->onPresent = [&presented](AppDelegate::Mode mode) { presented.push_back(mode); };
  hotKeys->press(Grab{65, Shortcut::ctrl | Shortcut::alt});
  delegate->applicationShouldHandleReopen();
  EXPECT_EQ(presented, (std::vector<AppDelegate::Mode>{AppDelegate::Mode::launcher,
                                                       AppDelegate::Mode::launcher}));
}

TEST_F(AppDelegateTest, TheDesktopsShortcutsRunTheHotKeysJobsAndItsOtherKeysAreProblems) {
  desktopShortcuts = std::make_shared<FakeGlobalShortcuts>();
  start();
  ASSERT_EQ(desktopShortcuts->binds.size(), 1U);
  std::vector<std::string> triggers;
  for (const GlobalShortcuts::Wanted& wanted : desktopShortcuts->binds[0].wanted) {
    triggers.push_back(wanted.id + " " + wanted.preferredTrigger);
  }
  EXPECT_EQ(triggers, (std::vector<std::string>{"launcher CTRL+ALT+space", "clipboard SHIFT+LOGO+v",
                                                "paste_next CTRL+ALT+v"}));

  desktopShortcuts->answer(
      {GlobalShortcuts::Outcome::Kind::bound,
       {{"launcher", "Ctrl+Alt+Space"}, {"clipboard", "Super+Shift+V"}, {"paste_next", ""}},
       {}});
  const auto& problems = delegate->problems();
  EXPECT_NE(std::find(problems.begin(), problems.end(),
                      "hotkeys.paste_next \"ctrl+alt+v\" has no key in your desktop's settings"),
            problems.end());
  std::vector<AppDelegate::Mode> presented;
  delegate->onPresent = [&presented](AppDelegate::Mode mode) { presented.push_back(mode); };
  desktopShortcuts->press("clipboard");
  EXPECT_EQ(presented, std::vector<AppDelegate::Mode>{AppDelegate::Mode::clipboard});
}

TEST_F(AppDelegateTest, StartsTellWhichKeysOpenVeskFirstAndLaterOnlyWhatCouldNotBeSetUp) {
  start();
  ASSERT_EQ(notifier->notices.size(), 1U);
  EXPECT_EQ(notifier->notices[0].body,
            "Ctrl+Alt+Space opens Vesk, Shift+Super+V its clipboard history");
  std::vector<AppDelegate::Mode> presented;
  delegate->onPresent = [&presented](AppDelegate::Mode mode) { presented.push_back(mode); };
  ASSERT_TRUE(notifier->notices[0].onClick);
  notifier->notices[0].onClick();
  EXPECT_EQ(presented, std::vector<AppDelegate::Mode>{AppDelegate::Mode::launcher});

  // A reload tells nothing; neither does a start with the file in place and every key free.
  test::writeFile(paths.configFile, "[hotkeys]\nlauncher = \"super+k\"\n");
  ASSERT_TRUE(pumpUntil([this] { return hotKeys->isRegistered(Grab{45, Shortcut::cmd}); }));
  delegate.reset();
  hotKeys->registered.clear();
  start();
  EXPECT_EQ(notifier->notices.size(), 1U);

  delegate.reset();
  hotKeys->registered.clear();
  hotKeys->taken.insert(Grab{45, Shortcut::cmd});
  start();
  ASSERT_EQ(notifier->notices.size(), 2U);
  EXPECT_EQ(notifier->notices[1].title, "Super+K is taken");
  EXPECT_NE(notifier->notices[1].body.find(paths.configFile), std::string::npos)
      << notifier->notices[1].body;
}

TEST_F(AppDelegateTest, StartAtLoginIsSetOnTheFirstConfigAndLaterOnlyWhenItChanges) {
  const std::string entry = folder / "config/autostart/vesk.desktop";
  paths.login = {folder / ".local/bin/vesk", folder.path(), entry};
  start();
  ASSERT_TRUE(pumpUntil([&] { return std::filesystem::exists(entry); }));

  // Another setting changes: the entry, removed by hand meanwhile, is not written again.
  std::filesystem::remove(entry);
  test::writeFile(paths.configFile, "[hotkeys]\nlauncher = \"cmd+k\"\n");
  ASSERT_TRUE(pumpUntil([this] { return hotKeys->isRegistered(Grab{45, Shortcut::cmd}); }));
  test::settle();
  EXPECT_FALSE(std::filesystem::exists(entry));

  test::writeFile(entry, "by hand");
  test::writeFile(paths.configFile, "[launcher]\nlaunch_at_login = false\n");
  EXPECT_TRUE(pumpUntil([&] { return !std::filesystem::exists(entry); }));
}

TEST_F(AppDelegateTest, ARefusedHotKeyFallsBackAndIsListedAfterTheConfigProblems) {
  start();
  hotKeys->taken.insert(Grab{45, Shortcut::cmd});
  test::writeFile(paths.configFile, "[hotkeys]\nlauncher = \"cmd+k\"\nbogus = 1\n");
  ASSERT_TRUE(pumpUntil([this] { return delegate->problems().size() >= 2; }));

  EXPECT_TRUE(hotKeys->isRegistered(Grab{65, Shortcut::ctrl | Shortcut::alt}));
  const auto& problems = delegate->problems();
  EXPECT_EQ(problems[0], "line 3: unknown setting \"hotkeys.bogus\"");
  EXPECT_EQ(problems[1],
            "hotkeys.launcher \"super+k\" is taken by another app, so it's still "
            "\"ctrl+alt+space\"");
}

TEST_F(AppDelegateTest, ADamagedClipboardHistoryIsShownAndNotWrittenTo) {
  const std::string db = paths.clipboardFolder + "/history.sqlite";
  {
    ClipboardStore store(paths.clipboardFolder);
    for (int i = 0; i < 300; ++i) {
      const std::string text = "clip " + std::to_string(i) + std::string(200, 'x');
      ASSERT_TRUE(store.add({Clip::Kind::text,
                             text,
                             {{{"public.utf8-plain-text", FakePasteboard::bytes(text)}}},
                             std::nullopt},
                            std::nullopt, i));
    }
  }
  std::string bytes = test::readFile(db);
  constexpr size_t kPage = 4096;
  const size_t damaged = (bytes.size() / kPage / 4) * kPage;
  for (size_t i = damaged; i < damaged + kPage; ++i) {
    bytes[i] = static_cast<char>(i * 7);
  }
  test::writeFile(db, bytes);

  start();
  ASSERT_TRUE(pumpUntil([this] { return hasNotice(ClipboardNotice::historyUnreadable); }));
  EXPECT_EQ(delegate->clipboardNotices()[0], ClipboardNotice::historyUnreadable);
  copy("a new copy");
  delegate->recorder()->pollNow();
  test::settle();
  EXPECT_EQ(delegate->clipboard().index().count(), 0U);
  delegate.reset();
  EXPECT_TRUE(test::readFile(db) == bytes) << "the damaged file changed";
}

TEST_F(AppDelegateTest, PausingHidesThePauseCommandShowsTheNoticeAndSurvivesARestart) {
  start();
  EXPECT_EQ(delegate->hiddenCommands(), std::set<Command>{Command::resumeClipboard});

  delegate->run(Command::pauseClipboard);
  EXPECT_EQ(delegate->hiddenCommands(), std::set<Command>{Command::pauseClipboard});
  EXPECT_TRUE(hasNotice(ClipboardNotice::paused));
  ASSERT_TRUE(
      pumpUntil([this] { return std::filesystem::exists(paths.clipboardFolder + "/paused"); }));

  copy("while paused");
  delegate->recorder()->pollNow();
  test::settle();
  EXPECT_EQ(delegate->clipboard().index().count(), 0U);

  delegate.reset();
  start();
  EXPECT_TRUE(delegate->isRecordingPaused());
  delegate->run(Command::resumeClipboard);
  EXPECT_FALSE(hasNotice(ClipboardNotice::paused));
  // Resuming takes the clipboard as it is on the recorder's queue; a copy racing it is not
  // recorded, so the copy comes once the queue has taken the resume.
  EXPECT_TRUE(delegate->recorder()->isPolling());
  copy("after resuming");
  EXPECT_TRUE(pumpUntil([this] { return delegate->clipboard().index().count() == 1; }));
}

TEST_F(AppDelegateTest, SleepStopsRecordingAndWakingRecordsTheCopyMadeMeanwhile) {
  start();
  session->send(SessionEvents::Event::screensDidSleep);
  copy("made while asleep");
  EXPECT_FALSE(delegate->recorder()->isPolling());
  test::settle();
  EXPECT_EQ(delegate->clipboard().index().count(), 0U);

  session->send(SessionEvents::Event::screensDidWake);
  EXPECT_TRUE(pumpUntil([this] { return delegate->clipboard().index().count() == 1; }));
}

TEST_F(AppDelegateTest, PasteNextHotKeyPastesTheNewestClipAndWithoutTrustAsksOnce) {
  start();
  copy("newest");
  ASSERT_TRUE(pumpUntil([this] { return delegate->clipboard().index().count() == 1; }));

  hotKeys->press(Grab{55, Shortcut::ctrl | Shortcut::alt}, 1.0);
  ASSERT_TRUE(pumpUntil([this] { return keys->presses().size() == 1; }));
  ASSERT_EQ(writer->writes().size(), 1U);

  keys->setTrusted(false);
  hotKeys->press(Grab{55, Shortcut::ctrl | Shortcut::alt}, 20.0);
  hotKeys->press(Grab{55, Shortcut::ctrl | Shortcut::alt}, 40.0);
  ASSERT_TRUE(pumpUntil([this] { return hasNotice(ClipboardNotice::needsAccessibility); }));
  test::settle();
  EXPECT_EQ(writer->writes().size(), 1U);
  EXPECT_EQ(keys->trustRequests(), 1);
}

TEST_F(AppDelegateTest, PasteNextPressesControlShiftVIntoATerminalAndControlVElsewhere) {
  const auto entry = [this](const std::string& name, const std::string& categories) {
    const std::string path = folder / ("applications/" + name + ".desktop");
    test::writeFile(path, "[Desktop Entry]\nType=Application\nName=" + name +
                              "\nExec=true\nCategories=" + categories + "\n");
    return path;
  };
  workspace->apps = {
      RunningApp{"term", entry("term", "System;TerminalEmulator;"), "Term", 0, 0, {41}},
      RunningApp{"editor", entry("editor", "Utility;TextEditor;"), "Editor", 0, 0, {42}}};
  start();
  copy("newest");
  ASSERT_TRUE(pumpUntil([this] { return delegate->clipboard().index().count() == 1; }));

  hotKeys->press(Grab{55, Shortcut::ctrl | Shortcut::alt}, 1.0);
  ASSERT_TRUE(pumpUntil([this] { return keys->presses().size() == 1; }));
  EXPECT_EQ(keys->presses()[0], (FakeKeySynthesizer::Press{55, 41, true}));

  workspace->activate(workspace->apps[1]);
  hotKeys->press(Grab{55, Shortcut::ctrl | Shortcut::alt}, 20.0);
  ASSERT_TRUE(pumpUntil([this] { return keys->presses().size() == 2; }));
  EXPECT_EQ(keys->presses()[1], (FakeKeySynthesizer::Press{55, 42, false}));
}

TEST_F(AppDelegateTest, BundleInsideChangesAreIgnoredAndANewEntryRebuildsOnce) {
  start();
  const int before = indexes;
  int judged = 0;
  delegate->onAppChangesJudged = [&judged] { ++judged; };
  test::writeFile(folder / "applications/readme.txt", "not an app");
  ASSERT_TRUE(pumpUntil([&] { return judged == 1; }));
  test::settle();
  EXPECT_EQ(indexes, before);

  test::writeFile(folder / "applications/tool.desktop",
                  "[Desktop Entry]\nType=Application\nName=Tool\nExec=/bin/true\n");
  ASSERT_TRUE(pumpUntil([&] { return judged == 2; }));
  test::settle();
  EXPECT_EQ(indexes, before + 1);
  EXPECT_TRUE(delegate->index().position(
      std::filesystem::canonical(folder / "applications/tool.desktop").string()));
}

TEST_F(AppDelegateTest, AnApplicationFolderMadeAfterStartIsWatchedOnceItExists) {
  // The first app installed for one user creates ~/.local/share/applications.
  const std::filesystem::path local = folder / "local/share/applications";
  paths.applicationRoots = {local};
  start();
  const int before = indexes;
  std::filesystem::create_directories(local);
  test::writeFile(local / "tool.desktop",
                  "[Desktop Entry]\nType=Application\nName=Tool\nExec=/bin/true\n");
  ASSERT_TRUE(pumpUntil([&] {
    return indexes > before &&
           delegate->index().position(std::filesystem::canonical(local / "tool.desktop").string());
  }));
  // And the folder itself is watched from then on.
  test::writeFile(local / "other.desktop",
                  "[Desktop Entry]\nType=Application\nName=Other\nExec=/bin/true\n");
  ASSERT_TRUE(pumpUntil([&] {
    return delegate->index().position(std::filesystem::canonical(local / "other.desktop").string());
  }));
}

}  // namespace
}  // namespace vesk

namespace vesk {
namespace {

TEST_F(AppDelegateTest, ThePanelShowsThePausedNoticeAndResumingFromItRestoresTheCommands) {
  start();
  LauncherController& launcher = *delegate->launcher();
  delegate->run(Command::pauseClipboard);
  launcher.textDidChange("recording");
  ASSERT_TRUE(pumpUntil([&] { return !launcher.isSearchPending(); }));
  const auto listed = [&](Command command) {
    return std::any_of(launcher.rows().begin(), launcher.rows().end(), [&](const Row& row) {
      return row.item() != nullptr && row.item()->id == Item::command(command).id;
    });
  };
  EXPECT_TRUE(listed(Command::resumeClipboard));
  EXPECT_FALSE(listed(Command::pauseClipboard));

  launcher.switchMode(LauncherController::Mode::clipboard);
  ASSERT_FALSE(launcher.rows().empty());
  ASSERT_EQ(launcher.rows()[0].notice() != nullptr, true);
  EXPECT_EQ(*launcher.rows()[0].notice(), ClipboardNotice::paused);
  launcher.activate(0);
  EXPECT_FALSE(delegate->isRecordingPaused());
  EXPECT_TRUE(launcher.rows().empty() || launcher.rows()[0].notice() == nullptr);
  EXPECT_EQ(launcher.settings().hiddenCommands, std::set<Command>{Command::resumeClipboard});
}

}  // namespace
}  // namespace vesk
