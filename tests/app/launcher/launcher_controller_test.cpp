// The launcher controller's lists: the query flow with its late file hits, the merge, the
// empty list, the clipboard list, selection and opening rows.

#include <algorithm>
#include <deque>
#include <functional>
#include <future>
#include <utility>

#include "app/launcher/launcher_lists.h"
#include "tests/app/launcher/launcher_fixture.h"

namespace vesk::test {
namespace {

using Hits = FileSearchEngine::Hits;

TEST_F(LauncherTest, TypedQueryMergesIndexAndFilesListingIndexedAppsOnce) {
  type("editor");
  const auto rows = titles();
  EXPECT_EQ(std::count(rows.begin(), rows.end(), "Editor"), 1);
  EXPECT_EQ(rows.front(), "Editor");
  EXPECT_EQ(controller.selection(), 0u);
  type("notes");
  EXPECT_EQ(controller.rows().size(), 2u);
}

TEST(LauncherLists, MergeAddsTheIndexBonusAndKeepsArrivalOrderOnTies) {
  const SearchIndex index({Item::command(Command::quit), Item::command(Command::checkForUpdates),
                           Item::app("Tool", "/apps/tool.desktop")});
  const auto at = [&](std::string_view id) { return *index.position(id); };
  const std::set<Command> hidden;
  const LauncherLists::CommandRules rules{&hidden, false, false};
  const std::vector<SearchIndex::Scored> scored = {{at("command:quit"), 76},
                                                   {at("command:check-for-updates"), 90}};
  const std::vector<FileHit> hits = {{"/home/quit.txt", false, 100},
                                     {"/apps/tool.desktop", false, 300}};
  const Rows rows = LauncherLists::merge(index, scored, hits, rules);
  // The command (76 + 24) comes before the file of equal score; the app found as a file is
  // dropped; updates are not listed while checks are off.
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].item()->id, "command:quit");
  EXPECT_EQ(rows[1].item()->id, "file:/home/quit.txt");
}

TEST_F(LauncherTest, StaleFileHitsNeverReplaceTheNewestQuery) {
  HeldSearches searches(searchFiles, engine);
  controller.textDidChange("todo");
  controller.textDidChange("report");
  ASSERT_EQ(searches.count(), 2u);
  searches.release(1);
  ASSERT_TRUE(pumpUntil([this] { return !controller.rows().empty(); }));
  searches.release(0);
  test::settle();
  EXPECT_EQ(titles(), std::vector<std::string>{"report.md"});
}

TEST_F(LauncherTest, FileHitsArrivingAfterDismissalLeaveTheHiddenListEmpty) {
  HeldSearches searches(searchFiles, engine);
  controller.textDidChange("report");
  view.dismiss();
  searches.release(0);
  test::settle();
  EXPECT_TRUE(controller.rows().empty());
  EXPECT_FALSE(controller.isExpanded());
}

TEST_F(LauncherTest, ReturnDuringTheNewestSearchOpensItsFirstRow) {
  type("todo");
  HeldSearches searches(searchFiles, engine);
  controller.textDidChange("report");
  EXPECT_TRUE(controller.perform(PanelKey::open));
  EXPECT_EQ(view.dismissals, 0);  // still waiting for the newest list
  searches.release(0);
  ASSERT_TRUE(pumpUntil([this] { return !catalog->launches().empty(); }));
  EXPECT_EQ(catalog->launches().front().targets,
            std::vector<std::string>{home("Projects/report.md")});
  EXPECT_EQ(history.history().recent(1),
            std::vector<std::string>{"file:" + home("Projects/report.md")});
}

// Keys typed ahead of a busy file search, as a user types them in one burst: each acts on the
// rows of the query it was typed after, in the order typed.
TEST_F(LauncherTest, KeysTypedAheadOfTheFileSearchActOnTheirOwnQueryInOrder) {
  // "mail⏎": the app's row is drawn from the index at once and opened, never a recent item.
  history.record("file:" + home("Notes/todo.txt"), clock - 1);
  type("notes");
  ASSERT_GT(controller.rows().size(), 1U);
  const std::optional<std::string> second = controller.rows()[1].item()->url();
  type("todo");
  HeldSearches searches(searchFiles, engine);
  change([](LauncherSettings& settings) { settings.indexHitsWait = std::chrono::milliseconds(0); });
  controller.textDidChange("mail");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return !catalog->launches().empty(); }));
  EXPECT_EQ(catalog->launches().front().app, home("Apps/mail.desktop"));

  // "notes↓⏎" with no index hit: ↓ and ⏎ wait for the rows of "notes" and open its second.
  change([](LauncherSettings& settings) { settings.indexHitsWait = LauncherTest::kHeldIndexHits; });
  controller.prepareToShow(Mode::launcher);
  controller.textDidChange("notes");
  controller.perform(PanelKey::down);
  controller.perform(PanelKey::open);
  EXPECT_EQ(view.dismissals, 1);  // still waiting for the rows of "notes"
  searches.release(searches.count() - 1);
  ASSERT_TRUE(pumpUntil([this] { return catalog->launches().size() == 2; }));
  EXPECT_EQ(catalog->launches()[1].targets, std::vector<std::string>{*second});

  // "report⏎cd": ⏎ opens report's row and closes the panel; "cd" is not the next query.
  controller.prepareToShow(Mode::launcher);
  controller.textDidChange("report");
  controller.perform(PanelKey::open);
  controller.textDidChange("reportc");
  controller.textDidChange("reportcd");
  searches.release(searches.count() - 1);
  ASSERT_TRUE(pumpUntil([this] { return catalog->launches().size() == 3; }));
  EXPECT_EQ(catalog->launches()[2].targets, std::vector<std::string>{home("Projects/report.md")});
  EXPECT_EQ(controller.text(), "");
  EXPECT_EQ(view.text, "");

  // "notes", the actions key, Esc, then the field typed over with "report": the actions open
  // and close in turn, and "report" is the query, in the field too.
  controller.prepareToShow(Mode::launcher);
  controller.textDidChange("notes");
  controller.perform(PanelKey::actions);
  controller.perform(PanelKey::back);
  controller.textDidChange("report");
  searches.release(searches.count() - 1);
  ASSERT_TRUE(pumpUntil([this] { return controller.text() == "report"; }));
  EXPECT_EQ(view.text, "report");
  searches.release(searches.count() - 1);
  ASSERT_TRUE(pumpUntil([this] { return !controller.waitsForRows(); }));
  EXPECT_EQ(titles().front(), "report.md");
  view.dismiss();

  // A search that never answers: after the wait nothing is opened, the user is told, and what
  // was typed after ⏎ is the query, as the field shows it.
  controller.prepareToShow(Mode::launcher);
  controller.textDidChange("report");
  controller.perform(PanelKey::open);
  controller.textDidChange("reports");
  ASSERT_TRUE(pumpUntil([this] { return !notifier.failures.empty(); },
                        LauncherController::kNoRowsWait + std::chrono::seconds(3)));
  EXPECT_EQ(notifier.failures[0].title, "Nothing was opened");
  EXPECT_EQ(catalog->launches().size(), 3U);
  EXPECT_EQ(controller.text(), "reports");
}

// The item the user moved to stays selected when the file hits merge in or the application
// index changes under it, and ⏎ opens it.
TEST_F(LauncherTest, TheSelectedItemStaysWhenFileHitsArriveOrTheIndexChanges) {
  std::vector<Item> indexed = items();
  indexed.push_back(Item::app("Maps", home("Apps/maps.desktop")));
  controller.setIndex(SearchIndex(indexed));
  HeldSearches searches(searchFiles, engine);
  change([](LauncherSettings& settings) { settings.indexHitsWait = std::chrono::milliseconds(0); });
  controller.textDidChange("m");
  ASSERT_TRUE(pumpUntil([this] { return !controller.waitsForRows(); }));
  ASSERT_GT(controller.rows().size(), 1U);
  controller.perform(PanelKey::down);
  const std::string chosen = controller.rows()[controller.selection()].item()->id;
  searches.release(0);
  ASSERT_TRUE(pumpUntil([this] { return !controller.isSearchPending(); }));
  EXPECT_EQ(controller.rows()[controller.selection()].item()->id, chosen);

  indexed.insert(indexed.begin(), Item::app("Mm", home("Apps/mm.desktop")));
  controller.setIndex(SearchIndex(indexed));
  ASSERT_TRUE(pumpUntil([this] { return !controller.waitsForRows(); }));
  EXPECT_EQ(controller.rows()[controller.selection()].item()->id, chosen);
  searches.release(1);
  ASSERT_TRUE(pumpUntil([this] { return !controller.isSearchPending(); }));
  EXPECT_EQ(controller.rows()[controller.selection()].item()->id, chosen);
}

TEST_F(LauncherTest, UnchangedRowsAreNotResentAndTheTailIsInsertedOrRemoved) {
  type("o");
  const size_t many = controller.rows().size();
  ASSERT_GT(many, 2u);
  view.calls.clear();
  type("o ");  // the same list
  EXPECT_TRUE(view.calls.empty());
  type("todo");
  EXPECT_EQ(view.calls, std::vector<std::string>{"remove 1-" + std::to_string(many)});
  view.calls.clear();
  type("o");
  EXPECT_EQ(view.calls, std::vector<std::string>{"insert 1-" + std::to_string(many)});
}

TEST_F(LauncherTest, BlankQueryShowsTheEmptyStateWithProblemsAndTheReadyUpdateFirst) {
  change([](LauncherSettings& settings) {
    settings.problems = {"line 3: bad"};
    settings.readyUpdate = "2.0";
    settings.checksForUpdates = true;
  });
  history.record("command:install-update", clock - 10);
  history.record("command:check-for-updates", clock - 5);
  history.record("file:" + home("Notes/todo.txt"), clock - 1);
  history.record("/gone/app.desktop", clock - 2);
  type("   ");
  EXPECT_EQ(titles(),
            (std::vector<std::string>{"Config problem, line 3: bad",
                                      std::string(title(Command::installUpdate)), "todo.txt"}));
  EXPECT_EQ(controller.selection(), 2u);
}

TEST_F(LauncherTest, RunningEmptyStateSelectsThePreviousAppWhenTwoRun) {
  change([](LauncherSettings& settings) {
    settings.emptyState = Config::EmptyState::running;
    settings.problems = {"p"};
  });
  workspace->launch(runningApp("Mail", home("Apps/mail.desktop"), 1));
  running.changed();
  controller.refresh();
  EXPECT_EQ(titles(), (std::vector<std::string>{"Config problem, p", "Mail", "Editor"}));
  EXPECT_EQ(controller.selection(), 1u);
  workspace->launch(runningApp("Editor", home("Apps/editor.desktop"), 2));
  running.changed();
  view.dismiss();
  controller.prepareToShow(Mode::launcher);
  EXPECT_EQ(titles(), (std::vector<std::string>{"Config problem, p", "Mail", "Editor"}));
  EXPECT_EQ(controller.selection(), 2u);
}

TEST_F(LauncherTest, AliasAndOneSpaceSwitchesToTheClipboard) {
  controller.textDidChange("c  ");
  EXPECT_EQ(controller.mode(), Mode::launcher);
  controller.textDidChange("C ");
  EXPECT_EQ(controller.mode(), Mode::clipboard);
  EXPECT_EQ(view.text, "");
  EXPECT_EQ(view.placeholder, "Search clipboard");
  EXPECT_EQ(view.symbol, "doc.on.clipboard");
}

TEST_F(LauncherTest, ClipboardListSelectsTheFirstClipBelowTheNotices) {
  controller.switchMode(Mode::clipboard);
  change([](LauncherSettings& settings) { settings.clipboardNotices = {ClipboardNotice::paused}; });
  EXPECT_EQ(controller.selection(), 0u);
  EXPECT_FALSE(controller.showsEmptyClipboard());
  copy("one");
  EXPECT_EQ(titles(), (std::vector<std::string>{"Recording is paused", "one"}));
  EXPECT_EQ(controller.selection(), 1u);
  change([](LauncherSettings& settings) { settings.clipboardNotices = {}; });
  EXPECT_EQ(titles(), std::vector<std::string>{"one"});
}

TEST_F(LauncherTest, SelectedClipStaysSelectedAcrossANewCopyAndADelete) {
  for (const char* text : {"a", "b", "c", "d"}) {
    copy(text);
  }
  controller.switchMode(Mode::clipboard);
  controller.perform(PanelKey::down);
  controller.perform(PanelKey::down);
  EXPECT_EQ(selectedTitle(), "b");
  copy("e");
  EXPECT_EQ(selectedTitle(), "b");
  EXPECT_EQ(controller.selection(), 3u);
  clipboard.deleteClip(controller.rows()[3].clip()->id);
  ASSERT_TRUE(pumpUntil([this] { return controller.rows().size() == 4; }));
  EXPECT_EQ(selectedTitle(), "a");  // the same position
}

// A clip kept selected across a copy belongs to that showing only: the next open starts at the
// newest clip, whatever came in while the list was up or after it closed.
TEST_F(LauncherTest, TheClipboardOpenedAgainSelectsTheNewestClip) {
  copy("a");
  copy("b");
  controller.switchMode(Mode::clipboard);
  controller.perform(PanelKey::down);
  copy("c");
  EXPECT_EQ(selectedTitle(), "a");
  view.dismiss();
  copy("d");
  view.visible = true;
  controller.switchMode(Mode::clipboard);
  EXPECT_EQ(selectedTitle(), "d");
  EXPECT_EQ(controller.selection(), 0u);
}

TEST_F(LauncherTest, SelectionClampsWithoutWrapping) {
  type("o");
  controller.perform(PanelKey::up);
  EXPECT_EQ(controller.selection(), 0u);
  for (size_t i = 0; i < controller.rows().size() + 2; ++i) {
    controller.perform(PanelKey::down);
  }
  EXPECT_EQ(controller.selection(), controller.rows().size() - 1);
}

TEST_F(LauncherTest, ClearClipboardNeedsASecondReturnAndAnyMoveDisarms) {
  std::vector<Command> ran;
  runCommand = [&](Command command) { ran.push_back(command); };
  type("clear clipboard");
  ASSERT_EQ(selectedTitle(), title(Command::clearClipboard));
  controller.perform(PanelKey::open);
  EXPECT_TRUE(controller.isConfirming());
  EXPECT_EQ(controller.confirmationPrompt(), "Press Enter again to clear the clipboard history");
  controller.perform(PanelKey::down);
  controller.perform(PanelKey::up);
  EXPECT_FALSE(controller.isConfirming());
  controller.perform(PanelKey::open);
  EXPECT_TRUE(ran.empty());
  controller.perform(PanelKey::open);
  EXPECT_EQ(ran, std::vector<Command>{Command::clearClipboard});
  EXPECT_EQ(view.dismissals, 1);
}

TEST_F(LauncherTest, OpeningAnAppActivatesItWhenRunningElseLaunchesIt) {
  controller.setUserTime(4242);
  type("mail");
  controller.perform(PanelKey::open);
  ASSERT_TRUE(pumpUntil([this] { return !catalog->launches().empty(); }));
  EXPECT_EQ(catalog->launches()[0].app, home("Apps/mail.desktop"));
  EXPECT_EQ(catalog->launches()[0].options.userTime, 4242u);
  workspace->launch(runningApp("Mail", home("Apps/mail.desktop"), 1));
  running.changed();
  type("mail");
  controller.perform(PanelKey::open);
  EXPECT_EQ(workspace->activated, std::vector<std::string>{"Mail"});
  EXPECT_EQ(catalog->launches().size(), 1u);
}

}  // namespace
}  // namespace vesk::test
