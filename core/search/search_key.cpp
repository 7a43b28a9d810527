#include "core/search/search_key.h"

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace vesk {
namespace {

constexpr uint8_t kBonusWordStart = 10;      // after white space, or the first character
constexpr uint8_t kBonusWhitespace = 10;     // a white-space character itself
constexpr uint8_t kBonusPunctuation = 8;     // an "other" or separator character itself
constexpr uint8_t kBonusAfterOther = 8;      // a letter or digit after "-", "_", "." …
constexpr uint8_t kBonusAfterSeparator = 9;  // a letter or digit after "/", ":" …
constexpr uint8_t kBonusCamelHump = 7;       // upper case after lower case
constexpr uint8_t kBonusNumberStart = 7;     // a digit after a non-digit

constexpr std::array<CharClass, 128> makeAsciiClasses() {
  std::array<CharClass, 128> table{};
  table.fill(CharClass::other);
  for (int c = 'a'; c <= 'z'; ++c) {
    table[c] = CharClass::lower;
  }
  for (int c = 'A'; c <= 'Z'; ++c) {
    table[c] = CharClass::upper;
  }
  for (int c = '0'; c <= '9'; ++c) {
    table[c] = CharClass::digit;
  }
  for (char c : {',', '/', ':', ';', '|'}) {
    table[static_cast<unsigned char>(c)] = CharClass::separator;
  }
  table['\t'] = CharClass::whitespace;
  table[' '] = CharClass::whitespace;
  return table;
}
constexpr auto kAsciiClasses = makeAsciiClasses();

constexpr std::array<uint64_t, 256> makeMaskBits() {
  std::array<uint64_t, 256> table{};
  for (int b = 0; b < 256; ++b) {
    int bit = 36 + (b % 28);
    if (b >= 'a' && b <= 'z') {
      bit = b - 0x61;
    } else if (b >= '0' && b <= '9') {
      bit = b - 0x16;
    }
    table[b] = uint64_t{1} << bit;
  }
  return table;
}
constexpr auto kMaskBits = makeMaskBits();

}  // namespace

bool Folding::isAscii(std::string_view text) {
  const char* p = text.data();
  size_t n = text.size();
  uint64_t high = 0;
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    high |= word;
    p += 8;
    n -= 8;
  }
  for (; n > 0; --n, ++p) {
    high |= static_cast<unsigned char>(*p);
  }
  return (high & 0x8080808080808080ULL) == 0;
}

namespace {

// Appends `extra` bytes of room to a vector that is filled repeatedly, keeping geometric
// growth so that packing many names stays linear.
void makeRoom(std::vector<uint8_t>& v, size_t extra) {
  if (v.capacity() - v.size() < extra) {
    v.reserve(std::max(v.size() + extra, 2 * v.capacity()));
  }
}

void foldAscii(std::string_view text, std::vector<uint8_t>& bytes, std::vector<uint8_t>& bonus) {
  CharClass previous = CharClass::whitespace;
  for (const char ch : text) {
    const auto b = static_cast<uint8_t>(ch);
    const CharClass c = kAsciiClasses[b];
    bytes.push_back(c == CharClass::upper ? static_cast<uint8_t>(b | 0x20) : b);
    bonus.push_back(Folding::bonus(c, previous));
    previous = c;
  }
}

// The class of a character from the Unicode properties of its first code point.
CharClass classByProperties(UChar32 c) {
  if (u_hasBinaryProperty(c, UCHAR_WHITE_SPACE)) {
    return CharClass::whitespace;
  }
  if (u_hasBinaryProperty(c, UCHAR_UPPERCASE)) {
    return CharClass::upper;
  }
  if (u_hasBinaryProperty(c, UCHAR_LOWERCASE)) {
    return CharClass::lower;
  }
  if (u_hasBinaryProperty(c, UCHAR_ALPHABETIC)) {
    return CharClass::letter;
  }
  if (u_getNumericValue(c) != U_NO_NUMERIC_VALUE) {
    return CharClass::digit;
  }
  return CharClass::other;
}

// The class of one grapheme cluster held in `text` between `start` and `end`.
CharClass classOfCluster(const icu::UnicodeString& text, int32_t start, int32_t end) {
  if (end - start == 2 && text.charAt(start) == u'\r' && text.charAt(start + 1) == u'\n') {
    return CharClass::other;
  }
  const UChar32 first = text.char32At(start);
  if (first < 0x80 && end - start == U16_LENGTH(first)) {
    return kAsciiClasses[first];
  }
  return classByProperties(first);
}

// Removes diacritics without a locale: decompose, drop non-spacing marks, recompose.
icu::UnicodeString withoutDiacritics(const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (U_FAILURE(status)) {
    return text;
  }
  const icu::UnicodeString decomposed = nfd->normalize(text, status);
  if (U_FAILURE(status)) {
    return text;
  }
  icu::UnicodeString stripped;
  for (int32_t i = 0; i < decomposed.length();) {
    const UChar32 c = decomposed.char32At(i);
    if (u_charType(c) != U_NON_SPACING_MARK) {
      stripped.append(c);
    }
    i += U16_LENGTH(c);
  }
  icu::UnicodeString composed = nfc->normalize(stripped, status);
  return U_FAILURE(status) ? stripped : composed;
}

// Grapheme segmentation is costly to set up, so each thread keeps one iterator.
icu::BreakIterator* clusterIterator() {
  thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    return U_FAILURE(status) ? nullptr : std::move(it);
  }();
  return iterator.get();
}

void foldUnicode(std::string_view text, std::vector<uint8_t>& bytes, std::vector<uint8_t>& bonus) {
  const icu::UnicodeString folded = withoutDiacritics(icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size()))));
  icu::BreakIterator* clusters = clusterIterator();
  CharClass previous = CharClass::whitespace;
  std::string lowered;
  auto appendCluster = [&](int32_t start, int32_t end) {
    const CharClass c = classOfCluster(folded, start, end);
    icu::UnicodeString piece(folded, start, end - start);
    piece.toLower(icu::Locale::getRoot());
    lowered.clear();
    piece.toUTF8String(lowered);
    for (size_t i = 0; i < lowered.size(); ++i) {
      bytes.push_back(static_cast<uint8_t>(lowered[i]));
      bonus.push_back(i == 0 ? Folding::bonus(c, previous) : 0);
    }
    previous = c;
  };
  if (clusters == nullptr) {
    // Without segmentation, every code point is its own character.
    for (int32_t i = 0; i < folded.length();) {
      const int32_t next = i + U16_LENGTH(folded.char32At(i));
      appendCluster(i, next);
      i = next;
    }
    return;
  }
  clusters->setText(folded);
  int32_t start = clusters->first();
  for (int32_t end = clusters->next(); end != icu::BreakIterator::DONE;
       start = end, end = clusters->next()) {
    appendCluster(start, end);
  }
}

// The clipboard search's folding: decompose, drop the non-spacing marks while folding each
// other code point by simple case folding (one code point for one), compose again.
void foldCaseInsensitive(std::string_view text, std::string& out) {
  const icu::UnicodeString source = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  const icu::UnicodeString decomposed = U_FAILURE(status) ? source : nfd->normalize(source, status);
  icu::UnicodeString stripped;
  for (int32_t i = 0; i < decomposed.length();) {
    const UChar32 c = decomposed.char32At(i);
    i += U16_LENGTH(c);
    if (u_charType(c) != U_NON_SPACING_MARK) {
      stripped.append(u_foldCase(c, U_FOLD_CASE_DEFAULT));
    }
  }
  const icu::UnicodeString composed =
      U_FAILURE(status) ? stripped : nfc->normalize(stripped, status);
  (U_FAILURE(status) ? stripped : composed).toUTF8String(out);
}

}  // namespace

CharClass charClass(std::string_view character) {
  const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(character.data(), static_cast<int32_t>(character.size())));
  if (text.isEmpty()) {
    return CharClass::other;
  }
  return classOfCluster(text, 0, text.length());
}

namespace Folding {

uint8_t bonus(CharClass c, CharClass previous) {
  switch (c) {
    case CharClass::whitespace:
      return kBonusWhitespace;
    case CharClass::other:
    case CharClass::separator:
      return kBonusPunctuation;
    default:
      break;
  }
  switch (previous) {
    case CharClass::whitespace:
      return kBonusWordStart;
    case CharClass::other:
      return kBonusAfterOther;
    case CharClass::separator:
      return kBonusAfterSeparator;
    default:
      break;
  }
  if (c == CharClass::upper && previous == CharClass::lower) {
    return kBonusCamelHump;
  }
  if (c == CharClass::digit && previous != CharClass::digit) {
    return kBonusNumberStart;
  }
  return 0;
}

void fold(std::string_view text, std::vector<uint8_t>& bytes, std::vector<uint8_t>& bonus) {
  makeRoom(bytes, text.size());
  makeRoom(bonus, text.size());
  if (isAscii(text)) {
    foldAscii(text, bytes, bonus);
  } else {
    foldUnicode(text, bytes, bonus);
  }
}

void appendFolded(std::string_view text, std::string& out, Mode mode) {
  if (isAscii(text)) {
    const size_t from = out.size();
    out += text;
    for (size_t i = from; i < out.size(); ++i) {
      if (out[i] >= 'A' && out[i] <= 'Z') {
        out[i] = static_cast<char>(out[i] | 0x20);
      }
    }
    return;
  }
  if (mode == Mode::lowerCase) {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> bonus;
    foldUnicode(text, bytes, bonus);
    out.append(bytes.begin(), bytes.end());
    return;
  }
  foldCaseInsensitive(text, out);
}

std::string folded(std::string_view text, Mode mode) {
  std::string out;
  appendFolded(text, out, mode);
  return out;
}

uint64_t mask(std::span<const uint8_t> bytes) {
  uint64_t m = 0;
  for (const uint8_t b : bytes) {
    m |= kMaskBits[b];
  }
  return m;
}

}  // namespace Folding

SearchKey::SearchKey(std::string_view text) {
  Folding::fold(text, bytes, bonus);
  mask = Folding::mask(bytes);
}

}  // namespace vesk
