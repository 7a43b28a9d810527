// FileIndex::search: the per-keystroke scan of every entry, split into contiguous ranges that
// run on the shared worker pool. Kept apart from the tree maintenance in file_index.cpp.

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>

#include "core/base/worker_pool.h"
#include "core/files/file_index.h"

namespace vesk {

namespace {

constexpr int32_t kNone = std::numeric_limits<int32_t>::min();

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

// Fills one row per earlier term: a folder's cell is the best score of the term on its own
// name or on any folder above it. Roots never contribute their names. Only folder cells are
// written and read (every live entry's parent is a live folder).
//
// The alignments run in parallel ranges, each writing its folders' own scores and listing
// them; one pass down the tree (over the folders only, parents first) then takes in the
// cells above.
void FileIndex::scoreAncestors(const std::vector<FuzzyMatcher>& terms,
                               std::vector<int32_t>& table) const {
  const size_t n = entryCount();
  const size_t rows = terms.size() - 1;
  table.resize(rows * n);
  const size_t ranges = rangeCount();
  std::vector<std::vector<int32_t>> folders(ranges);
  const auto scoreOwn = [&](size_t k) {
    std::vector<FuzzyMatcher> own(terms.begin(), terms.begin() + static_cast<std::ptrdiff_t>(rows));
    std::vector<int32_t>& listed = folders[k];
    const size_t begin = n * k / ranges;
    const size_t end = n * (k + 1) / ranges;
    // Held in locals so that the scan over the flags stays in registers across the calls.
    const uint8_t* flags = flags_.data();
    int32_t* cells = table.data();
    for (size_t i = begin; i < end; ++i) {
      const uint8_t f = flags[i];
      if ((f & (kFolder | kRemoved)) != kFolder) {
        continue;
      }
      listed.push_back(static_cast<int32_t>(i));
      for (size_t t = 0; t < rows; ++t) {
        cells[t * n + i] = (f & kRoot) != 0 ? kNone : scoreKey(own[t], keys_, i);
      }
    }
  };
  if (ranges == 1) {
    scoreOwn(0);
  } else {
    WorkerPool::shared().parallelFor(ranges, scoreOwn);
  }
  for (const std::vector<int32_t>& listed : folders) {
    for (const int32_t i : listed) {
      const int32_t parent = parents_[idx(i)];
      if (parent < 0) {
        continue;
      }
      for (size_t t = 0; t < rows; ++t) {
        int32_t& cell = table[t * n + idx(i)];
        cell = std::max(cell, table[t * n + idx(parent)]);
      }
    }
  }
}

size_t FileIndex::rangeCount() const {
  const size_t n = entryCount();
  const size_t cores = WorkerPool::shared().concurrency();
  return n <= kEntriesPerRange ? 1 : std::max<size_t>(1, std::min(cores, n / kEntriesPerRange));
}

void FileIndex::scoreRange(size_t begin, size_t end, std::vector<FuzzyMatcher> terms,
                           std::span<const int32_t> table, TopMatches& top) const {
  const size_t n = entryCount();
  const size_t rows = terms.size() - 1;
  FuzzyMatcher& last = terms.back();
  const uint64_t lastMask = last.queryMask();
  const size_t lastLength = last.query().size();
  // Per term, hoisted out of the loop: mask, length and the best score any name could get.
  std::array<uint64_t, kMaxTerms> masks{};
  std::array<size_t, kMaxTerms> lengths{};
  std::array<int64_t, kMaxTerms> ceilings{};
  for (size_t t = 0; t < terms.size(); ++t) {
    masks[t] = terms[t].queryMask();
    lengths[t] = terms[t].query().size();
    ceilings[t] = bestPossible(terms[t]);
  }
  std::array<int32_t, kMaxTerms> above{};
  std::array<bool, kMaxTerms> fits{};
  // Each earlier term's share of the entry's ceiling: the best it could still contribute.
  std::array<int64_t, kMaxTerms> shares{};
  const size_t limit = top.limit();
  for (size_t i = begin; i < end; ++i) {
    // The cheapest rejections inline, before any call: most names lack a byte of the last term.
    const uint64_t keyMask = keys_.masks[i];
    if ((lastMask & ~keyMask) != 0) {
      continue;
    }
    const uint32_t keyLength = keys_.length(i);
    if (lastLength > keyLength || (flags_[i] & (kRemoved | kRoot)) != 0) {
      continue;
    }
    // An earlier term that can neither fit this name nor matched a folder above rejects the
    // entry before any alignment runs; the others add up to the entry's best possible score.
    const size_t parent = idx(parents_[i]);
    int64_t ceiling = ceilings[rows] + (boosts_.empty() ? 0 : boosts_[i]);
    bool hopeless = false;
    for (size_t t = 0; t < rows; ++t) {
      const bool fit = (masks[t] & ~keyMask) == 0 && lengths[t] <= keyLength;
      const int32_t up = table[t * n + parent];
      if (!fit && up == kNone) {
        hopeless = true;
        break;
      }
      fits[t] = fit;
      above[t] = up;
      const int64_t half = up == kNone ? kNone : up / 2;
      shares[t] = fit ? std::max(ceilings[t], half) : half;
      ceiling += shares[t];
    }
    if (hopeless) {
      continue;
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
      continue;
    }
    const auto base = last.score(keys_.keyBytes(i), keys_.keyBonus(i), keyMask);
    if (!base) {
      continue;
    }
    int64_t total = *base;
    ceiling += *base - ceilings[rows];
    bool rejected = false;
    for (size_t t = 0; t < rows && !rejected; ++t) {
      if (outranked()) {
        rejected = true;
        break;
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
        rejected = true;
      }
      total += contribution;
      ceiling += contribution - shares[t];
    }
    if (rejected) {
      continue;
    }
    if (!boosts_.empty()) {
      total += boosts_[i];
    }
    top.insert({saturated(total), keyLength, static_cast<int32_t>(i)});
  }
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

  // Reused from search to search on the calling thread: a million-entry table is megabytes.
  thread_local std::vector<int32_t> table;
  if (terms.size() > 1) {
    scoreAncestors(terms, table);
  }

  const size_t n = entryCount();
  const size_t ranges = rangeCount();
  const size_t capacity = std::min(static_cast<size_t>(limit), n);
  std::vector<TopMatches> tops(ranges, TopMatches(capacity));
  const std::span<const int32_t> cells(table.data(), terms.size() > 1 ? table.size() : 0);
  const auto scoreOne = [&](size_t k) {
    scoreRange(n * k / ranges, n * (k + 1) / ranges, terms, cells, tops[k]);
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
