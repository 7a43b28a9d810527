// Finding applications (real desktop entries read by GIO), resolving the configured ones
// (against a catalog given as tables) and tracking the running ones.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/apps/app_resolver.h"
#include "app/apps/app_scanner.h"
#include "app/apps/running_apps.h"
#include "core/search/search_index.h"
#include "platform/app_catalog.h"
#include "platform/linux/gio_app_catalog.h"
#include "tests/app/app_test_support.h"
#include "tests/fakes/fake_app_catalog.h"
#include "tests/fakes/fake_workspace.h"

namespace vesk {
namespace {

std::string entry(const std::string& name, const std::string& extra = "") {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=/bin/true\n" + extra;
}

std::vector<std::string> names(const std::vector<Item>& items) {
  std::vector<std::string> result;
  for (const Item& item : items) {
    result.push_back(item.name);
  }
  return result;
}

TEST(AppScanner, ListsShownEntriesOnceAndSkipsHiddenOnesAndTheirFolders) {
  test::TempFolder folder;
  const std::string user = folder / "user/applications";
  const std::string system = folder / "system/applications";
  test::writeFile(user + "/editor.desktop", entry("Editor"));
  test::writeFile(system + "/editor.desktop", entry("System Editor"));  // shadowed by the user's
  test::writeFile(system + "/viewer.desktop", entry("Viewer"));
  test::writeFile(system + "/settings.desktop", entry("Settings", "NoDisplay=true\n"));
  test::writeFile(system + "/gone.desktop", entry("Gone", "Hidden=true\n"));
  test::writeFile(system + "/missing.desktop", entry("Missing", "TryExec=/no/such/program\n"));
  test::writeFile(system + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Site\nURL=x\n");
  test::writeFile(system + "/.hidden/secret.desktop", entry("Secret"));
  test::writeFile(system + "/a/b/deep.desktop", entry("Deep"));        // depth 3
  test::writeFile(system + "/a/b/c/deeper.desktop", entry("Deeper"));  // depth 4
  test::writeFile(system + "/notes.txt", "not an entry");
  std::filesystem::create_symlink(system + "/viewer.desktop", user + "/viewer-link.desktop");

  GioAppCatalog catalog;
  const std::vector<Item> items = AppScanner::scan({user, system}, {}, 3, catalog);

  const std::vector<std::string> listed = names(items);
  const std::set<std::string> found(listed.begin(), listed.end());
  EXPECT_EQ(listed.size(), found.size());
  EXPECT_EQ(found, (std::set<std::string>{"Editor", "Viewer", "Deep"}));
  for (const Item& item : items) {
    EXPECT_EQ(item.id, std::filesystem::canonical(item.kind.url).string());
  }
}

// The app tests see the desktop entries they write and none of the machine's, so what an app
// opens does not depend on what happens to be installed.
TEST(AppTestEnvironment, TheCatalogSeesOnlyTheEntriesTheTestsWrite) {
  GioAppCatalog catalog;
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator("/usr/share/applications", error)) {
    const std::string id = file.path().filename().string();
    EXPECT_EQ(catalog.pathForDesktopId(id), std::nullopt) << "the machine's " << id;
  }

  const std::string own = test::dataHome() + "/applications/vesk-test-notes.desktop";
  test::writeFile(own, entry("Notes", "MimeType=text/plain;\n"));
  EXPECT_TRUE(test::pumpUntil([&] { return catalog.pathForDesktopId("vesk-test-notes.desktop"); }))
      << "the test's own entry is found";
  std::filesystem::remove(own);
}

TEST(AppScanner, EntriesThatAreNotRegularFilesOrAreHugeAreSkippedWithoutBlocking) {
  test::TempFolder folder;
  const std::string root = folder / "applications";
  test::writeFile(root + "/editor.desktop", entry("Editor"));
  const std::string fifo = root + "/fifo.desktop";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  test::writeFile(
      root + "/huge.desktop",
      entry("Huge", "Comment=" + std::string(GioAppCatalog::kMaxEntryBytes, 'x') + "\n"));
  std::filesystem::create_symlink("/dev/zero", root + "/zero.desktop");

  GioAppCatalog catalog;
  auto scanning =
      std::async(std::launch::async, [&] { return AppScanner::scan({root}, {fifo}, 3, catalog); });
  if (scanning.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    ADD_FAILURE() << "the scan blocked on the FIFO";
    while (scanning.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
      ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    }
  }
  EXPECT_EQ(names(scanning.get()), std::vector<std::string>{"Editor"});
}

// The entries' own words: generic names and keywords find an app, its actions are items of
// their own that launch through the entry, and OnlyShowIn/NotShowIn are read against the
// desktop the tests run in (XDG_CURRENT_DESKTOP=GNOME, set by the tests' main).
TEST(AppScanner, EntriesBringKeywordsActionsAndTheDesktopsTheyShowIn) {
  test::TempFolder folder;
  const std::string root = folder / "applications";
  const std::string marker = folder / "new-window";
  test::writeFile(root + "/calc.desktop",
                  entry("Calculator",
                        "GenericName=Calculator\nComment=Do sums\nKeywords=math;arithmetic;\n"
                        "Actions=new-window;broken;\n\n[Desktop Action new-window]\n"
                        "Name=New Window\nIcon=window-new\nExec=sh -c 'echo \"$DESKTOP_STARTUP_ID\""
                        " > " +
                            marker + "'\n\n[Desktop Action broken]\nExec=/bin/true\n"));
  test::writeFile(root + "/writer.desktop",
                  entry("LibreOffice Writer", "GenericName=Word Processor\n"));
  test::writeFile(root + "/xfce-settings.desktop", entry("Xfce Settings", "OnlyShowIn=XFCE;\n"));
  test::writeFile(root + "/gnome-tweaks.desktop", entry("Tweaks", "OnlyShowIn=GNOME;Unity;\n"));
  test::writeFile(root + "/not-here.desktop", entry("Not Here", "NotShowIn=GNOME;\n"));

  GioAppCatalog catalog;
  std::vector<Item> items;
  std::vector<SearchIndex::Details> details;
  for (AppScanner::App& app : AppScanner::scanApps({root}, {}, 3, catalog)) {
    AppScanner::addToIndex(std::move(app), items, details);
  }
  const std::vector<std::string> listed = names(items);
  EXPECT_EQ((std::set<std::string>(listed.begin(), listed.end())),
            (std::set<std::string>{"Calculator", "Calculator: New Window", "LibreOffice Writer",
                                   "Tweaks"}))
      << "an action without a name is left out";
  const SearchIndex index(items, details);
  const auto first = [&index](const std::string& query) {
    const std::vector<int> found = index.search(query, 5);
    return found.empty() ? std::string() : index.items()[static_cast<size_t>(found[0])].name;
  };
  EXPECT_EQ(first("math"), "Calculator");
  EXPECT_EQ(first("arithmetic"), "Calculator");
  EXPECT_EQ(first("word"), "LibreOffice Writer");
  EXPECT_EQ(first("calc"), "Calculator") << "the app before its own action";
  EXPECT_EQ(first("new window"), "Calculator: New Window");

  const size_t calculator = 0;  // first by name
  ASSERT_EQ(index.items()[calculator].name, "Calculator");
  EXPECT_EQ(index.details(calculator).about, "Do sums") << "a generic name that is the name";
  const auto writer = index.position(std::filesystem::canonical(root + "/writer.desktop").string());
  ASSERT_TRUE(writer);
  EXPECT_EQ(index.details(static_cast<size_t>(*writer)).about, "Word Processor");
  ASSERT_EQ(index.actions(calculator).size(), 1U);
  const Item& newWindow = index.items()[static_cast<size_t>(index.actions(calculator)[0])];
  EXPECT_EQ(newWindow.kind.action, "new-window");
  EXPECT_EQ(index.details(static_cast<size_t>(index.actions(calculator)[0])).icon, "window-new");

  // The action runs through the entry, and the started program carries a startup id that
  // names the entry Vesk launched.
  EXPECT_FALSE(catalog.launch(newWindow.kind.url, {0, {}, "no-such-action", {}}));
  ASSERT_TRUE(catalog.launch(newWindow.kind.url, {0, {}, "new-window", {}}));
  std::string startupId;
  EXPECT_TRUE(test::pumpUntil([&] {
    std::ifstream file(marker);
    std::getline(file, startupId);
    return !startupId.empty();
  }));
  EXPECT_EQ(GioAppCatalog::launchedDesktopId(startupId), "calc");
  EXPECT_EQ(GioAppCatalog::launchedDesktopId("other-launcher-1_TIME5"), std::nullopt);
}

// An entry with Terminal=true starts the configured terminal with the entry's command after the
// option that terminal takes; GIO alone looks for a few terminals of its own and fails without.
TEST(GioAppCatalog, TerminalEntriesRunInTheConfiguredTerminal) {
  test::TempFolder folder;
  const std::string args = folder / "args";
  const std::string program = folder / "bin/my-terminal";
  test::writeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + args + ".part'\nmv '" + args +
                               ".part' '" + args + "'\n");
  ::chmod(program.c_str(), 0755);
  const std::string terminal = folder / "my-terminal.desktop";
  test::writeFile(terminal,
                  entry("My Terminal").replace(entry("My Terminal").find("/bin/true"), 9, program));
  const std::string tool = folder / "tool.desktop";
  test::writeFile(tool,
                  "[Desktop Entry]\nType=Application\nName=Tool\nTerminal=true\n"
                  "Exec=/usr/bin/tool --flag \"two words\" %f\n");

  GioAppCatalog catalog;
  const auto opened = catalog.open({folder / "notes.txt"}, tool, {0, {}, {}, terminal});
  ASSERT_TRUE(opened) << opened.failure().description;
  ASSERT_TRUE(test::pumpUntil([&] { return std::filesystem::exists(args); }));
  EXPECT_EQ(test::readFile(args),
            "-e\n/usr/bin/tool\n--flag\ntwo words\n" + (folder / "notes.txt") + "\n");
}

// FIFOs, a socket, a device and links to them named like entries in an application folder:
// listing every entry (the terminal's discovery), finding one by id and reading one never
// block, and the real entries beside them are still found.
TEST(GioAppCatalog, EntriesThatAreNotRegularFilesNeverBlockAListingOrALookup) {
  const std::string applications = test::dataHome() + "/applications";
  test::writeFile(applications + "/vesk-test-term.desktop",
                  entry("Term", "Categories=System;TerminalEmulator;\n"));
  std::vector<std::string> odd;
  for (const std::string name : {"fifo-a", "fifo-b", "fifo-c"}) {
    odd.push_back(applications + "/vesk-test-" + name + ".desktop");
    ASSERT_EQ(::mkfifo(odd.back().c_str(), 0600), 0);
  }
  odd.push_back(applications + "/vesk-test-zero.desktop");
  std::filesystem::create_symlink("/dev/zero", odd.back());
  odd.push_back(applications + "/vesk-test-link.desktop");
  std::filesystem::create_symlink(odd.front(), odd.back());
  odd.push_back(applications + "/vesk-test-socket.desktop");
  const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", odd.back().c_str());
  ASSERT_EQ(::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

  GioAppCatalog catalog;
  auto asking = std::async(std::launch::async, [&] {
    std::vector<std::string> answers{catalog.systemTerminal().value_or("none")};
    for (const std::string& path : odd) {
      const std::string id = std::filesystem::path(path).filename().string();
      answers.push_back(catalog.pathForDesktopId(id).value_or("none"));
      answers.push_back(catalog.isTerminalEmulator(path) ? "terminal" : "no");
      answers.push_back(catalog.listedName(path).value_or("none"));
      answers.push_back(catalog.launch(path, {}) ? "launched" : "refused");
    }
    return answers;
  });
  const bool answered = asking.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  EXPECT_TRUE(answered) << "a FIFO entry blocked the catalog";
  while (asking.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    for (const std::string& path : odd) {
      ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    }
  }
  std::vector<std::string> expected{applications + "/vesk-test-term.desktop"};
  for (size_t i = 0; i < odd.size(); ++i) {
    expected.insert(expected.end(), {"none", "no", "none", "refused"});
  }
  EXPECT_EQ(asking.get(), expected);
  ::close(listening);
  for (const std::string& path : odd) {
    std::filesystem::remove(path);
  }
  std::filesystem::remove(applications + "/vesk-test-term.desktop");
}

TEST(AppScanner, OnlyDesktopEntriesAffectTheIndex) {
  EXPECT_TRUE(AppScanner::affectsIndex("/home/me/.local/share/applications/tool.desktop"));
  EXPECT_FALSE(AppScanner::affectsIndex("/home/me/.local/share/applications/mimeinfo.cache"));
  EXPECT_FALSE(AppScanner::affectsIndex("/home/me/.local/share/applications/.tool.desktop.swp"));
}

using TableCatalog = FakeAppCatalog;

class AppResolverTest : public testing::Test {
 protected:
  AppResolverTest() {
    catalog.desktopIds = {{"org.example.Mail", "/apps/org.example.Mail.desktop"}};
    catalog.fileTypes = {{"png", "image/png"}, {"md", "text/markdown"}, {"MD", "text/markdown"}};
    catalog.parents = {{"text/markdown", "text/plain"}};
  }

  TableCatalog catalog;
  std::vector<AppResolver::App> apps = {
      {{"Terminal", "terminal"}, "/apps/terminal.desktop"},
      {{"Image Viewer", "viewer"}, "/apps/viewer.desktop"},
  };
  std::string home = "/home/me";
};

TEST_F(AppResolverTest, ReferencesResolveByPathNameOrDesktopIdInThatOrder) {
  test::TempFolder folder;
  test::writeFile(folder / "tool.desktop", entry("Tool"));

  EXPECT_EQ(AppResolver::resolve(folder / "tool.desktop", apps, catalog, home),
            folder / "tool.desktop");
  EXPECT_EQ(AppResolver::resolve("/usr/bin/vim", apps, catalog, home), std::nullopt);
  EXPECT_EQ(AppResolver::resolve("~/missing.desktop", apps, catalog, home), std::nullopt);
  EXPECT_EQ(AppResolver::resolve("terminal", apps, catalog, home), "/apps/terminal.desktop");
  EXPECT_EQ(AppResolver::resolve("image viewer", apps, catalog, home), "/apps/viewer.desktop");
  EXPECT_EQ(AppResolver::resolve("org.example.Mail", apps, catalog, home),
            "/apps/org.example.Mail.desktop");
  EXPECT_EQ(AppResolver::resolve("No Such App", apps, catalog, home), std::nullopt);
}

// An entry named by path runs what it says, so one that another user could change is refused
// with a problem saying so; the same entry made private is used.
TEST_F(AppResolverTest, AnEntryOthersCanChangeIsNotUsed) {
  test::TempFolder folder;
  const std::string tool = folder / "tool.desktop";
  test::writeFile(tool, entry("Tool"));
  ::chmod(tool.c_str(), 0666);
  const std::string link = folder / "link.desktop";
  std::filesystem::create_symlink(tool, link);

  const auto resolved = AppResolver::resolveConfigured({{"txt", tool}}, {{"mailto", link}}, link,
                                                       apps, catalog, home);
  EXPECT_TRUE(resolved.openWith.empty());
  EXPECT_TRUE(resolved.openLinks.empty());
  EXPECT_FALSE(resolved.terminal);
  EXPECT_EQ(
      resolved.problems,
      (std::vector<std::string>{
          "open_with.txt: \"" + tool + "\" can be changed by other users, so it isn't used",
          "open_links.mailto: \"" + link + "\" can be changed by other users, so it isn't used",
          "actions.terminal: \"" + link + "\" can be changed by other users, so it isn't used"}));

  ::chmod(tool.c_str(), 0644);
  EXPECT_EQ(AppResolver::resolve(link, apps, catalog, home), link);
}

TEST_F(AppResolverTest, HttpsAlsoServesHttpUnlessHttpHasItsOwnEntry) {
  auto only = AppResolver::links({{"https", "Terminal"}}, apps, catalog, home);
  EXPECT_EQ(only.apps.at("http"), "/apps/terminal.desktop");

  auto both = AppResolver::links({{"https", "Terminal"}, {"http", "viewer"}}, apps, catalog, home);
  EXPECT_EQ(both.apps.at("http"), "/apps/viewer.desktop");
  EXPECT_EQ(both.apps.at("https"), "/apps/terminal.desktop");
}

TEST_F(AppResolverTest, ProblemsComeInOrderAndTheRestStillResolves) {
  const auto resolved = AppResolver::resolveConfigured(
      {{"png", "viewer"}, {"public.nothing", "viewer"}, {"txt", "Ghost"}},
      {{"mailto", "Nobody Here"}}, "Konsole", apps, catalog, home);

  EXPECT_EQ(resolved.openWith,
            (std::map<std::string, std::string>{{"png", "/apps/viewer.desktop"}}));
  EXPECT_EQ(resolved.problems,
            (std::vector<std::string>{"open_with \"public.nothing\" isn't a known file type",
                                      "open_with.txt: can't find the app \"Ghost\"",
                                      "open_links.mailto: can't find the app \"Nobody Here\"",
                                      "actions.terminal: can't find the app \"Konsole\""}));
}

TEST_F(AppResolverTest, TheDefaultTerminalIsTheDesktopsOwnWhenNoAppIsCalledTerminal) {
  apps.erase(apps.begin());
  catalog.terminal = "/usr/share/applications/xfce4-terminal.desktop";
  const auto resolved = AppResolver::resolveConfigured({}, {}, "Terminal", apps, catalog, home);
  EXPECT_EQ(resolved.terminal, catalog.terminal);
  EXPECT_TRUE(resolved.problems.empty());

  catalog.terminal.reset();  // a system without any terminal
  EXPECT_EQ(AppResolver::resolveConfigured({}, {}, "Terminal", apps, catalog, home).problems,
            std::vector<std::string>{"actions.terminal: can't find the app \"Terminal\""});
}

TEST_F(AppResolverTest, TheMostSpecificTypeWinsAndAnExtensionBeatsEveryType) {
  const std::map<std::string, std::string> byType = {{"public.image", "/apps/any-image.desktop"},
                                                     {"public.png", "/apps/png.desktop"}};
  EXPECT_EQ(AppResolver::app("/tmp/a.png", byType, catalog), "/apps/png.desktop");

  const std::map<std::string, std::string> withExtension = {
      {"md", "/apps/md.desktop"}, {"public.plain-text", "/apps/text.desktop"}};
  EXPECT_EQ(AppResolver::app("/tmp/NOTES.MD", withExtension, catalog), "/apps/md.desktop");
  EXPECT_EQ(AppResolver::app("/tmp/unknown.xyz", byType, catalog), std::nullopt);
}

TEST_F(AppResolverTest, AppsToOpenAFileAreNamedAsTheUserKnowsThem) {
  const auto items = AppResolver::apps("/tmp/a.png", apps, catalog);
  EXPECT_EQ(names(items), (std::vector<std::string>{"Image Viewer", "other"}));
}

RunningApp app(const std::string& name, double launched) {
  return RunningApp{"org." + name, "/apps/" + name + ".desktop", name, 1, launched, {1}};
}

TEST(RunningApps, ActivationMovesToTheFrontAndLaunchesQueueBehindUsedApps) {
  FakeWorkspace workspace;
  workspace.apps = {app("a", 1), app("b", 2)};
  RunningApps running(workspace);
  EXPECT_EQ(running.order(), (std::vector<std::string>{"/apps/a.desktop", "/apps/b.desktop"}));

  std::vector<bool> changes;
  running.onChange = [&changes](bool setChanged) { changes.push_back(setChanged); };
  running.activated(app("b", 2));
  EXPECT_EQ(running.order().front(), "/apps/b.desktop");

  workspace.apps.push_back(app("c", 3));
  running.changed();
  EXPECT_EQ(running.order(),
            (std::vector<std::string>{"/apps/b.desktop", "/apps/a.desktop", "/apps/c.desktop"}));

  RunningApp windowless = app("d", 4);
  windowless.windows.clear();
  running.activated(windowless);
  EXPECT_EQ(changes, (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace vesk
