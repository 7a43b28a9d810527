#include "core/base/utf8.h"

#include <string>

#include <gtest/gtest.h>

namespace vesk {
namespace {

// Overlong, surrogate, past U+10FFFF, cut short, stray continuation, a byte never used.
const std::string kIllFormed[] = {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                  "\xE2\x82", "\x80",         "\xFF"};

TEST(UTF8, DecodesOnlyWellFormedText) {
  EXPECT_EQ(UTF8::decode("a\xC3\xA9\xF0\x9F\x98\x80"), std::u32string(U"a\u00e9\U0001F600"));
  EXPECT_EQ(UTF8::decode(std::string("a\0b", 3)), std::u32string(U"a\0b", 3));
  for (const std::string& bad : kIllFormed) {
    EXPECT_FALSE(UTF8::decode("ok" + bad).has_value()) << bad;
    EXPECT_FALSE(UTF8::isValid(bad + "ok")) << bad;
  }
  EXPECT_TRUE(UTF8::isValid("caf\xC3\xA9 \xEF\xBF\xBF \xF4\x8F\xBF\xBF"));
}

TEST(UTF8, RepairReplacesEachMaximalIllFormedPart) {
  EXPECT_EQ(UTF8::repaired("a\xFF\xFF"
                           "b"),
            "a\xEF\xBF\xBD\xEF\xBF\xBD"
            "b");
  // A cut sequence is one fault; the character after it survives.
  EXPECT_EQ(UTF8::repaired("\xE2\x82"
                           "caf\xC3\xA9"),
            "\xEF\xBF\xBD"
            "caf\xC3\xA9");
  EXPECT_EQ(UTF8::repaired("x\xE2\x82"), "x\xEF\xBF\xBD");
  for (const std::string& bad : kIllFormed) {
    EXPECT_TRUE(UTF8::isValid(UTF8::repaired(bad))) << bad;
  }
  const std::string fine = "na\xC3\xAFve \xF0\x9F\x98\x80";
  EXPECT_EQ(UTF8::valid(fine), fine);
  EXPECT_EQ(UTF8::valid("\xC3"), "\xEF\xBF\xBD");
}

TEST(UTF8, AppendEncodesScalarsAndReplacesTheRest) {
  std::string out;
  for (const char32_t c : {U'a', U'\u00e9', U'\u20ac', U'\U0001F600'}) {
    UTF8::append(out, c);
  }
  EXPECT_EQ(out, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  out.clear();
  UTF8::append(out, 0xD800);
  UTF8::append(out, 0x110000);
  EXPECT_EQ(out, "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(UTF8, CutsFallOnCharacterBoundaries) {
  const std::string text =
      "a\xC3\xA9\xF0\x9F\x98\x80"
      "b";  // a, é, 😀, b
  EXPECT_EQ(UTF8::prefixBytes(text, 0), 0U);
  EXPECT_EQ(UTF8::prefixBytes(text, 2), 3U);
  EXPECT_EQ(UTF8::prefixBytes(text, 3), 7U);
  EXPECT_EQ(UTF8::prefixBytes(text, 9), text.size());
  EXPECT_EQ(UTF8::boundaryAtOrBefore(text, 2), 1U);  // inside é
  EXPECT_EQ(UTF8::boundaryAtOrBefore(text, 6), 3U);  // inside 😀
  EXPECT_EQ(UTF8::boundaryAtOrBefore(text, 7), 7U);
  EXPECT_EQ(UTF8::boundaryAtOrBefore(text, 99), text.size());
}

}  // namespace
}  // namespace vesk
