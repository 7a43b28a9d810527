#include "core/config/toml_reader.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "core/base/utf8.h"

namespace vesk {

namespace {

// Returned by peek() past the end of the text; never a Unicode scalar.
constexpr char32_t kEnd = 0xFFFFFFFF;

bool isSpace(char32_t c) {
  return c == U' ' || c == U'\t';
}

bool isBareKeyScalar(char32_t c) {
  return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9') ||
         c == U'_' || c == U'-';
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isHexDigit(char32_t c) {
  return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'f') || (c >= U'A' && c <= U'F');
}

std::uint32_t hexValue(char32_t c) {
  if (c >= U'0' && c <= U'9') {
    return c - U'0';
  }
  if (c >= U'a' && c <= U'f') {
    return c - U'a' + 10;
  }
  return c - U'A' + 10;
}

std::string utf8(std::u32string_view scalars) {
  std::string out;
  out.reserve(scalars.size());
  for (const char32_t c : scalars) {
    UTF8::append(out, c);
  }
  return out;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) {
      out += '.';
    }
    out += parts[i];
  }
  return out;
}

// An optional sign, then one or more ASCII digits.
bool looksLikeInteger(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    text.remove_prefix(1);
  }
  return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

std::optional<std::int64_t> integerFrom(std::string_view text) {
  if (!looksLikeInteger(text)) {
    return std::nullopt;
  }
  if (text.front() == '+') {
    text.remove_prefix(1);
  }
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return number;
}

// Plain decimal floating-point text only: digits, one optional sign in front, a point and an
// exponent. Words such as "inf" and "nan" are not numbers here.
std::optional<double> floatFrom(std::string_view text) {
  if (text.find_first_of(".eE") == std::string_view::npos) {
    return std::nullopt;
  }
  const bool allowed = std::all_of(text.begin(), text.end(), [](char c) {
    return isDigit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
  });
  if (!allowed) {
    return std::nullopt;
  }
  if (text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-' || text.front() == '+') {
      return std::nullopt;
    }
  }
  double number = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return number;
}

}  // namespace

std::string TOMLError::description() const {
  return "line " + std::to_string(line) + ": " + message;
}

Result<TOMLReader::Document, TOMLError> TOMLReader::document() {
  try {
    Document document;
    document.try_emplace("");
    std::set<std::string> declared;
    skipBlankLines();
    while (!atEnd()) {
      if (peek() == U'[') {
        header(document, declared);
      } else {
        keyValue(document);
      }
      endOfLine();
      skipBlankLines();
    }
    return document;
  } catch (TOMLError& error) {
    return std::move(error);
  }
}

void TOMLReader::header(Document& document, std::set<std::string>& declared) {
  next();
  if (peek() == U'[') {
    fail("arrays of tables ([[…]]) aren't supported");
  }
  skipSpaces();
  Path path = key();
  std::string name = joined(path);
  skipSpaces();
  expect(U']');
  if (declared.contains(name)) {
    fail("table [" + name + "] is defined twice");
  }
  claimTable(path, name);
  declared.insert(name);
  document.try_emplace(name);
  currentTable_ = std::move(name);
  currentPath_ = std::move(path);
}

void TOMLReader::keyValue(Document& document) {
  const std::int64_t line = line_;
  Path path = key();
  std::string name = std::move(path.back());
  path.pop_back();

  // The table is the current one followed by the other parts; empty parts add nothing.
  std::vector<std::string> tableParts;
  Path tablePath = currentPath_;
  if (!currentTable_.empty()) {
    tableParts.push_back(currentTable_);
  }
  for (std::string& part : path) {
    if (!part.empty()) {
      tableParts.push_back(part);
      tablePath.push_back(std::move(part));
    }
  }
  const std::string tableName = joined(tableParts);

  skipSpaces();
  expect(U'=');
  skipSpaces();
  TOMLValue parsed = value(0);

  const auto existing = document.find(tableName);
  if (existing != document.end() && existing->second.contains(name)) {
    fail(name + " is set twice");
  }
  if (!tablePath.empty()) {
    claimTable(tablePath, tableName);
  }
  Path valuePath = tablePath;
  valuePath.push_back(name);
  claimValue(valuePath, tableName.empty() ? name : tableName + "." + name);
  document[tableName].emplace(std::move(name), Entry{std::move(parsed), line});
}

// A table may not lie at or below a value: `a.b = 1` then `[a.b]` or `a.b.c = 2`.
void TOMLReader::claimTable(const Path& path, const std::string& name) {
  Path prefix;
  for (const std::string& part : path) {
    prefix.push_back(part);
    if (valuePaths_.contains(prefix)) {
      fail(name + " is set as a value and as a table");
    }
  }
  tablePaths_.insert(path);
}

// A value may not stand where a table already is: `a.b.c = 1` then `a.b = 2`.
void TOMLReader::claimValue(const Path& path, const std::string& name) {
  const auto after = tablePaths_.lower_bound(path);
  if (after != tablePaths_.end() && after->size() >= path.size() &&
      std::equal(path.begin(), path.end(), after->begin())) {
    fail(name + " is set as a value and as a table");
  }
  valuePaths_.insert(path);
}

void TOMLReader::skipBlankLines() {
  while (!atEnd()) {
    const char32_t c = peek();
    if (c == U'\n' || c == U'\t' || c == U'\r' || c == U' ') {
      next();
    } else if (c == U'#') {
      while (!atEnd() && peek() != U'\n') {
        next();
      }
    } else {
      return;
    }
  }
}

void TOMLReader::skipSpaces() {
  while (!atEnd() && isSpace(peek())) {
    next();
  }
}

TOMLReader::Path TOMLReader::key() {
  Path parts;
  while (true) {
    skipSpaces();
    if (atEnd()) {
      fail("expected a key");
    }
    const char32_t c = peek();
    if (c == U'"') {
      parts.push_back(basicString());
    } else if (c == U'\'') {
      parts.push_back(literalString());
    } else {
      const std::int64_t start = position_;
      while (!atEnd() && isBareKeyScalar(peek())) {
        next();
      }
      if (position_ == start) {
        fail("expected a key");
      }
      parts.push_back(utf8(std::u32string_view(text_).substr(start, position_ - start)));
    }
    skipSpaces();
    if (atEnd() || peek() != U'.') {
      return parts;
    }
    next();
  }
}

void TOMLReader::expect(char32_t wanted) {
  if (!atEnd() && peek() == wanted) {
    next();
    return;
  }
  std::string message = "expected ";
  UTF8::append(message, wanted);
  fail(std::move(message));
}

TOMLValue TOMLReader::value(int depth) {
  if (atEnd()) {
    fail("expected a value");
  }
  const char32_t c = peek();
  switch (c) {
    case U'"':
      if (peek(1) == U'"' && peek(2) == U'"') {
        fail("multi-line strings aren't supported");
      }
      return TOMLValue::ofString(basicString());
    case U'\'':
      if (peek(1) == U'\'' && peek(2) == U'\'') {
        fail("multi-line strings aren't supported");
      }
      return TOMLValue::ofString(literalString());
    case U'+':
    case U'-':
    case U'.':
      return number();
    case U'[':
      return array(depth + 1);
    case U't':
    case U'f':
      return boolean();
    case U'{':
      fail("inline tables aren't supported");
    case U'\u2018':
    case U'\u2019':
    case U'\u201C':
    case U'\u201D':
      fail("curly quotes, expected straight ones (\")");
    default:
      if (c >= U'0' && c <= U'9') {
        return number();
      }
      fail("expected a value");
  }
}

void TOMLReader::endOfLine() {
  skipSpaces();
  if (!atEnd() && peek() == U'#') {
    while (!atEnd() && peek() != U'\n') {
      next();
    }
  }
  if (!atEnd() && peek() == U'\r') {
    next();
  }
  if (!atEnd() && peek() != U'\n') {
    fail("unexpected text after the value");
  }
}

std::string TOMLReader::basicString() {
  next();
  std::string out;
  while (true) {
    if (atEnd() || peek() == U'\n') {
      fail("unterminated string");
    }
    const char32_t c = next();
    if (c == U'"') {
      return out;
    }
    if (c == U'\\') {
      escape(out);
    } else {
      UTF8::append(out, c);
    }
  }
}

std::string TOMLReader::literalString() {
  next();
  std::string out;
  while (true) {
    if (atEnd() || peek() == U'\n') {
      fail("unterminated string");
    }
    const char32_t c = next();
    if (c == U'\'') {
      return out;
    }
    UTF8::append(out, c);
  }
}

TOMLValue TOMLReader::array(int depth) {
  if (depth > kMaxArrayDepth) {
    fail("arrays are nested too deeply");
  }
  next();
  TOMLValue::Array elements;
  while (true) {
    skipBlankLines();
    if (!atEnd() && peek() == U']') {
      next();
      return TOMLValue::ofArray(std::move(elements));
    }
    elements.push_back(value(depth));
    skipBlankLines();
    if (!atEnd() && peek() == U',') {
      next();
      continue;
    }
    expect(U']');
    return TOMLValue::ofArray(std::move(elements));
  }
}

TOMLValue TOMLReader::number() {
  const std::string written = utf8(token());
  std::string digits = written;
  std::erase(digits, '_');
  if (const auto integer = integerFrom(digits)) {
    return TOMLValue::ofInteger(*integer);
  }
  if (const auto decimal = floatFrom(digits)) {
    return TOMLValue::ofFloat(*decimal);
  }
  fail(written + " isn't a number this reader supports");
}

TOMLValue TOMLReader::boolean() {
  const std::u32string word = token();
  if (word == U"true") {
    return TOMLValue::ofBoolean(true);
  }
  if (word == U"false") {
    return TOMLValue::ofBoolean(false);
  }
  fail("expected a value, found " + utf8(word));
}

void TOMLReader::escape(std::string& into) {
  if (atEnd()) {
    fail("unterminated string");
  }
  const char32_t c = next();
  switch (c) {
    case U'"':
    case U'\\':
      UTF8::append(into, c);
      return;
    case U'b':
      into += '\b';
      return;
    case U'f':
      into += '\f';
      return;
    case U'n':
      into += '\n';
      return;
    case U'r':
      into += '\r';
      return;
    case U't':
      into += '\t';
      return;
    case U'u':
    case U'U': {
      const std::string bad = c == U'u' ? "bad \\u escape" : "bad \\U escape";
      const int count = c == U'u' ? 4 : 8;
      std::uint64_t scalar = 0;
      for (int i = 0; i < count; ++i) {
        if (atEnd() || !isHexDigit(peek())) {
          fail(bad);
        }
        scalar = scalar * 16 + hexValue(next());
      }
      if (scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) {
        fail(bad);
      }
      UTF8::append(into, static_cast<char32_t>(scalar));
      return;
    }
    default: {
      std::string message = "unknown escape \\";
      UTF8::append(message, c);
      fail(std::move(message));
    }
  }
}

std::u32string TOMLReader::token() {
  const std::int64_t start = position_;
  while (!atEnd()) {
    const char32_t c = peek();
    if (c == U'\t' || c == U'\n' || c == U'\r' || c == U' ' || c == U'#' || c == U',' ||
        c == U']') {
      break;
    }
    next();
  }
  return text_.substr(start, position_ - start);
}

char32_t TOMLReader::peek(std::int64_t ahead) const {
  const std::int64_t at = position_ + ahead;
  return at < static_cast<std::int64_t>(text_.size()) ? text_[at] : kEnd;
}

char32_t TOMLReader::next() {
  const char32_t c = text_[position_++];
  if (c == U'\n') {
    ++line_;
  }
  return c;
}

void TOMLReader::fail(std::string message) const {
  throw TOMLError{line_, std::move(message)};
}

}  // namespace vesk
