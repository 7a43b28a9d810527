#pragma once
// SQLiteDatabase: a thin owner of one SQLite connection and its prepared statements, with
// failures as values carrying SQLite's message.
//
// The connection is opened without SQLite's own locking: a database and its statements must
// be used by one thread at a time (the clipboard store uses them only on its queue).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "core/base/result.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vesk {

class SQLiteDatabase final {
 public:
  // One bound value.
  using Value = std::variant<std::nullptr_t, int64_t, double, std::string, std::vector<uint8_t>>;

  // One prepared statement. It refers to its database, which must outlive it.
  class Statement final {
   public:
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // Resets the statement, clears the old bindings and binds `values` to positions 1, 2, ...
    Result<void> bind(const std::vector<Value>& values);
    // True for a row, false when done.
    Result<bool> step();
    // bind, then step until done.
    Result<void> run(const std::vector<Value>& values);
    // bind, then `read(*this)` of the first row, or none when there is no row. The statement
    // is reset afterwards, so it holds no read transaction open.
    template <class Read>
    auto row(const std::vector<Value>& values, Read read)
        -> Result<std::optional<std::invoke_result_t<Read&, const Statement&>>>;
    // bind, then `each(*this)` for every row.
    template <class Each>
    Result<void> eachRow(const std::vector<Value>& values, Each each);
    // bind, then `read(*this)` of every row.
    template <class Read>
    auto rows(const std::vector<Value>& values, Read read)
        -> Result<std::vector<std::invoke_result_t<Read&, const Statement&>>>;

    // Columns of the current row, from 0.
    int64_t integer(int column) const;
    double real(int column) const;
    bool isNull(int column) const;
    // Text as stored (possibly not valid UTF-8); a null column gives the empty string.
    std::string text(int column) const;
    // A null column gives no bytes.
    std::vector<uint8_t> blob(int column) const;

   private:
    friend class SQLiteDatabase;
    Statement(sqlite3_stmt* statement, const SQLiteDatabase* database)
        : statement_(statement), database_(database) {}
    Failure failure() const;
    void reset();

    sqlite3_stmt* statement_ = nullptr;
    const SQLiteDatabase* database_ = nullptr;
  };

  // Opens the file read-write, creating it if needed. When `createMode` is set and the file
  // does not exist yet, it is created with that mode first.
  static Result<std::unique_ptr<SQLiteDatabase>> open(const std::string& path,
                                                      std::optional<unsigned> createMode = {});

  ~SQLiteDatabase();
  SQLiteDatabase(const SQLiteDatabase&) = delete;
  SQLiteDatabase& operator=(const SQLiteDatabase&) = delete;
  SQLiteDatabase(SQLiteDatabase&&) = delete;
  SQLiteDatabase& operator=(SQLiteDatabase&&) = delete;

  Result<Statement> prepare(std::string_view sql);
  // Runs one or more statements that return no rows.
  Result<void> execute(const std::string& sql);
  // One statement, prepared for this call: run, the first row, each row, every row (see
  // Statement).
  Result<void> run(std::string_view sql, const std::vector<Value>& values = {});
  template <class Read>
  auto row(std::string_view sql, const std::vector<Value>& values, Read read)
      -> Result<std::optional<std::invoke_result_t<Read&, const Statement&>>>;
  template <class Each>
  Result<void> eachRow(std::string_view sql, const std::vector<Value>& values, Each each);
  template <class Read>
  auto rows(std::string_view sql, const std::vector<Value>& values, Read read)
      -> Result<std::vector<std::invoke_result_t<Read&, const Statement&>>>;
  // Runs `body` (giving a Result) inside BEGIN IMMEDIATE ... COMMIT; a failed body or commit
  // rolls back, and so does a body that throws (the exception goes on). Gives the body's
  // result, or the failure to begin or commit.
  template <class Body>
  auto transaction(Body body) -> std::invoke_result_t<Body&>;

  int64_t lastInsertRowId() const;
  // Closing leaves the write-ahead log as it is, instead of copying it into the database.
  void keepLogOnClose();
  // The connection's last error message.
  std::string message() const;

 private:
  explicit SQLiteDatabase(sqlite3* connection) : connection_(connection) {}
  // `use(statement)` of `sql` prepared for this call, or the failure to prepare it.
  template <class Use>
  auto prepared(std::string_view sql, Use use) -> std::invoke_result_t<Use&, Statement&>;

  sqlite3* connection_;
};

template <class Each>
Result<void> SQLiteDatabase::Statement::eachRow(const std::vector<Value>& values, Each each) {
  if (auto bound = bind(values); !bound) {
    return bound;
  }
  while (true) {
    auto stepped = step();
    if (!stepped) {
      return stepped.failure();
    }
    if (!stepped.value()) {
      reset();
      return {};
    }
    each(std::as_const(*this));
  }
}

template <class Read>
auto SQLiteDatabase::Statement::row(const std::vector<Value>& values, Read read)
    -> Result<std::optional<std::invoke_result_t<Read&, const Statement&>>> {
  using Row = std::optional<std::invoke_result_t<Read&, const Statement&>>;
  if (auto bound = bind(values); !bound) {
    return bound.failure();
  }
  auto stepped = step();
  if (!stepped) {
    return stepped.failure();
  }
  Row found;
  if (stepped.value()) {
    found.emplace(read(std::as_const(*this)));
  }
  reset();
  return found;
}

template <class Read>
auto SQLiteDatabase::Statement::rows(const std::vector<Value>& values, Read read)
    -> Result<std::vector<std::invoke_result_t<Read&, const Statement&>>> {
  std::vector<std::invoke_result_t<Read&, const Statement&>> found;
  if (auto done = eachRow(values, [&](const Statement& s) { found.push_back(read(s)); }); !done) {
    return done.failure();
  }
  return found;
}

template <class Use>
auto SQLiteDatabase::prepared(std::string_view sql, Use use)
    -> std::invoke_result_t<Use&, Statement&> {
  auto statement = prepare(sql);
  if (!statement) {
    return statement.failure();
  }
  return use(statement.value());
}

template <class Read>
auto SQLiteDatabase::row(std::string_view sql, const std::vector<Value>& values, Read read)
    -> Result<std::optional<std::invoke_result_t<Read&, const Statement&>>> {
  return prepared(sql, [&](Statement& statement) { return statement.row(values, read); });
}

template <class Each>
Result<void> SQLiteDatabase::eachRow(std::string_view sql, const std::vector<Value>& values,
                                     Each each) {
  return prepared(sql, [&](Statement& statement) { return statement.eachRow(values, each); });
}

template <class Read>
auto SQLiteDatabase::rows(std::string_view sql, const std::vector<Value>& values, Read read)
    -> Result<std::vector<std::invoke_result_t<Read&, const Statement&>>> {
  return prepared(sql, [&](Statement& statement) { return statement.rows(values, read); });
}

template <class Body>
auto SQLiteDatabase::transaction(Body body) -> std::invoke_result_t<Body&> {
  if (auto begin = execute("BEGIN IMMEDIATE"); !begin) {
    return begin.failure();
  }
  std::optional<std::invoke_result_t<Body&>> result;
  try {
    result.emplace(body());
  } catch (...) {
    // Left open, the transaction would make every later BEGIN on this connection fail.
    (void)execute("ROLLBACK");
    throw;
  }
  auto& done = *result;
  if (done) {
    if (auto committed = execute("COMMIT"); !committed) {
      (void)execute("ROLLBACK");
      return committed.failure();
    }
  } else {
    (void)execute("ROLLBACK");
  }
  return std::move(done);
}

}  // namespace vesk
