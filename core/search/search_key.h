#pragma once
// The one text encoding of the launcher's matcher: a name becomes folded bytes (diacritics
// removed, then lower-cased), one word-boundary bonus per byte, and a 64-bit mask of the
// character groups it holds. Applications, commands, actions and every file name are encoded
// this way, and the application index and the file index must produce identical bytes for
// equal text. The clipboard search keeps a folding of its own (case-insensitive rather than
// lower-cased), offered here as the second mode so that both live in one place.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// Character classes, ordered: the bonus rule compares them by value.
enum class CharClass : uint8_t {
  whitespace = 0,
  other = 1,
  separator = 2,
  lower = 3,
  upper = 4,
  letter = 5,
  digit = 6,
};

// The class of one character: `character` holds the UTF-8 of one extended grapheme cluster.
CharClass charClass(std::string_view character);

namespace Folding {

// The two foldings. Both drop diacritics without a locale (decompose, drop the non-spacing
// marks, compose again) and lower only A–Z in ASCII text, without ICU; they differ in how a
// non-ASCII character loses its case:
// - lowerCase: the full Unicode lower-case mapping of each character on its own, the
//   launcher's, the bytes fold() gives ("Straße" → "straße", "STRASSE" → "strasse", "ﬁ" stays
//   "ﬁ", "Σ" → "σ" even at a word's end);
// - caseInsensitive: simple case folding code point by code point, the clipboard search's
//   ("ẞ" and "ß" → "ß", "ς" and "Σ" → "σ", "İ" → "i"), so a text never grows.
enum class Mode { lowerCase, caseInsensitive };

// `text` folded in `mode`. Invalid UTF-8 folds as U+FFFD.
std::string folded(std::string_view text, Mode mode);
// Appends folded(text, mode) to `out`.
void appendFolded(std::string_view text, std::string& out, Mode mode);
// True when every byte of `text` is ASCII; reads eight bytes at a time.
bool isAscii(std::string_view text);

// Appends the lowerCase-folded bytes of `text` to `bytes` and one bonus per appended byte to
// `bonus`. All-ASCII text takes a byte-wise path with no allocation beyond the arrays' growth;
// other text is folded with ICU. Invalid UTF-8 is folded as U+FFFD, never rejected.
void fold(std::string_view text, std::vector<uint8_t>& bytes, std::vector<uint8_t>& bonus);

// The character-group mask of folded bytes: bits 0-25 letters, 26-35 digits, 36-63 any other
// byte modulo 28.
uint64_t mask(std::span<const uint8_t> bytes);

// The bonus of a character of class `c` that follows one of class `previous`.
uint8_t bonus(CharClass c, CharClass previous);

}  // namespace Folding

// A name prepared for fuzzy matching. Immutable once built; `bonus` has one entry per byte.
struct SearchKey {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> bonus;
  uint64_t mask = 0;

  SearchKey() = default;
  explicit SearchKey(std::string_view text);

  bool operator==(const SearchKey&) const = default;
};

}  // namespace vesk
