#include "core/search/item.h"

#include <set>
#include <string>
#include <unordered_set>

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(Command, RawValuesAndTitlesInListingOrder) {
  struct Row {
    Command command;
    const char* raw;
    const char* title;
  };
  const Row rows[] = {
      {Command::clipboard, "clipboard", "Clipboard History"},
      {Command::pauseClipboard, "pause-clipboard", "Pause Clipboard Recording"},
      {Command::resumeClipboard, "resume-clipboard", "Resume Clipboard Recording"},
      {Command::clearClipboard, "clear-clipboard", "Clear Clipboard History"},
      {Command::installUpdate, "install-update", "Update Vesk"},
      {Command::checkForUpdates, "check-for-updates", "Check for Updates"},
      {Command::openConfig, "open-config", "Open Config"},
      {Command::reloadConfig, "reload-config", "Reload Config"},
      {Command::quit, "quit", "Quit Vesk"},
  };
  ASSERT_EQ(kAllCommands.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(kAllCommands[i], rows[i].command) << i;
    EXPECT_EQ(rawValue(rows[i].command), rows[i].raw);
    EXPECT_EQ(title(rows[i].command), rows[i].title);
  }
}

TEST(Command, FromRawValueRoundTripsEveryCase) {
  for (Command command : kAllCommands) {
    EXPECT_EQ(commandFromRawValue(rawValue(command)), command);
  }
}

TEST(Command, FromRawValueRejectsUnknownAndNearMisses) {
  EXPECT_FALSE(commandFromRawValue(""));
  EXPECT_FALSE(commandFromRawValue("Quit"));
  EXPECT_FALSE(commandFromRawValue("quit "));
  EXPECT_FALSE(commandFromRawValue("pauseClipboard"));
  EXPECT_FALSE(commandFromRawValue("command:quit"));
}

TEST(Command, OnlyClipboardHasTheDefaultAliasC) {
  for (Command command : kAllCommands) {
    const auto list = aliases(command);
    if (command == Command::clipboard) {
      ASSERT_EQ(list.size(), 1u);
      EXPECT_EQ(list[0], "c");
    } else {
      EXPECT_TRUE(list.empty()) << rawValue(command);
    }
  }
}

TEST(Item, CommandItemTakesTitleAndPrefixedRawValue) {
  const Item item = Item::command(Command::installUpdate);
  EXPECT_EQ(item.name, "Update Vesk");
  EXPECT_EQ(item.id, "command:install-update");
  EXPECT_EQ(item.kind.tag, Item::Kind::Tag::command);
  EXPECT_EQ(item.kind.command, Command::installUpdate);
  EXPECT_FALSE(item.url());
  EXPECT_FALSE(item.isApp());
  EXPECT_EQ(Item::command(Command::checkForUpdates).id, "command:check-for-updates");
}

TEST(Item, AppIdDefaultsToItsPath) {
  const Item item = Item::app("Safari", "/Applications/Safari.app");
  EXPECT_EQ(item.name, "Safari");
  EXPECT_EQ(item.id, "/Applications/Safari.app");
  EXPECT_EQ(item.url(), "/Applications/Safari.app");
  EXPECT_TRUE(item.isApp());
}

TEST(Item, AppKeepsAGivenIdAndDropsATrailingSlashFromItsLocation) {
  const Item item = Item::app("Code", "/opt/Code.app/", "/real/Code.app");
  EXPECT_EQ(item.id, "/real/Code.app");
  EXPECT_EQ(item.url(), "/opt/Code.app");
  EXPECT_EQ(Item::app("Code", "/opt/Code.app/").id, "/opt/Code.app");
}

TEST(Item, FileAndFolderAreNamedAfterTheLastComponent) {
  const Item file = Item::file("/Users/me/notes.txt", false);
  EXPECT_EQ(file.kind.tag, Item::Kind::Tag::file);
  EXPECT_EQ(file.name, "notes.txt");
  EXPECT_EQ(file.id, "file:/Users/me/notes.txt");
  EXPECT_EQ(file.url(), "/Users/me/notes.txt");
  EXPECT_FALSE(file.isApp());

  const Item folder = Item::file("/Users/me/Projects", true);
  EXPECT_EQ(folder.kind.tag, Item::Kind::Tag::folder);
  EXPECT_EQ(folder.name, "Projects");
  EXPECT_EQ(folder.id, "folder:/Users/me/Projects");
}

TEST(Item, FolderPathWithTrailingSlashKeepsTheIdUnchanged) {
  const Item folder = Item::file("/Users/me/Projects/", true);
  EXPECT_EQ(folder.name, "Projects");
  EXPECT_EQ(folder.id, "folder:/Users/me/Projects/");
  EXPECT_EQ(folder.url(), "/Users/me/Projects");
}

TEST(Item, RootFolderIsNamedSlash) {
  const Item root = Item::file("/", true);
  EXPECT_EQ(root.name, "/");
  EXPECT_EQ(root.url(), "/");
}

TEST(Item, NonAsciiAndVeryLongPathsKeepTheirBytes) {
  const Item cafe = Item::file("/home/me/Café/Ärger 日本語.txt", false);
  EXPECT_EQ(cafe.name, "Ärger 日本語.txt");
  EXPECT_EQ(cafe.id, "file:/home/me/Café/Ärger 日本語.txt");

  const std::string longName(5000, 'x');
  const Item longItem = Item::file("/tmp/" + longName, false);
  EXPECT_EQ(longItem.name, longName);
}

TEST(Item, FromFileIDGivesAFolderNamedAfterItsPath) {
  const auto item = Item::fromFileID("folder:/Users/me/Projects");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->kind.tag, Item::Kind::Tag::folder);
  EXPECT_EQ(item->name, "Projects");
  EXPECT_EQ(item->id, "folder:/Users/me/Projects");
  EXPECT_EQ(item->url(), "/Users/me/Projects");
}

TEST(Item, FromFileIDIsTheInverseOfFile) {
  for (const char* path : {"/a/b.txt", "/Users/me/Old", "/x/y/", "/日本/語"}) {
    for (bool isFolder : {false, true}) {
      const Item item = Item::file(path, isFolder);
      EXPECT_EQ(Item::fromFileID(item.id), item) << item.id;
    }
  }
}

TEST(Item, FromFileIDRejectsApplicationsCommandsAndEmptyPaths) {
  EXPECT_FALSE(Item::fromFileID("/Applications/Safari.app"));
  EXPECT_FALSE(Item::fromFileID("command:quit"));
  EXPECT_FALSE(Item::fromFileID(""));
  EXPECT_FALSE(Item::fromFileID("File:/a"));
  EXPECT_FALSE(Item::fromFileID("files:/a"));
  EXPECT_FALSE(Item::fromFileID("file:"));
  EXPECT_FALSE(Item::fromFileID("folder:"));
}

TEST(Item, EqualityCoversKindNameAndId) {
  const Item a = Item::app("Safari", "/Applications/Safari.app");
  EXPECT_EQ(a, Item::app("Safari", "/Applications/Safari.app"));
  EXPECT_NE(a, Item::app("Safari 2", "/Applications/Safari.app"));
  EXPECT_NE(a, Item::app("Safari", "/Applications/Safari.app", "other"));
  EXPECT_NE(a, Item::app("Safari", "/Other/Safari.app", "/Applications/Safari.app"));
  // Same location, different kind.
  EXPECT_NE(Item::file("/a", false).kind, Item::file("/a", true).kind);
  EXPECT_NE(Item::command(Command::quit), Item::command(Command::openConfig));
}

TEST(Item, EqualItemsHashEqualAndDistinctItemsSpreadInASet) {
  std::unordered_set<Item> set;
  set.insert(Item::app("Safari", "/Applications/Safari.app"));
  set.insert(Item::app("Safari", "/Applications/Safari.app"));
  set.insert(Item::file("/a", false));
  set.insert(Item::file("/a", true));
  for (Command command : kAllCommands) {
    set.insert(Item::command(command));
  }
  EXPECT_EQ(set.size(), 3u + kAllCommands.size());
  EXPECT_EQ(std::hash<Item>{}(Item::file("/a", false)), std::hash<Item>{}(Item::file("/a", false)));
}

TEST(ItemPath, DeletingExtension) {
  EXPECT_EQ(ItemPath::deletingExtension("Code.app"), "Code");
  EXPECT_EQ(ItemPath::deletingExtension("archive.tar.gz"), "archive.tar");
  EXPECT_EQ(ItemPath::deletingExtension("README"), "README");
  EXPECT_EQ(ItemPath::deletingExtension(".zshrc"), ".zshrc");
  EXPECT_EQ(ItemPath::deletingExtension("notes."), "notes.");
  EXPECT_EQ(ItemPath::deletingExtension("Visual Studio Code.app"), "Visual Studio Code");
}

}  // namespace
}  // namespace vesk
