#include "core/clipboard/sqlite_database.h"

#include <cerrno>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace vesk {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

SQLiteDatabase::Statement::Statement(Statement&& other) noexcept
    : statement_(std::exchange(other.statement_, nullptr)), database_(other.database_) {}

SQLiteDatabase::Statement& SQLiteDatabase::Statement::operator=(Statement&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(statement_);
    statement_ = std::exchange(other.statement_, nullptr);
    database_ = other.database_;
  }
  return *this;
}

SQLiteDatabase::Statement::~Statement() {
  sqlite3_finalize(statement_);
}

Failure SQLiteDatabase::Statement::failure() const {
  return Failure{database_->message()};
}

Result<void> SQLiteDatabase::Statement::bind(const std::vector<Value>& values) {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
  int position = 1;
  for (const Value& value : values) {
    const int rc =
        std::visit(Overloaded{
                       [&](std::nullptr_t) { return sqlite3_bind_null(statement_, position); },
                       [&](int64_t v) { return sqlite3_bind_int64(statement_, position, v); },
                       [&](double v) { return sqlite3_bind_double(statement_, position, v); },
                       [&](const std::string& v) {
                         return sqlite3_bind_text64(statement_, position, v.data(), v.size(),
                                                    SQLITE_TRANSIENT, SQLITE_UTF8);
                       },
                       [&](const std::vector<uint8_t>& v) {
                         // A zero-length blob must still bind as a blob, not as null.
                         return v.empty() ? sqlite3_bind_zeroblob(statement_, position, 0)
                                          : sqlite3_bind_blob64(statement_, position, v.data(),
                                                                v.size(), SQLITE_TRANSIENT);
                       },
                   },
                   value);
    if (rc != SQLITE_OK) {
      return failure();
    }
    ++position;
  }
  return {};
}

Result<bool> SQLiteDatabase::Statement::step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) {
    return true;
  }
  if (rc == SQLITE_DONE) {
    return false;
  }
  // Reset so that the statement holds no lock and can be used again.
  Failure failed = failure();
  sqlite3_reset(statement_);
  return failed;
}

void SQLiteDatabase::Statement::reset() {
  sqlite3_reset(statement_);
}

Result<void> SQLiteDatabase::Statement::run(const std::vector<Value>& values) {
  return eachRow(values, [](const Statement&) {});
}

int64_t SQLiteDatabase::Statement::integer(int column) const {
  return sqlite3_column_int64(statement_, column);
}

double SQLiteDatabase::Statement::real(int column) const {
  return sqlite3_column_double(statement_, column);
}

bool SQLiteDatabase::Statement::isNull(int column) const {
  return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

std::string SQLiteDatabase::Statement::text(int column) const {
  const auto* bytes = sqlite3_column_text(statement_, column);
  const int length = sqlite3_column_bytes(statement_, column);
  if (bytes == nullptr || length <= 0) {
    return {};
  }
  return {reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)};
}

std::vector<uint8_t> SQLiteDatabase::Statement::blob(int column) const {
  const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement_, column));
  const int length = sqlite3_column_bytes(statement_, column);
  if (bytes == nullptr || length <= 0) {
    return {};
  }
  return {bytes, bytes + length};
}

Result<std::unique_ptr<SQLiteDatabase>> SQLiteDatabase::open(const std::string& path,
                                                             std::optional<unsigned> createMode) {
  if (createMode) {
    // Create the file with its mode before SQLite does (SQLite would use the umask); an
    // existing file is left exactly as it is.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, *createMode);
    if (fd >= 0) {
      ::close(fd);
    } else if (errno != EEXIST) {
      return Failure{"couldn't open " + path + ": " +
                     std::error_code(errno, std::generic_category()).message()};
    }
  }
  sqlite3* connection = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &connection,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (connection == nullptr) {
    return Failure{"couldn't open " + path + ": out of memory"};
  }
  if (rc != SQLITE_OK) {
    std::string message = sqlite3_errmsg(connection);
    sqlite3_close(connection);
    return Failure{"couldn't open " + path + ": " + message};
  }
  return std::unique_ptr<SQLiteDatabase>(new SQLiteDatabase(connection));
}

SQLiteDatabase::~SQLiteDatabase() {
  sqlite3_close_v2(connection_);
}

Result<SQLiteDatabase::Statement> SQLiteDatabase::prepare(std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  const int rc = sqlite3_prepare_v2(connection_, sql.data(), static_cast<int>(sql.size()),
                                    &statement, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(statement);
    return Failure{message()};
  }
  return Statement(statement, this);
}

Result<void> SQLiteDatabase::execute(const std::string& sql) {
  char* error = nullptr;
  const int rc = sqlite3_exec(connection_, sql.c_str(), nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string text = error != nullptr ? error : message();
    sqlite3_free(error);
    return Failure{std::move(text)};
  }
  return {};
}

Result<void> SQLiteDatabase::run(std::string_view sql, const std::vector<Value>& values) {
  return prepared(sql, [&](Statement& statement) { return statement.run(values); });
}

int64_t SQLiteDatabase::lastInsertRowId() const {
  return sqlite3_last_insert_rowid(connection_);
}

void SQLiteDatabase::keepLogOnClose() {
  sqlite3_db_config(connection_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

std::string SQLiteDatabase::message() const {
  return sqlite3_errmsg(connection_);
}

}  // namespace vesk
