#include "core/clipboard/clipboard_index.h"

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "core/clipboard/byte_search.h"
#include "core/clipboard/paste_run.h"

namespace vesk {
namespace {

Clip clip(int64_t id, double copied, std::string text, Clip::Kind kind = Clip::Kind::text,
          bool pinned = false) {
  Clip c;
  c.id = id;
  c.kind = kind;
  c.copied = copied;
  c.pinned = pinned;
  c.textBytes = static_cast<int64_t>(text.size());
  c.text = std::move(text);
  return c;
}

std::vector<int64_t> ids(const ClipboardIndex& index, const std::vector<size_t>& positions) {
  std::vector<int64_t> out;
  for (const size_t p : positions) {
    out.push_back(index.clips()[p].id);
  }
  return out;
}

int64_t sumOfKeys(const ClipboardIndex& index) {
  int64_t sum = 0;
  for (size_t i = 0; i < index.count(); ++i) {
    sum += static_cast<int64_t>(index.keyBytesAt(i).size());
  }
  return sum;
}

TEST(ClipboardIndex, OrdersNewestFirstAndLargerIdOnTies) {
  const ClipboardIndex index({clip(1, 10, "a"), clip(3, 20, "b"), clip(2, 20, "c")});
  EXPECT_EQ(ids(index, index.search("", 10)), (std::vector<int64_t>{3, 2, 1}));
}

TEST(ClipboardIndex, EmptyQueryIsPlainRecencyWhateverThePins) {
  std::vector<Clip> clips;
  for (int i = 0; i < 500; ++i) {
    clips.push_back(clip(i, i, "clip", Clip::Kind::text, i % 7 == 0));
  }
  const ClipboardIndex index(std::move(clips));
  const auto positions = index.search("  ", 100);
  ASSERT_EQ(positions.size(), 100U);
  for (size_t i = 0; i < positions.size(); ++i) {
    EXPECT_EQ(positions[i], i);
  }
}

TEST(ClipboardIndex, EveryTermMustOccurInAnyOrder) {
  const ClipboardIndex index({clip(1, 1, "deploy the staging server"), clip(2, 2, "staging")});
  EXPECT_EQ(ids(index, index.search("server staging", 10)), std::vector<int64_t>{1});
  EXPECT_EQ(ids(index, index.search("STAGING", 10)), (std::vector<int64_t>{2, 1}));
  EXPECT_TRUE(index.search("staging missing", 10).empty());
}

TEST(ClipboardIndex, MatchesIgnoreCaseAndDiacriticsBothWays) {
  const ClipboardIndex index({clip(1, 1, "Crème Brûlée recipe"), clip(2, 2, "creme brulee")});
  EXPECT_EQ(ids(index, index.search("CREME", 10)), (std::vector<int64_t>{2, 1}));
  EXPECT_EQ(ids(index, index.search("brûlée", 10)), (std::vector<int64_t>{2, 1}));
  EXPECT_EQ(ids(index, index.search("RECIPE crème", 10)), std::vector<int64_t>{1});
}

TEST(ClipboardIndex, FoldsCaseCodePointByCodePoint) {
  // Simple case folding after the marks are dropped: one code point for one, so "ß" never
  // becomes "ss", capital sharp s and final sigma fold to their plain forms, ligatures stay.
  const std::pair<const char*, const char*> cases[] = {
      {"Straße", "straße"},     {"STRASSE", "strasse"},   {"\u1E9E", "ß"},
      {"İstanbul", "istanbul"}, {"ﬁle", "ﬁle"},           {"Cre\u0300me", "creme"},
      {"Crème", "creme"},       {"Ångström", "angstrom"}, {"ΣΟΦΟΣ σοφός", "σοφοσ σοφοσ"},
      {"e\u0301\u0323", "e"},
  };
  for (const auto& [text, folded] : cases) {
    const std::vector<uint8_t> key = ClipboardIndex::fold(text);
    EXPECT_EQ(std::string(key.begin(), key.end()), folded) << text;
  }
  const ClipboardIndex index({clip(1, 1, "Große Straße"), clip(2, 2, "GROSSE STRASSE")});
  EXPECT_EQ(ids(index, index.search("STRAẞE", 10)), std::vector<int64_t>{1});
  EXPECT_EQ(ids(index, index.search("strasse", 10)), std::vector<int64_t>{2});
}

TEST(ClipboardIndex, ImagesMatchNoTermsAndFilesMatchOnlyTheirNames) {
  const ClipboardIndex index(
      {clip(1, 1, "", Clip::Kind::image),
       clip(2, 2, "/home/me/projects/report.pdf\n\n/home/me/photos/", Clip::Kind::files)});
  EXPECT_TRUE(index.search("a", 10).empty() ||
              ids(index, index.search("a", 10)) == std::vector<int64_t>{2});
  EXPECT_EQ(ids(index, index.search("report", 10)), std::vector<int64_t>{2});
  EXPECT_EQ(ids(index, index.search("photos", 10)), std::vector<int64_t>{2});
  EXPECT_TRUE(index.search("projects", 10).empty());
  EXPECT_EQ(ClipboardIndex::keyText(index.clips()[0]), "report.pdf\nphotos");
}

TEST(ClipboardIndex, TermIsFoundAtEveryOffsetOfKeysOfEveryLength) {
  std::vector<Clip> clips;
  int64_t id = 0;
  for (size_t length = 3; length <= 70; ++length) {
    for (size_t at = 0; at + 3 <= length; ++at) {
      std::string text(length, 'a');
      text.replace(at, 3, "abz");
      clips.push_back(clip(++id, 0, text));
    }
  }
  clips.push_back(clip(++id, 0, std::string(100, 'a') + "ab"));  // cut short at the end
  clips.push_back(clip(++id, 0, "zba" + std::string(100, 'b')));
  const ClipboardIndex index(clips);
  EXPECT_EQ(index.search("abz", 10000).size(), clips.size() - 2);
  EXPECT_EQ(index.search("aaab", 10000).size(), 2212U);
}

TEST(ClipboardIndex, PinnedMatchesComeFirstAndUnpinnedFillTheRest) {
  const ClipboardIndex index({clip(1, 1, "note pinned", Clip::Kind::text, true), clip(2, 2, "note"),
                              clip(3, 3, "note"), clip(4, 4, "note"), clip(5, 5, "other")});
  EXPECT_EQ(ids(index, index.search("note", 3)), (std::vector<int64_t>{1, 4, 3}));
  EXPECT_EQ(ids(index, index.search("note", 2)), (std::vector<int64_t>{1, 4}));
}

TEST(ClipboardIndex, ParallelScanFindsWhatASerialScanFinds) {
  // About 2 MiB of keys, so the rest is split over the workers; pins scattered throughout.
  std::vector<Clip> clips;
  for (int i = 0; i < 20000; ++i) {
    std::string text = "entry " + std::to_string(i) + std::string(100, 'x');
    if (i % 997 == 0) {
      text += " needle";
    }
    clips.push_back(clip(i, i, text, Clip::Kind::text, i % 1500 == 0));
  }
  const ClipboardIndex index(clips);
  const auto found = ids(index, index.search("needle", 1000));
  std::vector<int64_t> pinned;
  std::vector<int64_t> rest;
  for (int i = 19999; i >= 0; --i) {
    if (i % 997 == 0) {
      (i % 1500 == 0 ? pinned : rest).push_back(i);
    }
  }
  pinned.insert(pinned.end(), rest.begin(), rest.end());
  EXPECT_EQ(found, pinned);
  // A pinned clip deep in the history is found even when the newest clips fill the limit.
  EXPECT_EQ(ids(index, index.search("needle", 1)), std::vector<int64_t>{0});
}

TEST(ClipboardIndex, InsertReplacesRemoveAndPinKeepTheKeysInStep) {
  ClipboardIndex index({clip(1, 1, "one"), clip(2, 2, "two"), clip(3, 3, "three")});
  index.insert(clip(1, 4, "one again"));
  EXPECT_EQ(ids(index, index.search("", 10)), (std::vector<int64_t>{1, 3, 2}));
  EXPECT_EQ(index.keyBytes(), sumOfKeys(index));
  EXPECT_EQ(index.keyBytes(), 9 + 5 + 3);

  index.insert(clip(9, 3, "late"));  // same time as 3, larger id: before it
  EXPECT_EQ(ids(index, index.search("", 10)), (std::vector<int64_t>{1, 9, 3, 2}));

  const std::vector<int64_t> gone = {3, 42};
  index.remove(gone);
  index.remove({});
  EXPECT_EQ(ids(index, index.search("", 10)), (std::vector<int64_t>{1, 9, 2}));
  EXPECT_EQ(index.keyBytes(), sumOfKeys(index));

  index.setPinned(true, 2);
  index.setPinned(true, 77);
  EXPECT_EQ(ids(index, index.search("", 10)), (std::vector<int64_t>{1, 9, 2}));
  EXPECT_EQ(ids(index, index.search("o", 10)), (std::vector<int64_t>{2, 1}));
  EXPECT_EQ(index.position(9), 1U);
  EXPECT_EQ(index.position(3), std::nullopt);
}

// The index after a series of edits must hold what a fresh load of the same clips builds:
// the same order, keys, masks, key total and search results.
void expectSameAsFreshLoad(const ClipboardIndex& index) {
  const ClipboardIndex fresh(index.clips());
  ASSERT_EQ(index.count(), fresh.count());
  EXPECT_EQ(index.keyBytes(), fresh.keyBytes());
  EXPECT_EQ(index.keyBytes(), sumOfKeys(index));
  for (size_t i = 0; i < index.count(); ++i) {
    ASSERT_EQ(index.clips()[i].id, fresh.clips()[i].id) << "at " << i;
    const auto key = index.keyBytesAt(i);
    const auto expected = fresh.keyBytesAt(i);
    EXPECT_TRUE(std::equal(key.begin(), key.end(), expected.begin(), expected.end()))
        << "key of clip " << index.clips()[i].id;
    EXPECT_EQ(index.maskAt(i), fresh.maskAt(i));
  }
  for (const char* query : {"alpha", "beta gamma", "delta", "épsilon", "a", "zeta9"}) {
    EXPECT_EQ(index.search(query, 5), fresh.search(query, 5)) << query;
    EXPECT_EQ(index.search(query, 1000), fresh.search(query, 1000)) << query;
  }
}

TEST(ClipboardIndex, EditsLeaveTheIndexAsAFreshLoadWouldBuildIt) {
  // Random inserts of new and present ids, removals of several ids at once and pins, so that
  // keys are appended out of order, left behind and compacted away many times.
  const std::vector<std::string> words = {"alpha", "Beta", "gamma", "delta", "Épsilon", "zeta9"};
  std::mt19937 random(7);
  auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
  ClipboardIndex index;
  for (int step = 0; step < 600; ++step) {
    const size_t action = pick(10);
    const auto id = static_cast<int64_t>(pick(60));
    if (action < 6) {
      std::string text;
      for (size_t w = pick(40); w > 0; --w) {
        text += words[pick(words.size())] + " ";
      }
      const auto kind = pick(8) == 0 ? Clip::Kind::image : Clip::Kind::text;
      index.insert(clip(id, static_cast<double>(pick(50)), text, kind, pick(5) == 0));
    } else if (action < 9) {
      const std::vector<int64_t> gone = {id, id + 1, id + 7};
      index.remove(gone);
    } else {
      index.setPinned(pick(2) == 0, id);
    }
    if (step % 25 == 0) {
      expectSameAsFreshLoad(index);
    }
  }
  expectSameAsFreshLoad(index);
}

TEST(ClipboardIndex, RemovedKeysGiveTheirMemoryBack) {
  std::vector<Clip> clips;
  for (int i = 0; i < 1000; ++i) {
    clips.push_back(clip(i, i, std::string(1000, static_cast<char>('a' + i % 26))));
  }
  ClipboardIndex index(clips);
  const size_t loaded = index.keyMemory();
  EXPECT_GE(loaded, 1000U * 1000U);

  // Copying one clip again and again (moving it to the top) doesn't let the buffer grow.
  for (int copy = 0; copy < 5000; ++copy) {
    index.insert(clip(500, 1000 + copy, std::string(1000, '7')));
  }
  EXPECT_LT(index.keyMemory(), 2 * loaded);
  EXPECT_EQ(ids(index, index.search("777", 10)), std::vector<int64_t>{500});

  std::vector<int64_t> gone;
  for (int i = 0; i < 1000; i += 10) {
    for (int j = i; j < i + 9; ++j) {
      gone.push_back(j);
    }
  }
  index.remove(gone);
  ASSERT_EQ(index.count(), 100U);
  EXPECT_LT(index.keyMemory(), loaded / 5);
  EXPECT_EQ(index.search("j", 1000).size(), 8U);  // 9, 139, 269, ... 919
  expectSameAsFreshLoad(index);

  index.remove(std::vector<int64_t>(gone.size(), 0));  // nothing of these is left
  for (int i = 9; i < 1000; i += 10) {
    index.remove(std::vector<int64_t>{i});
  }
  EXPECT_EQ(index.count(), 0U);
  EXPECT_EQ(index.keyBytes(), 0);
  EXPECT_TRUE(index.search("a", 10).empty());
  index.insert(clip(1, 1, "after"));
  EXPECT_EQ(ids(index, index.search("AFTER", 10)), std::vector<int64_t>{1});
}

TEST(ClipboardIndex, TermsDoNotRunFromOneKeyIntoTheNext) {
  // Keys lie end to end in memory: "ab" + "z" must not read as "abz", also across an insert.
  ClipboardIndex index({clip(2, 2, "xxab"), clip(1, 1, "zzxx"), clip(0, 0, std::string(40, 'a'))});
  EXPECT_TRUE(index.search("abz", 10).empty());
  index.insert(clip(3, 3, "bzzz"));
  index.insert(clip(4, 4, "yyya"));
  EXPECT_TRUE(index.search("abz", 10).empty());
  EXPECT_TRUE(index.search("aaab", 10).empty());
  EXPECT_EQ(ids(index, index.search("ab", 10)), std::vector<int64_t>{2});
}

TEST(ByteSearch, PaddedSearchAgreesWithThePlainOneWhateverFollowsTheHaystack) {
  // Every haystack length and needle place, with the bytes after the haystack completing the
  // needle, which must not count.
  const std::string needles[] = {"q", "qz", "qrz", "qrstuvwxyz", std::string(33, 'q') + "z"};
  for (const std::string& needle : needles) {
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(needle.data()),
                                         needle.size());
    for (size_t length = 0; length <= 100; ++length) {
      for (size_t at = 0; at <= length + 1; ++at) {
        std::string buffer(length, '.');
        if (at + needle.size() <= length) {
          buffer.replace(at, needle.size(), needle);
        } else if (at < length) {
          buffer.replace(at, length - at, needle.substr(0, length - at));
        }
        const size_t cut = at < length ? length - at : 0;
        buffer +=
            needle.substr(std::min(cut, needle.size())) + std::string(ByteSearch::kPadding, 'z');
        const std::string_view haystack(buffer.data(), length);
        EXPECT_EQ(ByteSearch::containsPadded(haystack, bytes),
                  ByteSearch::contains(haystack, bytes))
            << needle << " in " << length << " bytes at " << at;
        EXPECT_EQ(ByteSearch::contains(haystack, bytes), at + needle.size() <= length);
      }
    }
  }
}

TEST(ClipboardIndex, MatchingLineFindsTheFirstLineWithEveryTerm) {
  const std::string text = "Dear team,\r\n\nthe Café opens at 9\u2028café closes at 5\vend";
  EXPECT_EQ(ClipboardIndex::matchingLine(text, "CAFE closes"), "café closes at 5");
  EXPECT_EQ(ClipboardIndex::matchingLine(text, "café"), "the Café opens at 9");
  EXPECT_EQ(ClipboardIndex::matchingLine(text, "end"), "end");
  EXPECT_EQ(ClipboardIndex::matchingLine(text, "dear end"), std::nullopt);
  EXPECT_EQ(ClipboardIndex::matchingLine(text, " "), std::nullopt);
}

TEST(PasteRun, WalksDownTheHistoryUntilAPauseOrACopy) {
  const ClipboardIndex index(
      {clip(1, 1, "a"), clip(2, 2, "b"), clip(3, 3, "c"), clip(4, 4, "d", Clip::Kind::text, true)});
  PasteRun run(index.clips(), 7, 100);
  EXPECT_EQ(run.next(index, 100)->id, 4);
  ASSERT_TRUE(run.goesOn(7, 105));
  EXPECT_EQ(run.next(index, 105)->id, 3);
  ASSERT_TRUE(run.goesOn(7, 114.9));
  EXPECT_EQ(run.next(index, 114.9)->id, 2);
  EXPECT_FALSE(run.goesOn(7, 124.9));  // ten seconds after the last press
  EXPECT_FALSE(run.goesOn(8, 115));    // a copy was made

  PasteRun fresh(index.clips(), 7, 124.9);
  EXPECT_EQ(fresh.next(index, 124.9)->id, 4);
}

TEST(PasteRun, SkipsDeletedClipsAndEndsWhenNoneAreLeft) {
  ClipboardIndex index({clip(1, 1, "a"), clip(2, 2, "b"), clip(3, 3, "c")});
  PasteRun run(index.clips(), 0, 0);
  index.remove(std::vector<int64_t>{3, 2});
  EXPECT_EQ(run.next(index, 1)->id, 1);
  EXPECT_EQ(run.next(index, 2), std::nullopt);

  index.remove(std::vector<int64_t>{1});
  PasteRun empty(index.clips(), 0, 3);
  EXPECT_EQ(empty.next(index, 3), std::nullopt);
}

}  // namespace
}  // namespace vesk
