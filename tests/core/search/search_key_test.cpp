#include "core/search/search_key.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/search/fuzzy_matcher.h"

namespace vesk {
namespace {

std::string foldedText(const SearchKey& key) {
  return {key.bytes.begin(), key.bytes.end()};
}

std::vector<int> bonuses(const SearchKey& key) {
  return {key.bonus.begin(), key.bonus.end()};
}

TEST(SearchKey, EmptyTextHasNoBytesAndNoMask) {
  const SearchKey key("");
  EXPECT_TRUE(key.bytes.empty());
  EXPECT_TRUE(key.bonus.empty());
  EXPECT_EQ(key.mask, 0U);
}

struct BonusCase {
  const char* text;
  const char* folded;
  std::vector<int> bonus;
};

TEST(SearchKey, WordBoundariesEarnTheirBonuses) {
  const BonusCase cases[] = {
      {"fooBar-baz2 x", "foobar-baz2 x", {10, 0, 0, 7, 0, 0, 8, 8, 0, 0, 7, 10, 10}},
      {"Visual Studio Code",
       "visual studio code",
       {10, 0, 0, 0, 0, 0, 10, 10, 0, 0, 0, 0, 0, 10, 10, 0, 0, 0}},
      {"iTerm2", "iterm2", {10, 7, 0, 0, 0, 7}},
      {"a/b:c", "a/b:c", {10, 8, 9, 8, 9}},
      {"my_file.txt", "my_file.txt", {10, 0, 8, 8, 0, 0, 0, 8, 8, 0, 0}},
      {"2024", "2024", {10, 0, 0, 0}},
      {"a\nb", "a\nb", {10, 8, 8}},
      {"Café", "cafe", {10, 0, 0, 0}},
      {"ÄRGER über", "arger uber", {10, 0, 0, 0, 0, 10, 10, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    const SearchKey key(c.text);
    EXPECT_EQ(foldedText(key), c.folded) << c.text;
    EXPECT_EQ(bonuses(key), c.bonus) << c.text;
  }
}

TEST(SearchKey, MultiByteLowerCaseKeepsBonusOnItsFirstByteOnly) {
  const SearchKey key("ÆBLE");
  EXPECT_EQ(foldedText(key), "æble");
  ASSERT_EQ(key.bytes.size(), 5U);
  EXPECT_EQ(bonuses(key), (std::vector<int>{10, 0, 0, 0, 0}));
  // Both bytes of "æ" land in the high bits of the mask.
  EXPECT_NE(key.mask & (uint64_t{1} << (36 + (0xC3 % 28))), 0U);
  EXPECT_NE(key.mask & (uint64_t{1} << (36 + (0xA6 % 28))), 0U);
}

TEST(Folding, LauncherLowerCasesSoSharpSStaysOneCharacter) {
  // Lower-casing, not case folding: "ß" keeps its two bytes, with one bonus and two mask bits,
  // and "strasse" finds no "Straße" while "straße" does.
  const SearchKey key("Straße");
  EXPECT_EQ(foldedText(key), "straße");
  EXPECT_EQ(bonuses(key), (std::vector<int>{10, 0, 0, 0, 0, 0, 0}));
  EXPECT_NE(key.mask & (uint64_t{1} << (36 + (0xC3 % 28))), 0U);
  EXPECT_NE(key.mask & (uint64_t{1} << (36 + (0x9F % 28))), 0U);
  EXPECT_FALSE(FuzzyMatcher("strasse").score(key).has_value());
  EXPECT_TRUE(FuzzyMatcher("STRASSE").score(SearchKey("Strasse")).has_value());
  EXPECT_TRUE(FuzzyMatcher("straße").score(key).has_value());
  EXPECT_EQ(foldedText(SearchKey("ﬁle")), "ﬁle");
  EXPECT_EQ(Folding::folded("Große ﬁle É", Folding::Mode::lowerCase), "große ﬁle e");
}

TEST(SearchKey, NonAsciiClassesFollowUnicodeProperties) {
  EXPECT_EQ(charClass("É"), CharClass::upper);
  EXPECT_EQ(charClass("ж"), CharClass::lower);
  EXPECT_EQ(charClass("日"), CharClass::letter);
  EXPECT_EQ(charClass("٣"), CharClass::digit);
  EXPECT_EQ(charClass("\u00A0"), CharClass::whitespace);
  EXPECT_EQ(charClass("\r\n"), CharClass::other);
  EXPECT_EQ(charClass("\n"), CharClass::other);
  EXPECT_EQ(charClass("|"), CharClass::separator);
  EXPECT_EQ(charClass("→"), CharClass::other);
}

TEST(SearchKey, UncasedLettersStartWordsAfterSpaces) {
  const SearchKey key("日本 語");
  // Three 3-byte characters and a space: each character's first byte carries the bonus.
  EXPECT_EQ(bonuses(key), (std::vector<int>{10, 0, 0, 0, 0, 0, 10, 10, 0, 0}));
}

TEST(SearchKey, InvalidUtf8FoldsWithoutFailing) {
  const SearchKey key(
      std::string("ab\xff\xfe"
                  "cd",
                  6));
  EXPECT_EQ(key.bytes.size(), key.bonus.size());
  EXPECT_GE(key.bytes.size(), 4U);
}

TEST(Folding, MaskHasOneBitPerCharacterGroup) {
  const SearchKey key("visual studio code");
  uint64_t expected = uint64_t{1} << 40;  // the space
  for (const int bit : {0, 2, 3, 4, 8, 11, 14, 18, 19, 20, 21}) {
    expected |= uint64_t{1} << bit;
  }
  EXPECT_EQ(key.mask, expected);
  const std::vector<uint8_t> digits = {'0', '9'};
  EXPECT_EQ(Folding::mask(digits), (uint64_t{1} << 26) | (uint64_t{1} << 35));
}

TEST(Folding, AppendsToArraysAlreadyHoldingNames) {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> bonus;
  Folding::fold("Ab", bytes, bonus);
  Folding::fold("Café", bytes, bonus);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcafe");
  EXPECT_EQ(bonus, (std::vector<uint8_t>{10, 0, 10, 0, 0, 0}));
}

TEST(Folding, AsciiAndUnicodePathsAgreeOnAsciiText) {
  // The same ASCII word folded on its own and next to a non-ASCII character must give
  // identical bytes and bonuses, since both indexes rely on one encoding.
  const SearchKey ascii("Hello-World_42 x/y");
  const SearchKey mixed("Hello-World_42 x/y é");
  ASSERT_GE(mixed.bytes.size(), ascii.bytes.size());
  EXPECT_TRUE(std::equal(ascii.bytes.begin(), ascii.bytes.end(), mixed.bytes.begin()));
  EXPECT_TRUE(std::equal(ascii.bonus.begin(), ascii.bonus.end(), mixed.bonus.begin()));
}

}  // namespace
}  // namespace vesk
