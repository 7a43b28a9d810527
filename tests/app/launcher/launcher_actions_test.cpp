// Actions and sublists of the launcher controller, and what the actions do to the desktop.

#include <filesystem>

#include "app/clipboard/clip_deliverer.h"
#include "app/clipboard/paster.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/panel_content.h"
#include "platform/linux/x11_clipboard_types.h"
#include "tests/app/launcher/launcher_fixture.h"
#include "tests/fakes/fake_key_layout.h"
#include "tests/fakes/fake_key_synthesizer.h"
#include "tests/fakes/fake_pasteboard_writer.h"

namespace vesk::test {
namespace {

std::string textOf(const ClipItems& items, std::string_view type = ClipReading::utf8Text) {
  for (const Representation& representation : items.at(0)) {
    if (representation.type == type) {
      return {representation.data.begin(), representation.data.end()};
    }
  }
  return {};
}

class LauncherActionsTest : public LauncherTest {
 protected:
  LauncherActionsTest() { layout->characters = {{"v", 55}}; }

  // Selects the row with this title in the current list.
  void selectTitled(const std::string& title) {
    for (size_t guard = 0; guard < 60 && selectedTitle() != title; ++guard) {
      controller.perform(PanelKey::down);
    }
    ASSERT_EQ(selectedTitle(), title);
  }

  void openActionsOf(const std::string& query, const std::string& title) {
    type(query);
    selectTitled(title);
    controller.toggleActions();
    ASSERT_TRUE(controller.sublist().has_value());
  }
};

TEST_F(LauncherActionsTest, RunningAppsOfferQuitAndTheListFollowsWhileShown) {
  workspace->launch(runningApp("Mail", home("Apps/mail.desktop"), 1));
  running.changed();
  openActionsOf("mail", "Mail");
  EXPECT_EQ(titles(),
            (std::vector<std::string>{"Open", "Reveal in File Manager", "Quit", "Force Quit"}));
  workspace->terminate("Mail");
  running.changed();
  controller.refresh();
  EXPECT_EQ(titles(), (std::vector<std::string>{"Open", "Reveal in File Manager"}));
}

// An app's keywords find it, but a hit on a name of the same worth comes first; its own actions
// rank after it however often they were used, follow Vesk's actions in its list and launch
// through the entry; its row tells what its entry says about it.
TEST_F(LauncherActionsTest, KeywordHitsRankAfterNameHitsAndAnAppsOwnActionsFollowIt) {
  const Item calc = Item::app("Calc", home("Apps/calc.desktop"));
  const Item newWindow = Item::appAction(calc, "new-window", "New Window");
  std::vector<Item> indexed = items();
  std::vector<SearchIndex::Details> details(indexed.size());
  indexed.insert(indexed.end(),
                 {Item::app("Math Tutor", home("Apps/tutor.desktop")), calc, newWindow});
  details.insert(details.end(), {{}, {{"math", "arithmetic"}, "Does sums", {}}, {}});
  controller.setIndex(SearchIndex(indexed, details));

  type("math");
  ASSERT_GE(titles().size(), 2U);
  EXPECT_EQ(titles()[0], "Math Tutor") << "equal scores: the name hit first";
  EXPECT_EQ(titles()[1], "Calc");

  for (int opened = 0; opened < 3; ++opened) {
    history.record(newWindow.id, clock);
  }
  controller.prepareToShow(Mode::launcher);
  type("calc");
  ASSERT_GE(titles().size(), 2U);
  EXPECT_EQ(titles()[0], "Calc");
  EXPECT_EQ(titles()[1], "Calc: New Window");

  PanelContext context;
  context.controller = &controller;
  context.home = home();
  EXPECT_EQ(PanelContent::cell(controller.rows()[0], 0, context).detail, "Does sums");
  type("tutor");
  EXPECT_EQ(PanelContent::cell(controller.rows()[0], 0, context).detail, "~/Apps")
      << "an entry that says nothing about itself shows its folder";

  openActionsOf("calc", "Calc");
  EXPECT_EQ(titles(), (std::vector<std::string>{"Open", "Reveal in File Manager", "New Window"}));
  EXPECT_TRUE(controller.runAction(2));
  ASSERT_TRUE(pumpUntil([this] { return !catalog->launches().empty(); }));
  EXPECT_EQ(catalog->launches()[0].app, calc.kind.url);
  EXPECT_EQ(catalog->launches()[0].options.action, "new-window");
  EXPECT_EQ(view.dismissals, 1);
}

TEST_F(LauncherActionsTest, FilterRanksActionsAndTheActionKeyClearsAHidingFilter) {
  openActionsOf("todo", "todo.txt");
  EXPECT_EQ(view.placeholder, "Filter actions");
  type("tr");
  ASSERT_FALSE(titles().empty());
  EXPECT_NE(std::find(titles().begin(), titles().end(), "Move to Trash"), titles().end());
  EXPECT_EQ(controller.selection(), 0u);
  // The third action, Copy Path, is hidden by the filter: the key clears it and runs it.
  EXPECT_TRUE(controller.runAction(2));
  ASSERT_TRUE(pumpUntil([this] { return !writer->writes().empty(); }));
  EXPECT_EQ(textOf(writer->writes()[0]), home("Notes/todo.txt"));
  EXPECT_EQ(view.dismissals, 1);
  EXPECT_FALSE(controller.runAction(20));
}

TEST_F(LauncherActionsTest, BackRestoresTheListTheQueryAndTheSelection) {
  type("o");
  selectTitled("todo.txt");
  ASSERT_GT(controller.selection(), 0u);
  const Rows before = controller.rows();
  const size_t selected = controller.selection();
  controller.toggleActions();
  ASSERT_TRUE(controller.sublist().has_value());
  type("co");
  controller.perform(PanelKey::back);
  EXPECT_FALSE(controller.sublist().has_value());
  EXPECT_EQ(controller.rows(), before);
  EXPECT_EQ(controller.selection(), selected);
  EXPECT_EQ(view.text, "o");
  EXPECT_EQ(view.caret, 1u);
  EXPECT_EQ(view.placeholder, "Search");
}

TEST_F(LauncherActionsTest, OpenWithListsTheAppsAndALateAnswerIsDropped) {
  catalog->openers = {home("Apps/editor.desktop")};
  openActionsOf("todo", "todo.txt");
  selectTitled("Open With\u2026");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return controller.sublist()->isOpenWith(); }));
  EXPECT_EQ(titles(), std::vector<std::string>{"Editor"});
  EXPECT_EQ(view.placeholder, "Filter apps");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return !catalog->launches().empty(); }));
  EXPECT_EQ(catalog->launches()[0].app, home("Apps/editor.desktop"));
  EXPECT_EQ(history.history().recent(1),
            std::vector<std::string>{"file:" + home("Notes/todo.txt")});

  // Asked again, but the user leaves the actions list before the apps are known.
  openActionsOf("todo", "todo.txt");
  selectTitled("Open With\u2026");
  controller.perform(PanelKey::open);
  controller.perform(PanelKey::back);
  test::settle();
  EXPECT_FALSE(controller.sublist().has_value());
}

TEST_F(LauncherActionsTest, ForceQuitIsArmedFirstAndMovesOnlyDisarmIt) {
  workspace->launch(runningApp("Mail", home("Apps/mail.desktop"), 1));
  running.changed();
  openActionsOf("mail", "Mail");
  selectTitled("Force Quit");
  controller.perform(PanelKey::open);
  EXPECT_EQ(controller.confirmationPrompt(), "Press Enter again to force quit Mail");
  controller.perform(PanelKey::up);
  controller.perform(PanelKey::down);
  controller.perform(PanelKey::open);
  EXPECT_TRUE(workspace->forceQuitRequests.empty());
  EXPECT_TRUE(controller.isConfirming());
  controller.perform(PanelKey::open);
  EXPECT_EQ(workspace->forceQuitRequests, std::vector<std::string>{"Mail"});
}

TEST_F(LauncherActionsTest, TrashMovesTheFileAndForgetsItInTheHistory) {
  history.record("file:" + home("Notes/todo.txt"), clock);
  openActionsOf("todo", "todo.txt");
  selectTitled("Move to Trash");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return history.history().isEmpty(); }));
  EXPECT_EQ(fileManager->trashed(), std::vector<std::string>{home("Notes/todo.txt")});
}

TEST_F(LauncherActionsTest, CopyFolderPastesAsAFileAndTerminalStartsInTheFolder) {
  change([](LauncherSettings& settings) { settings.terminalApp = "/apps/terminal.desktop"; });
  openActionsOf("projects", "Projects");
  selectTitled("Copy Folder");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return !writer->writes().empty(); }));
  EXPECT_EQ(textOf(writer->writes()[0], "public.file-url"), "file://" + home("Projects"));
  EXPECT_EQ(textOf(writer->writes()[0]), home("Projects"));

  view.visible = true;
  openActionsOf("projects", "Projects");
  selectTitled("Open in Terminal");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return !catalog->launches().empty(); }));
  EXPECT_EQ(catalog->launches()[0].app, "/apps/terminal.desktop");
  EXPECT_EQ(catalog->launches()[0].options.workingDirectory, home("Projects"));
}

TEST_F(LauncherActionsTest, DeletingNeedsASecondReturnOnlyForPinnedClips) {
  copy("keep");
  const Clip loose = copy("loose");
  controller.switchMode(Mode::clipboard);
  controller.toggleActions();
  selectTitled("Delete");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([&] { return !clipboard.index().position(loose.id); }));

  controller.toggleActions();
  selectTitled("Pin");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return clipboard.index().clips()[0].pinned; }));
  EXPECT_FALSE(controller.sublist().has_value());
  EXPECT_EQ(selectedTitle(), "keep");
  controller.toggleActions();
  selectTitled("Delete");
  controller.perform(PanelKey::open);
  EXPECT_EQ(controller.confirmationPrompt(), "Press Enter again to delete this pinned clip");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return clipboard.index().count() == 0; }));
}

TEST_F(LauncherActionsTest, PinningKeepsTheClipSelectedAmongThePinned) {
  for (const char* text : {"a", "b", "c"}) {
    copy(text);
  }
  controller.switchMode(Mode::clipboard);
  controller.perform(PanelKey::down);
  controller.perform(PanelKey::down);
  ASSERT_EQ(selectedTitle(), "a");
  controller.toggleActions();
  selectTitled("Pin");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] {
    const Clip* clip = controller.rows()[controller.selection()].clip();
    return clip != nullptr && clip->pinned;
  }));
  EXPECT_FALSE(controller.sublist().has_value());
  EXPECT_EQ(selectedTitle(), "a");
}

TEST_F(LauncherActionsTest, SavingTwiceInOneMinuteNumbersTheSecondFile) {
  change([this](LauncherSettings& settings) { settings.saveFolder = folder / "Downloads"; });
  copy("first");
  clock = 1'704'190'500;  // within one minute
  for (int i = 0; i < 2; ++i) {
    view.visible = true;
    controller.switchMode(Mode::clipboard);
    controller.toggleActions();
    selectTitled("Save as File");
    controller.perform(PanelKey::open);
    ASSERT_TRUE(
        pumpUntil([&] { return notifier.savedPaths.size() == static_cast<size_t>(i + 1); }));
    clock += 1;
  }
  const std::string first = notifier.savedPaths[0];
  ASSERT_TRUE(first.ends_with(".txt"));
  EXPECT_EQ(notifier.savedPaths[1], first.substr(0, first.size() - 4) + " 2.txt");
  EXPECT_EQ(readFile(notifier.savedPaths[1]), "first");
}

// The file that could not be written is named, in the title and with its folder in the reason.
TEST_F(LauncherActionsTest, AClipThatCanNotBeSavedNamesTheFileItCouldNotWrite) {
  writeFile(folder / "Downloads", "a file where the folder should be");
  change([this](LauncherSettings& settings) { settings.saveFolder = folder / "Downloads"; });
  copy("first");
  controller.switchMode(Mode::clipboard);
  controller.toggleActions();
  selectTitled("Save as File");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([&] { return !notifier.failures.empty(); }));
  const auto& failure = notifier.failures[0];
  ASSERT_TRUE(failure.title.starts_with("Couldn't save Clipboard ")) << failure.title;
  ASSERT_TRUE(failure.title.ends_with(".txt")) << failure.title;
  const std::string name = failure.title.substr(std::string("Couldn't save ").size());
  EXPECT_EQ(failure.reason,
            "Couldn't write " + (folder / "Downloads/") + name + ": Not a directory");
  EXPECT_FALSE(failure.path);
  EXPECT_TRUE(notifier.savedPaths.empty());
}

// What an X11 client is offered for Copy Path: a UTF-8 name as text, a name that isn't UTF-8
// only as its file URL (every byte escaped), never as UTF-8 text.
TEST(DesktopActions, CopyPathOffersTextOnlyForAUtf8Name) {
  const auto writer = std::make_shared<FakePasteboardWriter>();
  DesktopActions actions(testExecutor(), DesktopServices{nullptr, nullptr, writer, nullptr});
  actions.copyPath("/data/caf\xC3\xA9 menu.txt");
  actions.copyPath("/data/caf\xE9 menu.txt");
  ASSERT_TRUE(pumpUntil([&] { return writer->writes().size() == 2; }));

  const auto targets = [](const ClipItems& items) {
    std::map<std::string, std::string> offered;
    for (const auto& [target, bytes] : X11ClipboardTypes::offerFor(items)) {
      offered[target] = std::string(bytes.begin(), bytes.end());
    }
    return offered;
  };
  // The two copies run side by side: the UTF-8 one is the one offering any text.
  auto utf8 = targets(writer->writes()[0]);
  auto other = targets(writer->writes()[1]);
  if (!utf8.contains("UTF8_STRING")) {
    std::swap(utf8, other);
  }
  EXPECT_EQ(utf8["UTF8_STRING"], "/data/caf\xC3\xA9 menu.txt");
  EXPECT_FALSE(utf8.contains("text/uri-list"));
  EXPECT_EQ(other, (std::map<std::string, std::string>{
                       {"text/uri-list", "file:///data/caf%E9%20menu.txt\r\n"}}));
}

TEST_F(LauncherActionsTest, RevealingAFilesClipWhoseFilesAreGoneIsReported) {
  const std::string text = home("gone-a.txt") + "\n" + home("gone-b.txt");
  const ClipContent content{Clip::Kind::files, text, {}, std::nullopt};
  clipboard.recorded(store->add(content, std::nullopt, ++clock).value());
  controller.switchMode(Mode::clipboard);
  controller.toggleActions();
  selectTitled("Reveal in File Manager");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return !notifier.failures.empty(); }));
  EXPECT_EQ(notifier.failures[0].title, "Couldn't reveal gone-a.txt");
  EXPECT_EQ(notifier.failures[0].reason, "It was moved or deleted since it was copied");
  EXPECT_TRUE(fileManager->reveals().empty());
}

TEST_F(LauncherActionsTest, PasteNextStartsOverTenSecondsAfterTheLastPress) {
  for (const char* text : {"old", "new"}) {
    copy(text);
  }
  const auto pasted = [this] {
    std::vector<std::string> texts;
    for (const ClipItems& items : writer->writes()) {
      texts.push_back(textOf(items));
    }
    return texts;
  };
  controller.pasteNext(100);
  controller.pasteNext(101);
  controller.pasteNext(111);
  ASSERT_TRUE(pumpUntil([&] { return pasted().size() == 3; }));
  EXPECT_EQ(pasted(), (std::vector<std::string>{"new", "old", "new"}));
}

// A paste from the panel goes to the window the user was in when it opened, not to the one
// active when the panel has closed; a paste-next without the panel, to the one active then.
TEST_F(LauncherActionsTest, APasteFromThePanelGoesToTheWindowActiveWhenItOpened) {
  copy("a clip");
  WindowId active = 7;
  pasteTarget = [&active] { return PasteTarget{active, false}; };
  change([](LauncherSettings& settings) { settings.canPaste = true; });
  view.visible = false;  // as the panel is, until it has been prepared
  controller.prepareToShow(Mode::clipboard);
  view.visible = true;
  active = 99;  // the panel, or nothing, once it is up
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return !keys->presses().empty(); }));
  EXPECT_EQ(keys->presses()[0].target, 7U);

  controller.pasteNext(200);
  ASSERT_TRUE(pumpUntil([this] { return keys->presses().size() == 2; }));
  EXPECT_EQ(keys->presses()[1].target, 99U);
}

}  // namespace
}  // namespace vesk::test
