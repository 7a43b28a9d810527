#include "core/clipboard/clip_reading.h"

#include <gtest/gtest.h>

#include "core/clipboard/clipboard_store.h"
#include "core/clipboard/image_codec.h"
#include "core/clipboard/url.h"
#include "tests/fakes/fake_pasteboard.h"

namespace vesk {
namespace {

using Flavour = FakePasteboard::Flavour;

// Reads no image at all: the text paths of the rules never need one.
class NoImages final : public ImageCodec {
 public:
  std::optional<Properties> properties(std::span<const uint8_t>) const override { return {}; }
  std::optional<std::vector<uint8_t>> firstImageAsPNG(std::span<const uint8_t>) const override {
    return {};
  }
  std::optional<std::vector<uint8_t>> thumbnail(std::span<const uint8_t>, int) const override {
    return {};
  }
  std::optional<std::vector<uint8_t>> filledSquare(std::span<const uint8_t>, int,
                                                   int) const override {
    return {};
  }
};

Bytes bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

Representation rep(std::string_view type, std::string_view data) {
  return {std::string(type), bytes(data)};
}

Flavour flavour(std::string_view type, std::string_view data) {
  return {std::string(type), bytes(data)};
}

std::optional<ClipSnapshot> take(FakePasteboard& board,
                                 std::optional<std::string> frontmost = "org.example.Editor") {
  static const NoImages codec;
  return ClipReading::snapshot(board, board.changeCount(), frontmost, codec, 1000.0);
}

TEST(Clip, LineCountCountsFeedsAndAnUnfinishedLastLine) {
  EXPECT_EQ(Clip::lineCount(""), 0);
  EXPECT_EQ(Clip::lineCount("a"), 1);
  EXPECT_EQ(Clip::lineCount("a\n"), 1);
  EXPECT_EQ(Clip::lineCount("a\nb"), 2);
  EXPECT_EQ(Clip::lineCount("\n\n"), 2);
  EXPECT_EQ(Clip::lineCount("a\rb"), 1);
}

TEST(Clip, KindsRoundTripTheirStoredNames) {
  EXPECT_EQ(Clip::rawValue(Clip::Kind::richText), "rich-text");
  for (const Clip::Kind kind : Clip::kinds) {
    EXPECT_EQ(Clip::kindFromRawValue(Clip::rawValue(kind)), kind);
  }
  EXPECT_EQ(Clip::kindFromRawValue("Text"), std::nullopt);
}

TEST(ClipReading, IsLinkAcceptsOnlySingleURLsWithAllowedSchemesAndHosts) {
  struct Case {
    std::string_view text;
    bool link;
  };
  const Case cases[] = {
      {"https://example.com/a?b=c", true},
      {"HTTP://Example.com", true},
      {"mailto:someone@example.com", true},
      {"ssh://git@example.com:22/repo", true},
      {"https://exa mple.com", false},
      {"https://example.com/\u2003x", false},  // em space inside
      {"https:///path-only", false},
      {"https:", false},
      {"file:///tmp/notes.txt", false},
      {"javascript:alert(1)", false},
      {"example.com", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClipReading::isLink(c.text), c.link) << c.text;
  }
}

TEST(URL, FilePathsAreDecodedLocalAndAbsolute) {
  EXPECT_EQ(URL::filePath("file:///home/me/a%20b.txt"), "/home/me/a b.txt");
  EXPECT_EQ(URL::filePath("file://localhost/tmp/dir/"), "/tmp/dir");
  EXPECT_EQ(URL::filePath("FILE:///"), "/");
  EXPECT_EQ(URL::filePath("file://otherhost/tmp/x"), std::nullopt);
  EXPECT_EQ(URL::filePath("file:relative"), std::nullopt);
  EXPECT_EQ(URL::filePath("file:///tmp/%00evil"), std::nullopt);
  EXPECT_EQ(URL::filePath("https://example.com/tmp"), std::nullopt);
  EXPECT_EQ(URL::filePath("/tmp/plain-path"), std::nullopt);
}

TEST(ClipReading, TextPrefersUTF8AndRepairsIt) {
  EXPECT_EQ(ClipReading::text({{rep(ClipReading::utf16Text, std::string("\0x", 2))},
                               {rep(ClipReading::utf8Text, "caf\xC3\xA9 \xFF!")}}),
            "caf\xC3\xA9 \xEF\xBF\xBD!");
}

TEST(ClipReading, TextFallsBackToUTF16ByItsByteOrderMark) {
  const std::string little("\xFF\xFEh\0i\0", 6);
  const std::string big("\xFE\xFF\0h\0i", 6);
  const std::string unmarked("\0h\0i", 4);
  EXPECT_EQ(ClipReading::text({{rep(ClipReading::utf16Text, little)}}), "hi");
  EXPECT_EQ(ClipReading::text({{rep(ClipReading::utf16Text, big)}}), "hi");
  EXPECT_EQ(ClipReading::text({{rep(ClipReading::utf16Text, unmarked)}}), "hi");
  // An odd length or a lone surrogate doesn't decode.
  EXPECT_EQ(ClipReading::text({{rep(ClipReading::utf16Text, std::string("\0h\0", 3))}}), "");
  EXPECT_EQ(ClipReading::text({{rep(ClipReading::utf16Text, std::string("\xD8\0\0h", 4))}}), "");
}

TEST(ClipReadingSnapshot, SkipMarkersKeepTheWholeCopyOut) {
  FakePasteboard board;
  for (const std::string_view marker : ClipReading::skipMarkers) {
    board.copy({{flavour(ClipReading::utf8Text, "hunter2")}, {flavour(marker, "")}});
    EXPECT_EQ(take(board), std::nullopt) << marker;
  }
  EXPECT_TRUE(board.reads.empty()) << "nothing of a skipped copy is read";
}

TEST(ClipReadingSnapshot, PasswordManagerHintSecretConcealsTheCopy) {
  FakePasteboard board;
  board.copy({{flavour(ClipReading::utf8Text, "hunter2"),
               flavour(ClipReading::passwordManagerHint, "secret")}});
  EXPECT_EQ(take(board), std::nullopt);
  board.copy({{flavour(ClipReading::utf8Text, "hunter2"),
               {std::string(ClipReading::passwordManagerHint), std::nullopt}}});
  EXPECT_EQ(take(board), std::nullopt) << "an unreadable hint is taken for a secret";
  board.copy({{flavour(ClipReading::utf8Text, "shown"),
               flavour(ClipReading::passwordManagerHint, "accepted")}});
  ASSERT_TRUE(take(board));
  EXPECT_EQ(take(board)->content.items, (ClipItems{{rep(ClipReading::utf8Text, "shown")}}));
}

TEST(ClipReadingSnapshot, SourceMarkerWinsOverTheFrontmostApp) {
  FakePasteboard board;
  board.copy({{flavour(ClipReading::utf8Text, "x")},
              {flavour(ClipReading::sourceMarker, "org.example.Vault")}});
  EXPECT_EQ(take(board)->source, "org.example.Vault");
  board.copy({{flavour(ClipReading::utf8Text, "x")}});
  EXPECT_EQ(take(board)->source, "org.example.Editor");
  EXPECT_EQ(take(board, std::nullopt)->source, std::nullopt);
}

TEST(ClipReadingSnapshot, TextKeepsItsWhitespace) {
  FakePasteboard board;
  board.copy({{flavour(ClipReading::utf8Text, "word \n"), flavour("public.unknown", "zz")}});
  const auto snap = take(board);
  ASSERT_TRUE(snap);
  EXPECT_EQ(snap->content.kind, Clip::Kind::text);
  EXPECT_EQ(snap->content.text, "word \n");
  EXPECT_EQ(Clip::lineCount(snap->content.text), 1);
  EXPECT_EQ(snap->content.items, (ClipItems{{rep(ClipReading::utf8Text, "word \n")}}));
  EXPECT_EQ(snap->time, 1000.0);
}

TEST(ClipReadingSnapshot, LinksAreTrimmedAndOtherTextIsNot) {
  FakePasteboard board;
  board.copy({{flavour(ClipReading::utf8Text, "  https://example.com/x \n")}});
  auto snap = take(board);
  EXPECT_EQ(snap->content.kind, Clip::Kind::link);
  EXPECT_EQ(snap->content.text, "https://example.com/x");

  board.copy({{flavour(ClipReading::utf8Text, " file:///etc/passwd ")}});
  snap = take(board);
  EXPECT_EQ(snap->content.kind, Clip::Kind::text);
  EXPECT_EQ(snap->content.text, " file:///etc/passwd ");
}

TEST(ClipReadingSnapshot, RichOnlyCopyGetsThePlainStringAndIsRichText) {
  FakePasteboard board;
  board.copy({{flavour("public.rtf", "{\\rtf1 Hello}")}}, "Hello");
  const auto snap = take(board);
  ASSERT_TRUE(snap);
  EXPECT_EQ(snap->content.kind, Clip::Kind::richText);
  EXPECT_EQ(snap->content.text, "Hello");
  EXPECT_EQ(
      snap->content.items,
      (ClipItems{{rep("public.rtf", "{\\rtf1 Hello}"), rep(ClipReading::utf8Text, "Hello")}}));
}

TEST(ClipReadingSnapshot, FileCopiesListTheirDecodedPaths) {
  FakePasteboard board;
  board.copy({{flavour(ClipReading::fileURL, "file:///home/me/My%20Notes.txt")},
              {flavour(ClipReading::fileURL, "file:///home/me/photos/")},
              {flavour(ClipReading::fileURL, "https://example.com/not-a-file")}});
  const auto snap = take(board);
  ASSERT_TRUE(snap);
  EXPECT_EQ(snap->content.kind, Clip::Kind::files);
  EXPECT_EQ(snap->content.text, "/home/me/My Notes.txt\n/home/me/photos");
  ASSERT_EQ(snap->content.items.size(), 3U);
  EXPECT_EQ(snap->content.items[0][0].type, ClipReading::fileURL);
}

TEST(ClipReadingSnapshot, ImageDataIsReadOnlyWhenThereIsNoText) {
  FakePasteboard board;
  board.copy({{flavour(ClipReading::utf8Text, "caption"), flavour("public.png", "PNG...")}});
  ASSERT_TRUE(take(board));
  for (const auto& [item, type] : board.reads) {
    EXPECT_NE(type, "public.png");
  }
}

TEST(ClipReadingSnapshot, NothingWorthRecordingYieldsNothing) {
  FakePasteboard board;
  board.copy({{flavour(ClipReading::utf8Text, "")}});
  EXPECT_EQ(take(board), std::nullopt);
  board.copy({});
  EXPECT_EQ(take(board), std::nullopt);
  board.makeUnavailable();
  EXPECT_EQ(take(board), std::nullopt);
  // Unreadable data is left out; what remains still counts.
  board.copy({{{std::string(ClipReading::utf8Text), std::nullopt}}});
  EXPECT_EQ(take(board), std::nullopt);

  board.copy({{flavour(ClipReading::utf8Text, "   ")}});
  const auto spaces = take(board);
  ASSERT_TRUE(spaces);
  EXPECT_EQ(spaces->content.kind, Clip::Kind::text);
  EXPECT_EQ(spaces->content.text, "   ");
}

TEST(ClipReadingSnapshot, ACopyChangedWhileReadingIsDropped) {
  FakePasteboard board;
  board.copy({{flavour(ClipReading::utf8Text, "first")}});
  const int64_t before = board.changeCount();
  board.onRead = [&](size_t, const std::string&) {
    board.onRead = nullptr;
    board.copy({{flavour(ClipReading::utf8Text, "second")}});
  };
  static const NoImages codec;
  EXPECT_EQ(ClipReading::snapshot(board, before, std::nullopt, codec, 1), std::nullopt);
}

ClipboardStore::Hash hashOf(const ClipContent& content) {
  const auto hashed = ClipboardStore::hash(content);
  EXPECT_TRUE(hashed.ok());
  return hashed.ok() ? hashed.value() : ClipboardStore::Hash{};
}

TEST(ClipboardStoreHash, DependsOnKindItemsAndImageOnly) {
  const ClipContent plain{Clip::Kind::text, "same", {{rep(ClipReading::utf8Text, "same")}}, {}};
  ClipContent retitled = plain;
  retitled.text = "different text";
  EXPECT_EQ(hashOf(plain), hashOf(retitled));

  const ClipContent rich{Clip::Kind::richText,
                         "same",
                         {{rep("public.rtf", "{\\rtf1 same}"), rep(ClipReading::utf8Text, "same")}},
                         {}};
  EXPECT_NE(hashOf(plain), hashOf(rich));

  // Field boundaries are part of the hash: moving bytes between type and data changes it.
  const ClipContent shifted{Clip::Kind::text, "", {{rep("ab", "c")}}, {}};
  const ClipContent shifted2{Clip::Kind::text, "", {{rep("a", "bc")}}, {}};
  EXPECT_NE(hashOf(shifted), hashOf(shifted2));
  const ClipContent twoItems{Clip::Kind::text, "", {{rep("a", "b")}, {rep("a", "b")}}, {}};
  const ClipContent oneItem{Clip::Kind::text, "", {{rep("a", "b"), rep("a", "b")}}, {}};
  EXPECT_NE(hashOf(twoItems), hashOf(oneItem));
}

TEST(ClipboardStoreHash, MatchesTheDocumentedLayout) {
  // SHA-256 of: len("text") "text" len("item") "item" len("t") "t" len("d") "d", each length
  // 8 bytes little-endian. Computed independently with Python's hashlib.
  const ClipContent content{Clip::Kind::text, "", {{rep("t", "d")}}, {}};
  const auto digest = hashOf(content);
  std::string hex;
  for (const uint8_t byte : digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  EXPECT_EQ(hex, "3d3c018d0f27b7e5f9e59a71610cd02f3834b991ce080aaadbf344e9befbffe3");
}

}  // namespace
}  // namespace vesk
