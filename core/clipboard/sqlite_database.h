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

  Result<Statement> prepare(std::string_view sql);
  // Runs one or more statements that return no rows.
  Result<void> execute(const std::string& sql);

  int64_t lastInsertRowId() const;
  // Closing leaves the write-ahead log as it is, instead of copying it into the database.
  void keepLogOnClose();
  // The connection's last error message.
  std::string message() const;

 private:
  explicit SQLiteDatabase(sqlite3* connection) : connection_(connection) {}

  sqlite3* connection_;
};

}  // namespace vesk
