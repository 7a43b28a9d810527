#include "core/search/fuzzy_matcher.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vesk {
namespace {

std::optional<int32_t> scoreOf(const char* query, const std::string& name) {
  FuzzyMatcher matcher(query);
  return matcher.score(SearchKey(name));
}

TEST(FuzzyMatcher, WorkedScores) {
  struct Case {
    const char* query;
    const char* name;
    int32_t score;
  };
  const Case cases[] = {
      {"saf", "Safari", 88},
      {"sf", "Safari", 49},
      {"vsc", "Visual Studio Code", 72},
      {"code", "Visual Studio Code", 114},
      {"term", "iTerm2", 99},
      {"t2", "iTerm2", 48},
      {"cal", "Calendar", 88},
      {"cal", "Calculator", 88},
      {"a", "a", 36},
      {"ab", "ab", 62},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(scoreOf(c.query, c.name), c.score) << c.query << " in " << c.name;
  }
}

TEST(FuzzyMatcher, RejectsWhatCannotMatch) {
  EXPECT_EQ(scoreOf("zz", "Zoom.us"), std::nullopt);
  EXPECT_EQ(scoreOf("safari!", "Safari"), std::nullopt);  // longer than the text
  EXPECT_EQ(scoreOf("x", "Safari"), std::nullopt);        // mask bit missing
  EXPECT_EQ(scoreOf("fs", "Safari"), std::nullopt);       // letters out of order
}

TEST(FuzzyMatcher, QueryThatFoldsToNothingMatchesNothing) {
  for (const char* query : {"", "   ", "\n\t", "\u0301"}) {
    FuzzyMatcher matcher(query);
    EXPECT_TRUE(matcher.isEmpty()) << query;
    EXPECT_EQ(matcher.score(SearchKey("anything")), std::nullopt);
  }
}

TEST(FuzzyMatcher, QueryIsTrimmedAndFolded) {
  EXPECT_EQ(scoreOf("  SAF\n", "Safari"), 88);
  EXPECT_EQ(scoreOf("cafe", "Café"), scoreOf("café", "Café"));
}

TEST(FuzzyMatcher, OneByteQueryTakesTheBestPosition) {
  // "b" occurs mid-word (bonus 0) and at a word start (10).
  EXPECT_EQ(scoreOf("b", "abc bcd"), 36);
  EXPECT_EQ(scoreOf("b", "abc"), 16);
}

TEST(FuzzyMatcher, EachSkippedByteCostsOneMoreAfterTheFirst) {
  const auto none = scoreOf("ab", "ab");
  const auto one = scoreOf("ab", "axb");
  const auto two = scoreOf("ab", "axxb");
  ASSERT_TRUE(none && one && two);
  // Skipping loses the carried run bonus too; the gap itself costs 3, then 1 per byte.
  EXPECT_EQ(*one - *two, 1);
  EXPECT_EQ(scoreOf("ab", "axxxb").value(), *two - 1);
}

TEST(FuzzyMatcher, BytesOutsideTheWindowCostNothing) {
  EXPECT_EQ(scoreOf("ab", "ab"), scoreOf("ab", "zzzz ab"));
  EXPECT_EQ(scoreOf("ab", "ab zzzzzzz"), scoreOf("ab", "ab"));
  // A match far to the right of the first "a" still scores.
  EXPECT_TRUE(scoreOf("ad", "abcdefghijklmnopqrstuvwxyz a d").has_value());
}

TEST(FuzzyMatcher, ScratchGrowthKeepsScoresStable) {
  FuzzyMatcher matcher("proj");
  const SearchKey shortName("project");
  const std::string longText = std::string(5000, 'x') + " project " + std::string(5000, 'y');
  const SearchKey longName(longText);
  const auto before = matcher.score(shortName);
  const auto big = matcher.score(longName);
  const auto after = matcher.score(shortName);
  EXPECT_EQ(before, after);
  EXPECT_EQ(big, before);  // the padding lies outside the window
}

TEST(FuzzyMatcher, ScoresPackedSlicesInPlace) {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> bonus;
  Folding::fold("Safari", bytes, bonus);
  const size_t second = bytes.size();
  Folding::fold("Calendar", bytes, bonus);
  FuzzyMatcher matcher("cal");
  const std::span<const uint8_t> text(bytes.data() + second, bytes.size() - second);
  const std::span<const uint8_t> bon(bonus.data() + second, bonus.size() - second);
  EXPECT_EQ(matcher.score(text, bon, Folding::mask(text)), 88);
}

TEST(FuzzyMatcher, NonAsciiNamesMatchTheirFoldedLetters) {
  EXPECT_TRUE(scoreOf("uber", "Über Cool").has_value());
  EXPECT_TRUE(scoreOf("日本", "日本語のファイル").has_value());
  EXPECT_FALSE(scoreOf("本日", "日本語").has_value());
}

TEST(QueryTerms, SplitsAtWhiteSpaceAndSlashes) {
  EXPECT_EQ(QueryTerms("~/Documents/report").terms,
            (std::vector<std::string>{"Documents", "report"}));
  EXPECT_EQ(QueryTerms("Documents report").terms, QueryTerms("~/Documents/report").terms);
  EXPECT_EQ(QueryTerms("vis  code").terms, (std::vector<std::string>{"vis", "code"}));
  EXPECT_EQ(QueryTerms("a\u00A0b\u3000c\nd").terms, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(QueryTerms("./x/../y").terms, (std::vector<std::string>{"x", "..", "y"}));
  for (const char* empty : {"", "   ", "~", ".", "/", "~/", " ~ / . "}) {
    EXPECT_TRUE(QueryTerms(empty).terms.empty()) << empty;
  }
  EXPECT_EQ(QueryTerms("vis code").matchers().size(), 2U);
}

TEST(TopMatches, KeepsTheBestInOrder) {
  TopMatches top(3);
  top.insert({5, 10, 0});
  top.insert({9, 12, 1});
  top.insert({7, 8, 2});
  top.insert({9, 4, 3});
  EXPECT_EQ(top.matches(), (std::vector<Candidate>{{9, 4, 3}, {9, 12, 1}, {7, 8, 2}}));
}

TEST(TopMatches, IgnoresTiesWithTheWorstAndEverythingAtLimitZero) {
  TopMatches top(2);
  top.insert({5, 3, 1});
  top.insert({5, 3, 2});
  top.insert({5, 3, 3});  // equal to nothing better than the worst kept: ignored
  EXPECT_EQ(top.matches(), (std::vector<Candidate>{{5, 3, 1}, {5, 3, 2}}));
  top.insert({5, 3, 0});  // lower index ranks first
  EXPECT_EQ(top.matches(), (std::vector<Candidate>{{5, 3, 0}, {5, 3, 1}}));

  TopMatches none(0);
  none.insert({100, 1, 0});
  EXPECT_TRUE(none.matches().empty());
}

}  // namespace
}  // namespace vesk
