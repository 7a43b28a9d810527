// Texts of the stage and placement of the panel.

#include "app/launcher/panel_content.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QRect>
#include <algorithm>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/launcher/action.h"
#include "app/launcher/launcher_panel.h"
#include "app/launcher/preview_window.h"
#include "app/launcher/symbols.h"
#include "tests/app/app_test_support.h"

namespace vesk {
namespace {

TEST(PanelContent, ProblemTitlesSplitTheLineFromTheMessage) {
  EXPECT_EQ(PanelContent::problemTile("line 4: unknown key"),
            (std::pair<std::string, std::string>{"Unknown key", "Config problem, line 4"}));
  EXPECT_EQ(PanelContent::problemTile("hotkeys.launcher is taken: by another app"),
            (std::pair<std::string, std::string>{"hotkeys.launcher is taken: by another app",
                                                 "Config problem"}));
  EXPECT_EQ(PanelContent::problemTile("line x: odd"),
            (std::pair<std::string, std::string>{"line x: odd", "Config problem"}));
}

TEST(PanelContent, MiddleKeepsBothEndsByCharacters) {
  EXPECT_EQ(PanelContent::middle("abcdefgh", 5), "abc\u2026gh");
  EXPECT_EQ(PanelContent::middle("abcde", 5), "abcde");
  // Characters, not bytes: an é is never split.
  EXPECT_EQ(PanelContent::middle("\u00e9t\u00e9-\u00e9t\u00e9", 2), "\u00e9\u2026\u00e9");
  EXPECT_EQ(PanelContent::middle("abc", 0), "\u2026");
}

TEST(PanelContent, PathsUnderHomeAreShortenedOnlyAtAFolderBoundary) {
  EXPECT_EQ(PanelContent::parentFolder("/home/ann/Documents/a.txt", "/home/ann"), "~/Documents");
  EXPECT_EQ(PanelContent::parentFolder("/home/ann/a.txt", "/home/ann"), "~");
  EXPECT_EQ(PanelContent::parentFolder("/home/anna/a.txt", "/home/ann"), "/home/anna");
  EXPECT_EQ(PanelContent::parentFolder("/a.txt", "/home/ann"), "/");
}

TEST(LauncherPanel, ThePanelHangsFromAFixedTopEdgeCentredOnTheScreen) {
  // A full panel is centred on the available area; a short one keeps the same top edge.
  const QRect tall = LauncherPanel::placement(QRect(0, 0, 1280, 800), 423);
  EXPECT_EQ(tall, QRect(300, 189, 680, 423));
  const QRect shortPanel = LauncherPanel::placement(QRect(0, 0, 1280, 800), 52);
  EXPECT_EQ(shortPanel.top(), tall.top());
  // A second screen to the right, under a top bar; halves round away from zero.
  EXPECT_EQ(LauncherPanel::placement(QRect(1920, 27, 1681, 1053), 52), QRect(2421, 342, 680, 52));
}

// A row whose symbol has no drawing of Vesk's own draws nothing where the theme lacks it, and
// a name outside the list is never rendered ahead of the first request.
TEST(PanelSymbols, EveryActionAndCommandSymbolIsListedAndDrawn) {
  std::vector<std::string_view> used;
  for (int i = 0; i <= static_cast<int>(Action::forceQuit); ++i) {
    used.push_back(symbol(static_cast<Action>(i)));
  }
  for (int i = 0; i <= static_cast<int>(ClipAction::remove); ++i) {
    used.push_back(symbol(static_cast<ClipAction>(i)));
  }
  for (const Command command : kAllCommands) {
    used.push_back(Symbols::command(command));
  }
  for (const char* name :
       {"link", "text.alignleft", "exclamationmark.triangle", "pin", "magnifyingglass"}) {
    used.emplace_back(name);
  }
  const auto all = Symbols::all();
  for (const std::string_view name : used) {
    EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name;
    EXPECT_FALSE(Symbols::drawing(name).isEmpty()) << name;
  }
}

TEST(PreviewWindow, APdfShowsItsFirstPageAndABrokenOneItsFacts) {
  test::TempFolder folder;
  const std::string pdf = folder / "report.pdf";
  {
    QPdfWriter writer(QString::fromStdString(pdf));
    QPainter painter(&writer);
    painter.fillRect(QRectF(0, 0, 200, 100), Qt::black);
  }
  const std::string broken = folder / "broken.pdf";
  test::writeFile(broken, "%PDF-1.4\nnot really a document");

  PreviewWindow preview(test::testExecutor());
  const auto shown = [&preview](const std::string& path) {
    preview.show(path, QGuiApplication::primaryScreen(), nullptr);
    EXPECT_EQ(preview.kind(), "loading");
    EXPECT_TRUE(test::pumpUntil([&preview] { return preview.kind() != "loading"; }));
    return preview.kind();
  };
  EXPECT_EQ(shown(pdf), "pdf");
  EXPECT_EQ(shown(broken), "file");

  // A FIFO named like a document, and a folder whose entries aren't UTF-8: neither blocks nor
  // fails, and the folder's entries are listed.
  const std::string fifo = folder / "stuck.pdf";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(shown(fifo), "file");
  const std::string odd = folder / "caf\xe9";
  std::filesystem::create_directory(odd);
  test::writeFile(odd + "/menu\xff.txt", "soup");
  EXPECT_EQ(shown(odd), "folder");
  preview.hide();
}

}  // namespace
}  // namespace vesk
