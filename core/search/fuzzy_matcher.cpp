#include "core/search/fuzzy_matcher.h"

#include <algorithm>
#include <cstring>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace vesk {
namespace {

constexpr int32_t kNeg = -1073741824;         // an impossible alignment
constexpr int32_t kNoPathBelow = -536870911;  // a last-row maximum below this reached no end
constexpr int32_t kMatchScore = 16;           // every matched byte
constexpr int32_t kGapOpen = 3;               // the first skipped byte
constexpr int32_t kGapExtend = 1;             // each further skipped byte
constexpr int32_t kRunFloor = 4;              // least bonus of a byte that continues a run
constexpr int32_t kCarryThreshold = 8;        // a bonus this high starts a new carried run
constexpr int32_t kMaxBonus = 10;             // the largest bonus a byte can carry
constexpr size_t kScratchArrays = 6;          // M, G, C of the previous and current row

// Decodes the code point at `i` (advancing it); invalid bytes decode as negative values.
UChar32 nextCodePoint(std::string_view text, size_t& i) {
  UChar32 c;
  auto index = static_cast<int32_t>(i);
  U8_NEXT(text.data(), index, static_cast<int32_t>(text.size()), c);
  i = static_cast<size_t>(index);
  return c;
}

bool isWhiteSpace(UChar32 c) {
  return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

// Trims Unicode white space (newlines included) from both ends.
std::string_view trimmed(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t next = begin;
    if (!isWhiteSpace(nextCodePoint(text, next))) {
      break;
    }
    begin = next;
  }
  size_t end = begin;
  for (size_t i = begin; i < text.size();) {
    if (!isWhiteSpace(nextCodePoint(text, i))) {
      end = i;
    }
  }
  return text.substr(begin, end - begin);
}

}  // namespace

FuzzyMatcher::FuzzyMatcher(std::string_view query) {
  std::vector<uint8_t> ignoredBonus;
  Folding::fold(trimmed(query), query_, ignoredBonus);
  queryMask_ = Folding::mask(query_);
}

std::optional<int32_t> FuzzyMatcher::score(std::span<const uint8_t> text,
                                           std::span<const uint8_t> bonus, uint64_t mask) {
  const size_t m = query_.size();
  const size_t n = text.size();
  if (m == 0 || n < m || (queryMask_ & ~mask) != 0) {
    return std::nullopt;
  }
  const uint8_t* t = text.data();
  const uint8_t* q = query_.data();

  // Greedy subsequence test; the first occurrence of the first query byte opens the window.
  const auto* firstHit = static_cast<const uint8_t*>(std::memchr(t, q[0], n));
  if (firstHit == nullptr) {
    return std::nullopt;
  }
  const size_t a = static_cast<size_t>(firstHit - t);
  if (m == 1) {
    // The best single position is the one with the largest bonus; none beats a word start.
    int32_t best = 0;
    for (size_t k = a; k < n && best < kMaxBonus; ++k) {
      if (t[k] == q[0]) {
        best = std::max<int32_t>(best, bonus[k]);
      }
    }
    return 2 * best + kMatchScore;
  }
  size_t qi = 1;
  for (size_t i = a + 1; i < n && qi < m; ++i) {
    qi += static_cast<size_t>(t[i] == q[qi]);
  }
  if (qi < m) {
    return std::nullopt;
  }
  size_t e = n - 1;
  while (t[e] != q[m - 1]) {
    --e;
  }
  const uint8_t* b = bonus.data() + a;
  t += a;
  const size_t w = e - a + 1;

  if (scratch_.size() < kScratchArrays * n) {
    scratch_.assign(std::max(kScratchArrays * n, 2 * scratch_.size()), 0);
  }
  int32_t* prevM = scratch_.data();
  int32_t* prevG = prevM + w;
  int32_t* prevC = prevG + w;
  int32_t* curM = prevC + w;
  int32_t* curG = curM + w;
  int32_t* curC = curG + w;

  // Row i only fills the columns [lo, hi] where a path through all query bytes can pass:
  // lo is the greedy (earliest) column of q[i], and hi leaves one column for each later byte.
  // A cell outside holds an impossible alignment whatever its exact value, so leaving it out
  // changes no real score; each row reads the previous one only inside its band.
  size_t lo = 0;
  size_t hi = w - m;

  // First row: the first query byte earns its position's bonus twice.
  for (size_t k = 0; k <= hi; ++k) {
    prevM[k] = t[k] == q[0] ? 2 * b[k] + kMatchScore : kNeg;
    prevC[k] = b[k];
  }
  prevG[0] = kNeg;
  for (size_t k = 1; k <= hi; ++k) {
    prevG[k] = std::max(prevM[k - 1] - kGapOpen, prevG[k - 1] - kGapExtend);
  }

  for (size_t i = 1; i < m; ++i) {
    const uint8_t qc = q[i];
    ++hi;
    do {
      ++lo;
    } while (t[lo] != qc);
    for (size_t k = lo; k <= hi; ++k) {
      if (t[k] != qc) {
        curM[k] = kNeg;
        curC[k] = 0;
      } else {
        const int32_t g = b[k];
        const int32_t h = prevC[k - 1];
        const int32_t diag = prevM[k - 1] + kMatchScore + std::max({g, h, kRunFloor});
        const int32_t gap = prevG[k - 1] + kMatchScore + g;
        curM[k] = std::max(diag, gap);
        curC[k] = ((g >= kCarryThreshold && g > h) || diag < gap) ? g : h;
      }
    }
    // Nothing in this row matched before lo, so nothing waits at lo to jump a gap.
    curG[lo] = kNeg;
    for (size_t k = lo + 1; k <= hi; ++k) {
      curG[k] = std::max(curM[k - 1] - kGapOpen, curG[k - 1] - kGapExtend);
    }
    std::swap(prevM, curM);
    std::swap(prevG, curG);
    std::swap(prevC, curC);
  }

  const int32_t best = *std::max_element(prevM + lo, prevM + w);
  if (best < kNoPathBelow) {
    return std::nullopt;
  }
  return best;
}

QueryTerms::QueryTerms(std::string_view typed) {
  size_t pieceStart = 0;
  auto endPiece = [&](size_t end) {
    const std::string_view piece = typed.substr(pieceStart, end - pieceStart);
    if (!piece.empty() && piece != "~" && piece != ".") {
      terms.emplace_back(piece);
    }
  };
  for (size_t i = 0; i < typed.size();) {
    const size_t start = i;
    const auto byte = static_cast<unsigned char>(typed[i]);
    bool splits = false;
    if (byte < 0x80) {
      ++i;
      splits = byte == '/' || byte == ' ' || (byte >= '\t' && byte <= '\r');
    } else {
      splits = isWhiteSpace(nextCodePoint(typed, i));
    }
    if (splits) {
      endPiece(start);
      pieceStart = i;
    }
  }
  endPiece(typed.size());
}

std::vector<FuzzyMatcher> QueryTerms::matchers() const {
  std::vector<FuzzyMatcher> result;
  result.reserve(terms.size());
  for (const auto& term : terms) {
    result.emplace_back(term);
  }
  return result;
}

void TopMatches::insert(const Candidate& candidate) {
  if (matches_.size() >= limit_) {
    if (limit_ == 0 || !candidate.ranksBefore(matches_.back())) {
      return;
    }
    matches_.pop_back();
  }
  const auto place =
      std::upper_bound(matches_.begin(), matches_.end(), candidate,
                       [](const Candidate& x, const Candidate& y) { return x.ranksBefore(y); });
  matches_.insert(place, candidate);
}

}  // namespace vesk
