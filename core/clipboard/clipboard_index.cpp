#include "core/clipboard/clipboard_index.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <unordered_set>
#include <utility>

#include "core/base/worker_pool.h"
#include "core/clipboard/byte_search.h"
#include "core/search/fuzzy_matcher.h"
#include "core/search/search_key.h"

namespace vesk {
namespace {

// Clips are matched ignoring case, not lower-cased as launcher names are.
constexpr Folding::Mode kFolding = Folding::Mode::caseInsensitive;

// Newest first; equal times put the larger id first.
bool sortsBefore(const Clip& a, const Clip& b) {
  if (a.copied != b.copied) {
    return a.copied > b.copied;
  }
  return a.id > b.id;
}

// Appends the folded key of the clip to `out`; text clips are folded without a copy first.
void appendFoldedKey(const Clip& clip, std::string& out) {
  switch (clip.kind) {
    case Clip::Kind::image:
      return;
    case Clip::Kind::files:
      Folding::appendFolded(ClipboardIndex::keyText(clip), out, kFolding);
      return;
    default:
      Folding::appendFolded(clip.text, out, kFolding);
  }
}

uint64_t maskOf(std::string_view key) {
  return Folding::mask({reinterpret_cast<const uint8_t*>(key.data()), key.size()});
}

// Grow the key buffer by an eighth rather than doubling: it holds most of the index's memory.
// Small buffers grow by at least kMinGrowth bytes.
constexpr size_t kGrowthDivisor = 8;
constexpr size_t kMinGrowth = 4096;
// Compact once the unused bytes are more than this part of the key buffer.
constexpr int64_t kDeadFraction = 4;

// The byte length of the line break at `at`, 0 when there is none: LF, VT, FF, CR, NEL,
// LINE SEPARATOR or PARAGRAPH SEPARATOR.
size_t lineBreakAt(std::string_view text, size_t at) {
  const auto byte = static_cast<unsigned char>(text[at]);
  if (byte >= '\n' && byte <= '\r') {
    return 1;
  }
  const std::string_view rest = text.substr(at);
  if (rest.starts_with("\u0085")) {
    return 2;
  }
  if (rest.starts_with("\u2028") || rest.starts_with("\u2029")) {
    return 3;
  }
  return 0;
}

}  // namespace

ClipboardIndex::ClipboardIndex(std::vector<Clip> clips) : clips_(std::move(clips)) {
  // The store loads them in this order already.
  if (!std::is_sorted(clips_.begin(), clips_.end(), sortsBefore)) {
    std::sort(clips_.begin(), clips_.end(), sortsBefore);
  }
  const size_t n = clips_.size();
  spans_.resize(n);
  masks_.resize(n);
  pinned_.resize(n);
  // Folding is the costly part of a load; spread it over the pool. The first pass finds the
  // length of every key, folding aside the keys that are not plain ASCII text; the second
  // writes each key to its place in one buffer, in position order.
  constexpr size_t kBatch = 1024;
  const size_t batches = (n + kBatch - 1) / kBatch;
  std::vector<std::string> aside(n);
  std::vector<uint8_t> folded(n);  // 1 where the key waits in `aside`
  WorkerPool::shared().parallelFor(batches, [&](size_t batch) {
    for (size_t i = batch * kBatch; i < std::min(n, (batch + 1) * kBatch); ++i) {
      const Clip& clip = clips_[i];
      size_t length = 0;
      if (clip.kind == Clip::Kind::files ||
          (clip.kind != Clip::Kind::image && !Folding::isAscii(clip.text))) {
        aside[i] = Folding::folded(keyText(clip), kFolding);
        folded[i] = 1;
        length = aside[i].size();
      } else if (clip.kind != Clip::Kind::image) {
        length = clip.text.size();
      }
      spans_[i].length = static_cast<uint32_t>(length);
      pinned_[i] = clip.pinned ? 1 : 0;
    }
  });
  uint64_t total = 0;
  for (KeySpan& span : spans_) {
    span.offset = total;
    total += span.length;
  }
  keyData_.resize(total + ByteSearch::kPadding);
  WorkerPool::shared().parallelFor(batches, [&](size_t batch) {
    for (size_t i = batch * kBatch; i < std::min(n, (batch + 1) * kBatch); ++i) {
      auto* out = keyData_.data() + spans_[i].offset;
      const size_t length = spans_[i].length;
      if (folded[i] != 0) {
        std::memcpy(out, aside[i].data(), length);
        std::string().swap(aside[i]);
      } else {
        const std::string& text = clips_[i].text;
        for (size_t j = 0; j < length; ++j) {
          const char c = text[j];
          out[j] = static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
      }
      masks_[i] = Folding::mask({out, length});
    }
  });
  keyBytes_ = static_cast<int64_t>(total);
}

std::span<const uint8_t> ClipboardIndex::keyBytesAt(size_t position) const {
  const KeySpan span = spans_[position];
  return {keyData_.data() + span.offset, span.length};
}

size_t ClipboardIndex::keyMemory() const {
  return keyData_.capacity() + spans_.capacity() * sizeof(KeySpan) +
         masks_.capacity() * sizeof(uint64_t) + pinned_.capacity();
}

std::optional<size_t> ClipboardIndex::position(int64_t id) const {
  for (size_t i = 0; i < clips_.size(); ++i) {
    if (clips_[i].id == id) {
      return i;
    }
  }
  return std::nullopt;
}

ClipboardIndex::KeySpan ClipboardIndex::appendKey(std::string_view folded) {
  // The padding sits at the end of the buffer; the key goes where it began.
  const size_t end = keyData_.empty() ? 0 : keyData_.size() - ByteSearch::kPadding;
  const size_t needed = end + folded.size() + ByteSearch::kPadding;
  if (needed > keyData_.capacity()) {
    keyData_.reserve(needed + std::max(end / kGrowthDivisor, kMinGrowth));
  }
  keyData_.resize(end);
  keyData_.insert(keyData_.end(), folded.begin(), folded.end());
  keyData_.resize(needed);
  return {end, static_cast<uint32_t>(folded.size())};
}

void ClipboardIndex::compact() {
  std::vector<uint8_t> packed;
  packed.reserve(static_cast<size_t>(keyBytes_) + ByteSearch::kPadding);
  for (KeySpan& span : spans_) {
    const auto* key = keyData_.data() + span.offset;
    span.offset = packed.size();
    packed.insert(packed.end(), key, key + span.length);
  }
  packed.resize(packed.size() + ByteSearch::kPadding);
  keyData_ = std::move(packed);
  deadBytes_ = 0;
}

void ClipboardIndex::insert(Clip clip) {
  const int64_t id = clip.id;
  remove(std::span<const int64_t>(&id, 1));
  const auto at = static_cast<size_t>(
      std::find_if(clips_.begin(), clips_.end(),
                   [&](const Clip& other) { return sortsBefore(clip, other); }) -
      clips_.begin());
  std::string key;
  appendFoldedKey(clip, key);
  const KeySpan span = appendKey(key);
  keyBytes_ += static_cast<int64_t>(key.size());
  const auto offset = static_cast<std::ptrdiff_t>(at);
  pinned_.insert(pinned_.begin() + offset, clip.pinned ? 1 : 0);
  masks_.insert(masks_.begin() + offset, maskOf(key));
  spans_.insert(spans_.begin() + offset, span);
  clips_.insert(clips_.begin() + offset, std::move(clip));
}

void ClipboardIndex::remove(std::span<const int64_t> ids) {
  if (ids.empty()) {
    return;
  }
  const std::unordered_set<int64_t> gone(ids.begin(), ids.end());
  size_t kept = 0;
  for (size_t i = 0; i < clips_.size(); ++i) {
    if (gone.contains(clips_[i].id)) {
      keyBytes_ -= spans_[i].length;
      deadBytes_ += spans_[i].length;
      continue;
    }
    if (kept != i) {
      clips_[kept] = std::move(clips_[i]);
      spans_[kept] = spans_[i];
      masks_[kept] = masks_[i];
      pinned_[kept] = pinned_[i];
    }
    ++kept;
  }
  clips_.resize(kept);
  spans_.resize(kept);
  masks_.resize(kept);
  pinned_.resize(kept);
  if (deadBytes_ > 0 && deadBytes_ * kDeadFraction > keyBytes_ + deadBytes_) {
    compact();
  }
}

void ClipboardIndex::setPinned(bool pinned, int64_t id) {
  if (const auto at = position(id)) {
    clips_[*at].pinned = pinned;
    pinned_[*at] = pinned ? 1 : 0;
  }
}

std::vector<uint8_t> ClipboardIndex::fold(std::string_view text) {
  const std::string folded = Folding::folded(text, kFolding);
  return {folded.begin(), folded.end()};
}

std::string ClipboardIndex::keyText(const Clip& clip) {
  switch (clip.kind) {
    case Clip::Kind::image:
      return {};
    case Clip::Kind::files:
      break;
    default:
      return clip.text;
  }
  // Files are found by their names, not by the folders they are in.
  std::string names;
  std::string_view rest = clip.text;
  while (!rest.empty()) {
    const size_t end = std::min(rest.find('\n'), rest.size());
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (line.empty()) {
      continue;
    }
    std::string_view name = line;
    std::string_view path = line;
    while (!path.empty() && path.back() == '/') {
      path.remove_suffix(1);
    }
    if (!path.empty()) {
      const size_t slash = path.rfind('/');
      name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    }
    if (!names.empty()) {
      names += '\n';
    }
    names += name;
  }
  return names;
}

size_t ClipboardIndex::cores() {
  static const size_t count = std::max(1U, std::thread::hardware_concurrency());
  return count;
}

void ClipboardIndex::scan(size_t begin, size_t end, size_t budget, const std::vector<Term>& terms,
                          Range& out) const {
  const uint8_t* keys = keyData_.data();
  for (size_t i = begin; i < end; ++i) {
    const bool pinned = pinned_[i] != 0;
    if (!pinned && out.rest.size() >= budget) {
      continue;
    }
    const uint64_t mask = masks_[i];
    const KeySpan span = spans_[i];
    const std::string_view key(reinterpret_cast<const char*>(keys + span.offset), span.length);
    const bool matches = std::all_of(terms.begin(), terms.end(), [&](const Term& term) {
      return (term.mask & ~mask) == 0 && ByteSearch::containsPadded(key, term.bytes);
    });
    if (matches) {
      (pinned ? out.pinned : out.rest).push_back(i);
    }
  }
}

std::vector<size_t> ClipboardIndex::search(std::string_view query, size_t limit) const {
  const QueryTerms split(query);
  const size_t n = clips_.size();
  if (split.terms.empty()) {
    std::vector<size_t> positions(std::min(limit, n));
    for (size_t i = 0; i < positions.size(); ++i) {
      positions[i] = i;
    }
    return positions;
  }
  std::vector<Term> terms;
  terms.reserve(split.terms.size());
  for (const std::string& text : split.terms) {
    Term term{fold(text), 0};
    term.mask = Folding::mask(term.bytes);
    terms.push_back(std::move(term));
  }

  const auto count = static_cast<int64_t>(n);
  size_t first = 0;
  if (n > 0) {
    first = keyBytes_ > 0 ? static_cast<size_t>(std::min(
                                count, std::max<int64_t>(1, count * chunkBytes / keyBytes_)))
                          : n;
  }
  std::vector<Range> ranges(1);
  scan(0, first, limit, terms, ranges[0]);

  const size_t budget = limit > ranges[0].rest.size() ? limit - ranges[0].rest.size() : 0;
  const int64_t bytesLeft =
      keyBytes_ * (count - static_cast<int64_t>(first)) / std::max<int64_t>(count, 1);
  const auto pieces = static_cast<size_t>(bytesLeft < chunkBytes ? 1 : bytesLeft / chunkBytes);
  const size_t workers = std::min(cores(), pieces);
  if (first < n) {
    if (budget == 0 || workers <= 1) {
      scan(first, n, budget, terms, ranges.emplace_back());
    } else {
      ranges.resize(1 + workers);
      const size_t rest = n - first;
      WorkerPool::shared().parallelFor(workers, [&](size_t k) {
        scan(first + k * rest / workers, first + (k + 1) * rest / workers, budget, terms,
             ranges[1 + k]);
      });
    }
  }

  std::vector<size_t> positions;
  positions.reserve(limit);
  for (const bool pinned : {true, false}) {
    for (const Range& range : ranges) {
      for (const size_t position : pinned ? range.pinned : range.rest) {
        if (positions.size() == limit) {
          return positions;
        }
        positions.push_back(position);
      }
    }
  }
  return positions;
}

std::optional<std::string> ClipboardIndex::matchingLine(std::string_view text,
                                                        std::string_view query) {
  const QueryTerms split(query);
  if (split.terms.empty()) {
    return std::nullopt;
  }
  std::vector<std::vector<uint8_t>> terms;
  for (const std::string& term : split.terms) {
    terms.push_back(fold(term));
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t breakLength = 0;
    size_t end = start;
    for (; end < text.size(); ++end) {
      breakLength = lineBreakAt(text, end);
      if (breakLength > 0) {
        break;
      }
    }
    const std::string_view line = text.substr(start, end - start);
    if (!line.empty()) {
      const std::string folded = Folding::folded(line, kFolding);
      if (std::all_of(terms.begin(), terms.end(),
                      [&](const auto& term) { return ByteSearch::contains(folded, term); })) {
        return std::string(line);
      }
    }
    start = end + breakLength;
  }
  return std::nullopt;
}

}  // namespace vesk
