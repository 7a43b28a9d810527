#include "core/search/search_index.h"

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/search/fuzzy_matcher.h"
#include "core/search/item.h"

namespace vesk {
namespace {

Item app(const std::string& name) {
  return Item::app(name, "/Applications/" + name + ".app");
}

std::vector<Item> commands() {
  std::vector<Item> items;
  for (Command command : kAllCommands) {
    items.push_back(Item::command(command));
  }
  return items;
}

std::vector<std::string> names(const SearchIndex& index, const std::vector<int>& positions) {
  std::vector<std::string> result;
  for (int position : positions) {
    result.push_back(index.items().at(static_cast<size_t>(position)).name);
  }
  return result;
}

std::vector<std::string> allNames(const SearchIndex& index) {
  std::vector<std::string> result;
  for (const Item& item : index.items()) {
    result.push_back(item.name);
  }
  return result;
}

int32_t scoreOf(std::string_view term, std::string_view name) {
  FuzzyMatcher matcher(term);
  return matcher.score(SearchKey(name)).value();
}

// --- Building ---

TEST(SearchIndex, SortsNumbersByValueAndIgnoresCase) {
  const SearchIndex index(
      {app("file10"), app("banana"), app("file2"), app("Apple"), app("Cherry")});
  EXPECT_EQ(allNames(index),
            (std::vector<std::string>{"Apple", "banana", "Cherry", "file2", "file10"}));
}

TEST(SearchIndex, SortIsStableForNamesThatCompareEqual) {
  const SearchIndex index({Item::app("Notes", "/b/Notes.app"), Item::app("notes", "/c/notes.app"),
                           Item::app("Notes", "/a/Notes.app"), app("Mail")});
  ASSERT_EQ(index.size(), 4u);
  EXPECT_EQ(index.items()[0].name, "Mail");
  EXPECT_EQ(index.items()[1].id, "/b/Notes.app");
  EXPECT_EQ(index.items()[2].id, "/c/notes.app");
  EXPECT_EQ(index.items()[3].id, "/a/Notes.app");
}

TEST(SearchIndex, SortsAccentedNamesAmongTheirLetters) {
  const SearchIndex index({app("eclair"), app("Éclair"), app("dune"), app("fig")});
  EXPECT_EQ(allNames(index), (std::vector<std::string>{"dune", "eclair", "Éclair", "fig"}));
}

TEST(SearchIndex, ArraysAreParallelAndKeysMatchNames) {
  const SearchIndex index({app("Safari"), Item::command(Command::quit), app("Mail")});
  ASSERT_EQ(index.names().size(), 3u);
  ASSERT_EQ(index.fileNames().size(), 3u);
  for (size_t i = 0; i < index.size(); ++i) {
    EXPECT_EQ(index.names()[i], SearchKey(index.items()[i].name));
  }
}

TEST(SearchIndex, FileNameKeyOnlyWhereTheBundleNameDiffers) {
  const SearchIndex index({Item::app("Visual Studio Code", "/Applications/Code.app"),
                           Item::app("Safari", "/Applications/Safari.app"),
                           Item::command(Command::quit)});
  const auto code = index.position("/Applications/Code.app").value();
  const auto safari = index.position("/Applications/Safari.app").value();
  const auto quit = index.position("command:quit").value();
  ASSERT_TRUE(index.fileNames()[code]);
  EXPECT_EQ(*index.fileNames()[code], SearchKey("Code"));
  EXPECT_FALSE(index.fileNames()[safari]);
  EXPECT_FALSE(index.fileNames()[quit]);
}

TEST(SearchIndex, EmptyIndexIsSharedAndFindsNothing) {
  const SearchIndex& empty = SearchIndex::empty();
  EXPECT_EQ(&empty, &SearchIndex::empty());
  EXPECT_EQ(empty.size(), 0u);
  EXPECT_TRUE(empty.aliases().empty());
  EXPECT_TRUE(empty.scoredSearch("a", 50).empty());
  EXPECT_FALSE(empty.position("command:quit"));
}

TEST(SearchIndex, SameIdTwiceKeepsBothSearchableAndPositionGivesTheFirst) {
  const SearchIndex index({Item::app("Terminal", "/x/Terminal.app", "dup"),
                           Item::app("Terminal Beta", "/y/Terminal Beta.app", "dup")});
  EXPECT_EQ(index.position("dup"), 0);
  EXPECT_EQ(index.positions().size(), 1u);
  EXPECT_EQ(index.search("term", 50).size(), 2u);
}

TEST(SearchIndex, PositionOfUnknownIdIsNone) {
  const SearchIndex index({app("Safari")});
  EXPECT_EQ(index.position("/Applications/Safari.app"), 0);
  EXPECT_FALSE(index.position("/Applications/Mail.app"));
  EXPECT_FALSE(index.position(""));
}

// --- Ranking ---

TEST(SearchIndex, BlankQueriesGiveNothingNotEvenTheAlias) {
  const SearchIndex index(commands());
  for (const char* query : {"", " ", "   ", "~", ".", "/", "~/", " ~ / . "}) {
    EXPECT_TRUE(index.scoredSearch(query, 50).empty()) << '"' << query << '"';
  }
}

TEST(SearchIndex, DefaultAliasPutsClipboardHistoryFirst) {
  std::vector<Item> items = commands();
  items.push_back(app("Calculator"));
  items.push_back(app("Safari"));
  const SearchIndex index(items);
  const auto results = index.scoredSearch("c", 50);
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(index.items()[results[0].index].name, "Clipboard History");
  EXPECT_EQ(results[0].score, SearchIndex::kAliasScore);
  // Every other item that holds a "c" follows; Safari has none.
  for (size_t i = 1; i < results.size(); ++i) {
    EXPECT_NE(index.items()[results[i].index].name.find_first_of("cC"), std::string::npos);
    EXPECT_LT(results[i].score, SearchIndex::kAliasScore);
  }
  const auto positions = index.search("c", 50);
  EXPECT_EQ(std::count(positions.begin(), positions.end(), results[0].index), 1)
      << "the alias result is listed once";
  EXPECT_EQ(std::find(positions.begin(), positions.end(),
                      index.position("/Applications/Safari.app").value()),
            positions.end());
}

TEST(SearchIndex, AliasIgnoresCaseAndSurroundingSpacesAndTabs) {
  const SearchIndex index(commands());
  const auto clipboard = index.position("command:clipboard").value();
  for (const char* query : {"C ", " c", "\tc\t", "C"}) {
    const auto results = index.scoredSearch(query, 50);
    ASSERT_FALSE(results.empty()) << query;
    EXPECT_EQ(results[0].index, clipboard) << query;
    EXPECT_EQ(results[0].score, SearchIndex::kAliasScore) << query;
  }
  // A newline is not trimmed for the alias.
  const auto results = index.scoredSearch("c\n", 50);
  ASSERT_FALSE(results.empty());
  EXPECT_LT(results[0].score, SearchIndex::kAliasScore);
}

TEST(SearchIndex, AliasSelectsItsItemEvenWhenTheLettersDoNotMatch) {
  SearchIndex index(commands());
  const std::vector<std::string> aliases = {"zz"};
  index.setAliases(aliases, Command::quit);
  const auto results = index.scoredSearch("zz", 50);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(index.items()[results[0].index].id, "command:quit");
}

TEST(SearchIndex, SetAliasesReplacesTheDefault) {
  SearchIndex index(commands());
  const auto clipboard = index.position("command:clipboard").value();
  const std::vector<std::string> aliases = {"clip", "CB"};
  index.setAliases(aliases, Command::clipboard);
  EXPECT_EQ(index.aliases().size(), 2u);
  EXPECT_FALSE(index.aliases().contains("c"));
  for (const char* query : {"clip", "cb", "CB"}) {
    const auto results = index.scoredSearch(query, 50);
    ASSERT_FALSE(results.empty()) << query;
    EXPECT_EQ(results[0].index, clipboard);
    EXPECT_EQ(results[0].score, SearchIndex::kAliasScore);
  }
  for (const auto& result : index.scoredSearch("c", 50)) {
    EXPECT_LT(result.score, SearchIndex::kAliasScore);
  }
}

TEST(SearchIndex, EmptyAliasListRemovesTheAliasAndEmptyStringsAreSkipped) {
  SearchIndex index(commands());
  index.setAliases({}, Command::clipboard);
  EXPECT_TRUE(index.aliases().empty());
  const std::vector<std::string> blank = {""};
  index.setAliases(blank, Command::clipboard);
  EXPECT_TRUE(index.aliases().empty());
}

TEST(SearchIndex, AliasMovesBetweenCommands) {
  SearchIndex index(commands());
  const std::vector<std::string> aliases = {"x"};
  index.setAliases(aliases, Command::quit);
  index.setAliases(aliases, Command::openConfig);
  ASSERT_EQ(index.aliases().size(), 2u);  // "c" and "x"
  EXPECT_EQ(index.aliases().at("x"), index.position("command:open-config").value());
  EXPECT_EQ(index.aliases().at("c"), index.position("command:clipboard").value());
}

TEST(SearchIndex, SetAliasesForACommandNotIndexedDoesNothing) {
  SearchIndex index({Item::command(Command::clipboard), app("Safari")});
  const std::vector<std::string> aliases = {"q"};
  index.setAliases(aliases, Command::quit);
  EXPECT_EQ(index.aliases().size(), 1u);
  EXPECT_FALSE(index.aliases().contains("q"));
}

TEST(SearchIndex, NonAsciiAliasIsLowerCased) {
  SearchIndex index(commands());
  const std::vector<std::string> aliases = {"Ärger"};
  index.setAliases(aliases, Command::clipboard);
  EXPECT_TRUE(index.aliases().contains("ärger"));
  const auto results = index.scoredSearch("ÄRGER", 50);
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results[0].score, SearchIndex::kAliasScore);
}

TEST(SearchIndex, TwoTermsKeepOnlyItemsMatchingBothWithSummedScores) {
  const SearchIndex index({app("Visual Studio Code"), app("Visual Basic"), app("Xcode")});
  const auto results = index.scoredSearch("vis code", 50);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(index.items()[results[0].index].name, "Visual Studio Code");
  EXPECT_EQ(results[0].score,
            scoreOf("vis", "Visual Studio Code") + scoreOf("code", "Visual Studio Code"));
}

TEST(SearchIndex, TermsSplitAtSlashAndTildeLikeTheMatcher) {
  const SearchIndex index({app("Documents"), app("Downloads")});
  EXPECT_EQ(names(index, index.search("~/doc", 50)), (std::vector<std::string>{"Documents"}));
}

TEST(SearchIndex, ScoreIsTheMatcherScore) {
  const SearchIndex index({app("Safari"), app("iTerm2")});
  const auto saf = index.scoredSearch("saf", 50);
  ASSERT_EQ(saf.size(), 1u);
  EXPECT_EQ(saf[0].score, 88);
  const auto term = index.scoredSearch("term", 50);
  ASSERT_EQ(term.size(), 1u);
  EXPECT_EQ(term[0].score, 99);
}

TEST(SearchIndex, TiesGoToTheShorterNameThenTheLowerPosition) {
  // "cal" scores 88 in both Calendar and Calculator.
  const SearchIndex index({app("Calculator"), app("Calendar")});
  EXPECT_EQ(names(index, index.search("cal", 50)),
            (std::vector<std::string>{"Calendar", "Calculator"}));

  // Equal scores and equal lengths: alphabetical order, which is the position order.
  const SearchIndex same({app("Mail B"), app("Mail A"), app("Mail C")});
  EXPECT_EQ(names(same, same.search("mail", 50)),
            (std::vector<std::string>{"Mail A", "Mail B", "Mail C"}));
}

TEST(SearchIndex, LimitCutsAfterRanking) {
  std::vector<Item> items;
  for (int i = 0; i < 120; ++i) {
    items.push_back(app("Tool " + std::to_string(i)));
  }
  items.push_back(app("t"));
  const SearchIndex index(items);
  const auto results = index.search("t", 5);
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(index.items()[results[0]].name, "t");
  EXPECT_TRUE(index.search("t", 0).empty());
  EXPECT_EQ(index.search("t", 1000).size(), 121u);
}

TEST(SearchIndex, BoostsAreAddedPerItem) {
  const SearchIndex index({app("Calculator"), app("Calendar")});
  const auto calculator = index.position("/Applications/Calculator.app").value();
  std::vector<int32_t> boosts(index.size(), 0);
  boosts[calculator] = 12;
  const auto results = index.scoredSearch("cal", 50, boosts);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].index, calculator);
  EXPECT_EQ(results[0].score, 88 + 12);
  EXPECT_EQ(results[1].score, 88);
}

TEST(SearchIndex, BoostsOfTheWrongLengthAreIgnored) {
  const SearchIndex index({app("Calculator"), app("Calendar")});
  const auto plain = index.scoredSearch("cal", 50);
  const std::vector<int32_t> tooShort = {48};
  const std::vector<int32_t> tooLong = {48, 48, 48};
  EXPECT_EQ(index.scoredSearch("cal", 50, tooShort), plain);
  EXPECT_EQ(index.scoredSearch("cal", 50, tooLong), plain);
}

TEST(SearchIndex, BoostDoesNotChangeTheAliasScore) {
  const SearchIndex index(commands());
  const std::vector<int32_t> boosts(index.size(), 48);
  const auto results = index.scoredSearch("c", 50, boosts);
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results[0].score, SearchIndex::kAliasScore);
}

TEST(SearchIndex, AppIsFoundByItsDisplayNameAndByItsBundleName) {
  const SearchIndex index(
      {Item::app("Visual Studio Code", "/Applications/Code.app"), app("Safari")});
  EXPECT_EQ(names(index, index.search("visual", 50)),
            (std::vector<std::string>{"Visual Studio Code"}));
  EXPECT_EQ(names(index, index.search("code", 50)),
            (std::vector<std::string>{"Visual Studio Code"}));
  // The better of the two keys counts: "code" starts the bundle name.
  const auto results = index.scoredSearch("code", 50);
  EXPECT_EQ(results[0].score,
            std::max(scoreOf("code", "Visual Studio Code"), scoreOf("code", "Code")));
}

TEST(SearchIndex, TermsMayMatchDifferentKeysOfOneItem) {
  const SearchIndex index({Item::app("Visual Studio Code", "/Applications/Editor.app")});
  EXPECT_EQ(index.search("visual editor", 50).size(), 1u);
}

TEST(SearchIndex, FindsNonAsciiNamesByTheirFoldedLetters) {
  const SearchIndex index({app("Café"), app("Ärger"), app("日本語入力"), app("Cafeteria")});
  EXPECT_EQ(names(index, index.search("cafe", 50)),
            (std::vector<std::string>{"Café", "Cafeteria"}));
  EXPECT_EQ(names(index, index.search("ärg", 50)), (std::vector<std::string>{"Ärger"}));
  EXPECT_EQ(names(index, index.search("arger", 50)), (std::vector<std::string>{"Ärger"}));
  EXPECT_EQ(names(index, index.search("日本", 50)), (std::vector<std::string>{"日本語入力"}));
}

TEST(SearchIndex, VeryLongNamesAreSearchable) {
  const std::string longName = std::string(3000, 'a') + " needle " + std::string(3000, 'b');
  const SearchIndex index({app(longName), app("Needle")});
  EXPECT_EQ(names(index, index.search("needle", 50)),
            (std::vector<std::string>{"Needle", longName}));
}

TEST(SearchIndex, CopiesSearchIndependently) {
  SearchIndex original(commands());
  SearchIndex copy = original;
  const std::vector<std::string> aliases = {"q"};
  copy.setAliases(aliases, Command::quit);
  EXPECT_TRUE(copy.aliases().contains("q"));
  EXPECT_FALSE(original.aliases().contains("q"));
  EXPECT_EQ(original.search("quit", 50), copy.search("quit", 50));
}

}  // namespace
}  // namespace vesk
