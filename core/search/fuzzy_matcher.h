#pragma once
// FuzzyMatcher scores one query term against prepared names; QueryTerms splits typed text
// into terms; TopMatches keeps the best candidates of a scan.
//
// A matcher owns the scratch memory of its alignment and reuses it from call to call, so
// scoring allocates nothing per name once the scratch has grown to the longest name met. It
// is confined to one thread at a time: parallel callers give each worker its own copy.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/search/search_key.h"

namespace vesk {

class FuzzyMatcher {
 public:
  // Trims white space and newlines from both ends of `query` and folds it.
  explicit FuzzyMatcher(std::string_view query);

  // True when the query folds to no bytes; such a matcher matches nothing.
  bool isEmpty() const { return query_.empty(); }

  const std::vector<uint8_t>& query() const { return query_; }
  uint64_t queryMask() const { return queryMask_; }

  // The score of the query against a name, or none when it does not match. `text` and
  // `bonus` have equal length; `mask` is the text's mask. Names whose mask lacks one of the
  // query's bits cost one AND; the rest cost one pass plus query length × window width.
  std::optional<int32_t> score(std::span<const uint8_t> text, std::span<const uint8_t> bonus,
                               uint64_t mask);
  std::optional<int32_t> score(const SearchKey& key) {
    return score(key.bytes, key.bonus, key.mask);
  }

 private:
  std::vector<uint8_t> query_;
  uint64_t queryMask_ = 0;
  std::vector<int32_t> scratch_;
};

// The terms of typed text: split at white space and "/", without empty pieces, "~" or ".".
struct QueryTerms {
  std::vector<std::string> terms;

  explicit QueryTerms(std::string_view typed);

  // One matcher per term, in typed order.
  std::vector<FuzzyMatcher> matchers() const;
};

// A scored entry of an index: its score, the byte length of its key, and its position.
struct Candidate {
  int32_t score = 0;
  uint32_t length = 0;
  int32_t index = 0;

  bool operator==(const Candidate&) const = default;
  // Best first: higher score, then shorter key, then lower position.
  bool ranksBefore(const Candidate& other) const {
    if (score != other.score) {
      return score > other.score;
    }
    if (length != other.length) {
      return length < other.length;
    }
    return index < other.index;
  }
};

// A bounded best-first list of candidates.
class TopMatches {
 public:
  explicit TopMatches(size_t limit) : limit_(limit) { matches_.reserve(limit); }

  size_t limit() const { return limit_; }
  const std::vector<Candidate>& matches() const { return matches_; }
  std::vector<Candidate> take() && { return std::move(matches_); }

  // Keeps the candidate if the list has room or it ranks strictly before the worst kept one.
  void insert(const Candidate& candidate);

 private:
  size_t limit_;
  std::vector<Candidate> matches_;
};

}  // namespace vesk
