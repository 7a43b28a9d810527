#pragma once
// TOMLReader: reads the small TOML subset of config.toml ([table] headers and `key = value`
// lines whose values are strings, integers, floats, booleans and nested arrays) into a
// two-level document: table name, then key, then the value with the line its key began on.
//
// Everything outside the subset is refused with one TOMLError naming the line and saying, in
// the user's words, what is wrong. The reader stops at the first error and never returns part
// of a document. A plain value type with no platform dependencies; use one reader per text.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/base/result.h"

namespace vesk {

// One value of the document. Arrays may mix cases and nest. Strings hold UTF-8.
class TOMLValue {
 public:
  using Array = std::vector<TOMLValue>;

  TOMLValue() = default;  // the empty string
  static TOMLValue ofString(std::string text) { return of<std::string>(std::move(text)); }
  static TOMLValue ofInteger(std::int64_t number) { return of<std::int64_t>(number); }
  static TOMLValue ofFloat(double number) { return of<double>(number); }
  static TOMLValue ofBoolean(bool flag) { return of<bool>(flag); }
  static TOMLValue ofArray(Array elements) { return of<Array>(std::move(elements)); }

  // Each accessor returns null when the value holds another case.
  const std::string* asString() const { return std::get_if<std::string>(&payload_); }
  const std::int64_t* asInteger() const { return std::get_if<std::int64_t>(&payload_); }
  const double* asFloat() const { return std::get_if<double>(&payload_); }
  const bool* asBoolean() const { return std::get_if<bool>(&payload_); }
  const Array* asArray() const { return std::get_if<Array>(&payload_); }

  bool operator==(const TOMLValue&) const = default;

 private:
  using Payload = std::variant<std::string, std::int64_t, double, bool, Array>;

  // Built in place: moving a whole variant here trips GCC's uninitialised-use analysis.
  template <class T, class V>
  static TOMLValue of(V&& payload) {
    TOMLValue value;
    value.payload_.emplace<T>(std::forward<V>(payload));
    return value;
  }

  Payload payload_;
};

// Why a text was refused: the 1-based line and a sentence for the user.
struct TOMLError {
  std::int64_t line = 1;
  std::string message;

  // "line 12: unterminated string"
  std::string description() const;
  bool operator==(const TOMLError&) const = default;
};

class TOMLReader {
 public:
  struct Entry {
    TOMLValue value;
    std::int64_t line = 0;  // where the entry's key started
    bool operator==(const Entry&) const = default;
  };
  using Table = std::map<std::string, Entry>;
  // Table name (dotted parts joined with ".") → its keys. Always holds the top-level table,
  // whose name is empty.
  using Document = std::map<std::string, Table>;

  // The text as Unicode scalars; see UTF8::decode for text read from a file.
  explicit TOMLReader(std::u32string text) : text_(std::move(text)) {}

  // Reads the whole text once. Call at most once per reader.
  Result<Document, TOMLError> document();

  // Arrays nest at most this deep; deeper ones are refused instead of exhausting the stack.
  static constexpr int kMaxArrayDepth = 64;

 private:
  using Path = std::vector<std::string>;

  void skipBlankLines();
  void skipSpaces();
  Path key();
  void expect(char32_t wanted);
  TOMLValue value(int depth);
  void endOfLine();
  std::string basicString();
  std::string literalString();
  TOMLValue array(int depth);
  TOMLValue number();
  TOMLValue boolean();
  void escape(std::string& into);
  std::u32string token();

  void header(Document& document, std::set<std::string>& declared);
  void keyValue(Document& document);
  void claimTable(const Path& path, const std::string& name);
  void claimValue(const Path& path, const std::string& name);

  bool atEnd() const { return position_ >= static_cast<std::int64_t>(text_.size()); }
  char32_t peek(std::int64_t ahead = 0) const;
  char32_t next();  // consumes one scalar, counting a line at a line feed
  [[noreturn]] void fail(std::string message) const;

  std::u32string text_;
  std::int64_t position_ = 0;
  std::int64_t line_ = 1;
  std::string currentTable_;
  Path currentPath_;
  // Paths of every table and every value so far, so that one name is never both.
  std::set<Path> tablePaths_;
  std::set<Path> valuePaths_;
};

}  // namespace vesk
