// FileIndex::search: the per-keystroke scan of every entry, split into contiguous ranges that
// run on the shared worker pool. Kept apart from the tree maintenance in file_index.cpp.

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <limits>
#include <optional>

#include "core/base/worker_pool.h"
#include "core/files/file_index.h"

namespace vesk {

namespace {

constexpr int32_t kNone = std::numeric_limits<int32_t>::min();
// How many scanned entries have their memory fetched together.
constexpr size_t kScanBatch = 16;

// The score of `term` on key `i`, or kNone. Length and mask reject most keys before the
// alignment runs.
int32_t scoreKey(FuzzyMatcher& term, const KeyStore& keys, size_t i) {
  const uint64_t termMask = term.queryMask();
  const uint64_t keyMask = keys.masks[i];
  if ((termMask & keyMask) != termMask || term.query().size() > keys.length(i)) {
    return kNone;
  }
  const auto score = term.score(keys.keyBytes(i), keys.keyBonus(i), keyMask);
  return score ? *score : kNone;
}

// The largest bonus any byte can carry, whatever the classes around it.
uint8_t largestBonus() {
  static const uint8_t largest = [] {
    uint8_t best = 0;
    for (int c = 0; c <= static_cast<int>(CharClass::digit); ++c) {
      for (int p = 0; p <= static_cast<int>(CharClass::digit); ++p) {
        best = std::max(best, Folding::bonus(static_cast<CharClass>(c), static_cast<CharClass>(p)));
      }
    }
    return best;
  }();
  return largest;
}

// No name can score a term higher than the term itself as one run with the largest bonus on
// every byte: each matched byte earns at most the match score plus the largest bonus, and
// gaps only subtract. Without a score there is no bound.
int64_t bestPossible(FuzzyMatcher& term) {
  const std::vector<uint8_t>& query = term.query();
  const std::vector<uint8_t> bonus(query.size(), largestBonus());
  const auto score = term.score(query, bonus, term.queryMask());
  return score ? *score : std::numeric_limits<int32_t>::max();
}

int32_t saturated(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min() + 1,
                                                  std::numeric_limits<int32_t>::max()));
}

}  // namespace

// What a search knows before it scans, per term (the last one at index terms - 1): its mask,
// its length, the best score any name could give it and, for earlier terms, half the best
// folder cell (what a folder above can add at most).
struct FileIndex::Bounds {
  size_t terms = 0;
  std::array<uint64_t, kMaxTerms> masks{};
  std::array<size_t, kMaxTerms> lengths{};
  std::array<int64_t, kMaxTerms> ceilings{};
  std::array<int64_t, kMaxTerms> halfAbove{};
  int64_t boost = 0;

  // What an entry needs to be offered at all once the list is full: every character of
  // `mask` in its name and, when the best any entry could score is just the worst kept
  // candidate's score, a key shorter than that candidate's (a later entry loses every tie).
  struct Needs {
    uint64_t mask = 0;
    uint32_t shorterThan = std::numeric_limits<uint32_t>::max();
  };

  // The needs of an entry to reach `worst` (none: an empty list), or nothing when no entry
  // can. A term's characters are needed when no folder above matched it, or when even the
  // best folder above falls short with every other term at its best.
  std::optional<Needs> needs(const Candidate* worst) const {
    const size_t rows = terms - 1;
    int64_t best = ceilings[rows] + boost;
    for (size_t t = 0; t < rows; ++t) {
      best += std::max(ceilings[t], halfAbove[t]);
    }
    const int64_t floor = worst == nullptr ? std::numeric_limits<int64_t>::min() : worst->score;
    if (best < floor) {
      return std::nullopt;
    }
    Needs result;
    result.mask = masks[rows];
    for (size_t t = 0; t < rows; ++t) {
      if (halfAbove[t] == kNone ||
          best - std::max(ceilings[t], halfAbove[t]) + halfAbove[t] < floor) {
        result.mask |= masks[t];
      }
    }
    if (best == floor) {
      result.shorterThan = worst->length;
    }
    return result;
  }
};

// The earlier terms' scores on folder names: per term, a bitmap of the folders whose own
// name matched it and, for those only, the score (one row of cells per term, by entry).
struct FileIndex::FolderScores {
  size_t entries = 0;
  size_t rows = 0;
  std::array<std::vector<uint64_t>, kMaxTerms> matched;
  std::vector<int32_t> cells;

  // Per term, the best score on `folder`'s own name or on any folder above it; roots never
  // contribute theirs. kNone when none matched.
  void above(const FileIndex& index, int32_t folder, std::array<int32_t, kMaxTerms>& best) const {
    std::fill(best.begin(), best.begin() + static_cast<std::ptrdiff_t>(rows), kNone);
    for (int32_t f = folder; f >= 0; f = index.parents_[idx(f)]) {
      const size_t word = idx(f) / kBlockEntries;
      const uint64_t bit = uint64_t{1} << (idx(f) % kBlockEntries);
      for (size_t t = 0; t < rows; ++t) {
        if ((matched[t][word] & bit) != 0) {
          best[t] = std::max(best[t], cells[t * entries + idx(f)]);
        }
      }
    }
  }
};

// Only the folders whose names hold every character of a term are aligned, found through
// the bitmaps, in parallel slices of the entries.
std::array<int32_t, FileIndex::kMaxTerms> FileIndex::scoreFolders(
    const std::vector<FuzzyMatcher>& terms, FolderScores& scores) const {
  const size_t n = entryCount();
  const size_t rows = terms.size() - 1;
  const size_t words = folderEntries_.size();
  scores.entries = n;
  scores.rows = rows;
  scores.cells.resize(rows * n);
  for (size_t t = 0; t < rows; ++t) {
    scores.matched[t].resize(words);
  }
  const size_t slices = rangeCount();
  std::vector<std::array<int32_t, kMaxTerms>> bests(slices);
  const auto scoreSlice = [&](size_t k) {
    std::vector<FuzzyMatcher> own(terms.begin(), terms.begin() + static_cast<std::ptrdiff_t>(rows));
    std::array<int32_t, kMaxTerms>& best = bests[k];
    best.fill(kNone);
    for (size_t t = 0; t < rows; ++t) {
      std::array<const uint64_t*, kMaskBits> bitmaps{};
      size_t count = 0;
      for (uint64_t mask = own[t].queryMask(); mask != 0; mask &= mask - 1) {
        bitmaps[count++] = charEntries_[static_cast<size_t>(std::countr_zero(mask))].data();
      }
      uint64_t* matched = scores.matched[t].data();
      int32_t* cells = scores.cells.data() + t * n;
      for (size_t word = words * k / slices; word < words * (k + 1) / slices; ++word) {
        uint64_t bits = folderEntries_[word];
        for (size_t b = 0; b < count && bits != 0; ++b) {
          bits &= bitmaps[b][word];
        }
        uint64_t hits = 0;
        for (; bits != 0; bits &= bits - 1) {
          const auto bit = static_cast<size_t>(std::countr_zero(bits));
          const size_t i = word * kBlockEntries + bit;
          const int32_t score = scoreKey(own[t], keys_, i);
          if (score != kNone) {
            cells[i] = score;
            hits |= uint64_t{1} << bit;
            best[t] = std::max(best[t], score);
          }
        }
        matched[word] = hits;
      }
    }
  };
  if (slices == 1) {
    scoreSlice(0);
  } else {
    WorkerPool::shared().parallelFor(slices, scoreSlice);
  }
  std::array<int32_t, kMaxTerms> best{};
  best.fill(kNone);
  for (const auto& slice : bests) {
    for (size_t t = 0; t < rows; ++t) {
      best[t] = std::max(best[t], slice[t]);
    }
  }
  return best;
}

size_t FileIndex::rangeCount() const {
  const size_t n = entryCount();
  const size_t cores = WorkerPool::shared().concurrency();
  return n <= kEntriesPerRange ? 1 : std::max<size_t>(1, std::min(cores, n / kEntriesPerRange));
}

void FileIndex::scoreRange(size_t begin, size_t end, std::vector<FuzzyMatcher> terms,
                           const Bounds& bounds, const FolderScores& folders,
                           TopMatches& top) const {
  const size_t rows = terms.size() - 1;
  FuzzyMatcher& last = terms.back();
  const auto& masks = bounds.masks;
  const auto& lengths = bounds.lengths;
  const auto& ceilings = bounds.ceilings;
  const uint64_t lastMask = masks[rows];
  const size_t lastLength = lengths[rows];
  std::array<int32_t, kMaxTerms> above{};
  // The cells above the last parent asked about: siblings come one after another.
  std::array<int32_t, kMaxTerms> parentCells{};
  int32_t cellsOf = -1;
  std::array<bool, kMaxTerms> fits{};
  // Each earlier term's share of the entry's ceiling: the best it could still contribute.
  std::array<int64_t, kMaxTerms> shares{};
  const size_t limit = top.limit();

  // Offers entry i to `top` unless it is shown not to belong there before any alignment.
  const auto offer = [&](size_t i, uint64_t keyMask) {
    const uint32_t keyLength = keys_.length(i);
    if ((lastMask & ~keyMask) != 0 || lastLength > keyLength ||
        (flags_[i] & (kRemoved | kRoot)) != 0) {
      return;
    }
    // An earlier term that can neither fit this name nor matched a folder above rejects the
    // entry before any alignment runs; the others add up to the entry's best possible score.
    if (rows > 0 && parents_[i] != cellsOf) {
      cellsOf = parents_[i];
      folders.above(*this, cellsOf, parentCells);
    }
    int64_t ceiling = ceilings[rows] + (boosts_.empty() ? 0 : boosts_[i]);
    for (size_t t = 0; t < rows; ++t) {
      const bool fit = (masks[t] & ~keyMask) == 0 && lengths[t] <= keyLength;
      const int32_t up = parentCells[t];
      if (!fit && up == kNone) {
        return;
      }
      fits[t] = fit;
      above[t] = up;
      const int64_t half = up == kNone ? kNone : up / 2;
      shares[t] = fit ? std::max(ceilings[t], half) : half;
      ceiling += shares[t];
    }
    // Once the list is full, an entry that cannot displace the worst kept candidate is skipped
    // without aligning (a later entry loses every tie of score and length, being further down
    // the index). The ceiling tightens as real scores replace their bounds, so this is checked
    // again before each further alignment.
    const auto outranked = [&] {
      if (top.matches().size() != limit) {
        return false;
      }
      const Candidate& worst = top.matches().back();
      return ceiling < worst.score || (ceiling == worst.score && keyLength >= worst.length);
    };
    if (outranked()) {
      return;
    }
    const auto base = last.score(keys_.keyBytes(i), keys_.keyBonus(i), keyMask);
    if (!base) {
      return;
    }
    int64_t total = *base;
    ceiling += *base - ceilings[rows];
    for (size_t t = 0; t < rows; ++t) {
      if (outranked()) {
        return;
      }
      int32_t own = kNone;
      if (fits[t]) {
        const auto score = terms[t].score(keys_.keyBytes(i), keys_.keyBonus(i), keyMask);
        own = score ? *score : kNone;
      }
      int32_t contribution = 0;
      if (own != kNone && above[t] != kNone) {
        contribution = std::max(own, above[t] / 2);
      } else if (own != kNone) {
        contribution = own;
      } else if (above[t] != kNone) {
        contribution = above[t] / 2;
      } else {
        return;
      }
      total += contribution;
      ceiling += contribution - shares[t];
    }
    if (!boosts_.empty()) {
      total += boosts_[i];
    }
    top.insert({saturated(total), keyLength, static_cast<int32_t>(i)});
  };

  const auto worst = [&]() -> const Candidate* {
    return top.matches().size() == limit ? &top.matches().back() : nullptr;
  };
  // The characters every name must hold to be offered at all; more of them, and perhaps a
  // shorter key, once the list is full and its worst candidate sets a floor. The entries that
  // hold them all are the AND of those characters' bitmaps, 64 at a time.
  if (begin >= end) {
    return;
  }
  std::optional<Bounds::Needs> needs = bounds.needs(nullptr);
  if (!needs) {
    return;
  }
  std::array<const uint64_t*, kMaskBits> bitmaps{};
  size_t bitmapCount = 0;
  uint32_t shorterThan = 0;
  // The long keys that are surely too long, or null.
  const uint64_t* tooLong = nullptr;
  const auto adopt = [&](const Bounds::Needs& adopted) {
    bitmapCount = 0;
    for (uint64_t mask = adopted.mask; mask != 0; mask &= mask - 1) {
      bitmaps[bitmapCount++] = charEntries_[static_cast<size_t>(std::countr_zero(mask))].data();
    }
    shorterThan = adopted.shorterThan;
    tooLong = nullptr;
    for (size_t c = 0; c < kLongKeys.size() && tooLong == nullptr; ++c) {
      tooLong = kLongKeys[c] >= shorterThan ? longEntries_[c].data() : nullptr;
    }
  };
  adopt(*needs);
  const auto holders = [&](size_t word, uint64_t bits) {
    if (tooLong != nullptr) {
      bits &= ~tooLong[word];
    }
    for (size_t b = 0; b < bitmapCount && bits != 0; ++b) {
      bits &= bitmaps[b][word];
    }
    return bits;
  };
  // The entries that pass the bitmaps are far apart, so each costs cache misses on its key,
  // bonus, flags and parent. They are gathered a batch at a time and their lines fetched
  // together, so that the misses overlap; they are still offered in index order, which the
  // ties rely on. An entry gathered under older needs is offered all the same: `offer` makes
  // the exact decision, the needs only filter.
  const uint32_t* starts = keys_.starts.data();
  std::array<size_t, kScanBatch> batch{};
  size_t batched = 0;
  // Offers the gathered entries; false when no entry can rank any more.
  const auto flush = [&] {
    for (size_t k = 0; k < batched; ++k) {
      __builtin_prefetch(starts + batch[k]);
      __builtin_prefetch(keys_.masks.data() + batch[k]);
      __builtin_prefetch(flags_.data() + batch[k]);
      __builtin_prefetch(parents_.data() + batch[k]);
    }
    for (size_t k = 0; k < batched; ++k) {
      __builtin_prefetch(keys_.bytes.data() + starts[batch[k]]);
      __builtin_prefetch(keys_.bonus.data() + starts[batch[k]]);
    }
    for (size_t k = 0; k < batched; ++k) {
      const size_t i = batch[k];
      if (starts[i + 1] - starts[i] >= shorterThan) {
        continue;
      }
      const Candidate* before = worst();
      const Candidate was = before == nullptr ? Candidate{} : *before;
      offer(i, keys_.masks[i]);
      const Candidate* after = worst();
      if (after != nullptr && (before == nullptr || !(*after == was))) {
        needs = bounds.needs(after);
        if (!needs) {
          return false;
        }
        adopt(*needs);
      }
    }
    batched = 0;
    return true;
  };
  const size_t firstWord = begin / kBlockEntries;
  const size_t lastWord = (end - 1) / kBlockEntries;
  for (size_t word = firstWord; word <= lastWord; ++word) {
    if (blockShortest_[word] >= shorterThan) {
      continue;
    }
    uint64_t bits = ~uint64_t{0};
    if (word == firstWord) {
      bits &= ~uint64_t{0} << (begin % kBlockEntries);
    }
    if (word == lastWord && end % kBlockEntries != 0) {
      bits &= (uint64_t{1} << (end % kBlockEntries)) - 1;
    }
    bits = holders(word, bits);
    while (bits != 0) {
      batch[batched++] = word * kBlockEntries + static_cast<size_t>(std::countr_zero(bits));
      bits &= bits - 1;
      if (batched == kScanBatch) {
        if (!flush()) {
          return;
        }
        bits = blockShortest_[word] >= shorterThan ? 0 : holders(word, bits);
      }
    }
  }
  (void)flush();
}

std::vector<FileHit> FileIndex::search(std::string_view query, int limit) const {
  if (limit <= 0 || entryCount() == 0) {
    return {};
  }
  const QueryTerms queryTerms(query);
  if (queryTerms.terms.empty() || queryTerms.terms.size() > kMaxTerms) {
    return {};
  }
  std::vector<FuzzyMatcher> terms = queryTerms.matchers();
  if (std::any_of(terms.begin(), terms.end(), [](const FuzzyMatcher& m) { return m.isEmpty(); })) {
    return {};
  }

  Bounds bounds;
  bounds.terms = terms.size();
  bounds.boost = boostCeiling_;
  for (size_t t = 0; t < terms.size(); ++t) {
    bounds.masks[t] = terms[t].queryMask();
    bounds.lengths[t] = terms[t].query().size();
    bounds.ceilings[t] = bestPossible(terms[t]);
  }
  // Reused from search to search on the calling thread: a million-entry row is megabytes.
  // Named through a plain reference, since the ranges that read it run on other threads.
  thread_local FolderScores reused;
  FolderScores& folders = reused;
  folders.rows = 0;
  if (terms.size() > 1) {
    const auto best = scoreFolders(terms, folders);
    for (size_t t = 0; t + 1 < terms.size(); ++t) {
      bounds.halfAbove[t] = best[t] == kNone ? kNone : best[t] / 2;
    }
  }

  const size_t n = entryCount();
  const size_t ranges = rangeCount();
  const size_t capacity = std::min(static_cast<size_t>(limit), n);
  std::vector<TopMatches> tops(ranges, TopMatches(capacity));
  const auto scoreOne = [&](size_t k) {
    scoreRange(n * k / ranges, n * (k + 1) / ranges, terms, bounds, folders, tops[k]);
  };
  if (ranges == 1) {
    scoreOne(0);
  } else {
    WorkerPool::shared().parallelFor(ranges, scoreOne);
  }

  TopMatches merged(capacity);
  for (const TopMatches& top : tops) {
    for (const Candidate& candidate : top.matches()) {
      merged.insert(candidate);
    }
  }
  std::vector<Candidate> best = std::move(merged).take();
  std::sort(best.begin(), best.end(),
            [](const Candidate& a, const Candidate& b) { return a.ranksBefore(b); });
  std::vector<FileHit> hits;
  hits.reserve(best.size());
  for (const Candidate& candidate : best) {
    hits.push_back(
        {path(candidate.index), (flags_[idx(candidate.index)] & kFolder) != 0, candidate.score});
  }
  return hits;
}

}  // namespace vesk
