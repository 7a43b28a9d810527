#include "core/clipboard/clip_database.h"

#include <span>
#include <string_view>
#include <utility>

#include "core/base/utf8.h"
#include "core/clipboard/clipboard_files.h"

namespace vesk::ClipDatabase {
namespace {

constexpr unsigned kDatabaseMode = 0600;

constexpr const char* kSchema = R"sql(
CREATE TABLE clip (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  kind TEXT NOT NULL,
  copied REAL NOT NULL,
  source TEXT,
  pinned INTEGER NOT NULL,
  size INTEGER NOT NULL,
  hash BLOB NOT NULL UNIQUE,
  text TEXT NOT NULL,
  lines INTEGER NOT NULL,
  width INTEGER NOT NULL,
  height INTEGER NOT NULL
);
CREATE INDEX clip_copied ON clip (copied);
CREATE TABLE representation (
  clip INTEGER NOT NULL REFERENCES clip (id) ON DELETE CASCADE,
  item INTEGER NOT NULL,
  position INTEGER NOT NULL,
  type TEXT NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY (clip, item, position)
) WITHOUT ROWID;
PRAGMA user_version = 1;
)sql";

Result<void> createSchema(SQLiteDatabase& db) {
  // The vacuum mode only takes on a file without tables, so it goes first.
  if (auto vacuum = db.execute("PRAGMA auto_vacuum = INCREMENTAL"); !vacuum) {
    return vacuum;
  }
  return db.transaction([&] { return db.execute(kSchema); });
}

int64_t firstInteger(const SQLiteDatabase::Statement& row) {
  return row.integer(0);
}

// The statement is finalised on return: a statement left on its row would hold a read
// transaction open, and the journal mode can't change inside one.
Result<int64_t> userVersion(SQLiteDatabase& db) {
  auto version = db.row("PRAGMA user_version", {}, firstInteger);
  if (!version) {
    return version.failure();
  }
  return version.value().value_or(0);
}

}  // namespace

Result<std::unique_ptr<SQLiteDatabase>> open(const std::string& folder) {
  if (auto created = ClipboardFiles::createFolder(folder + "/images"); !created) {
    return created.failure();
  }
  auto opened = SQLiteDatabase::open(folder + "/history.sqlite", kDatabaseMode);
  if (!opened) {
    return opened.failure();
  }
  std::unique_ptr<SQLiteDatabase> db = std::move(opened).value();

  auto number = userVersion(*db);
  if (!number) {
    return number.failure();
  }
  if (number.value() == 0) {
    if (auto created = createSchema(*db); !created) {
      return created.failure();
    }
  } else if (number.value() != schemaVersion) {
    return Failure{"the clipboard history is from a newer Vesk (version " +
                   std::to_string(number.value()) + ")"};
  }
  if (auto set = db->execute(
          "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON;");
      !set) {
    return set.failure();
  }
  return db;
}

const std::string& clipColumns() {
  // SQLite 3.40 has no octet_length; the length of the text cast to a blob is its byte count.
  static const std::string columns =
      "id, kind, copied, source, pinned, size, substr(text, 1, CASE kind WHEN 'files' THEN " +
      std::to_string(Clip::pathsLimit) +
      " ELSE ? END), lines, width, height, length(CAST(text AS BLOB))";
  return columns;
}

Clip clip(const SQLiteDatabase::Statement& row) {
  Clip clip;
  clip.id = row.integer(0);
  clip.kind = Clip::kindFromRawValue(row.text(1)).value_or(Clip::Kind::text);
  clip.copied = row.real(2);
  if (!row.isNull(3)) {
    clip.source = row.text(3);
  }
  clip.pinned = row.integer(4) != 0;
  clip.size = row.integer(5);
  clip.text = UTF8::valid(row.text(6));
  clip.lines = row.integer(7);
  clip.pixelWidth = row.integer(8);
  clip.pixelHeight = row.integer(9);
  clip.textBytes = row.integer(10);
  return clip;
}

Result<std::optional<Clip>> find(SQLiteDatabase& db, int64_t id) {
  return db.row("SELECT " + clipColumns() + " FROM clip WHERE id = ?", {Clip::textLimit, id}, clip);
}

Result<Clip> readBack(SQLiteDatabase& db, int64_t id) {
  auto found = find(db, id);
  if (!found) {
    return found.failure();
  }
  if (!found.value()) {
    return Failure{"clip " + std::to_string(id) + " vanished"};
  }
  return std::move(*found.value());
}

}  // namespace vesk::ClipDatabase

namespace vesk::ClipDatabase {
namespace {

using Value = SQLiteDatabase::Value;

Value optionalText(const std::optional<std::string>& text) {
  return text ? Value(*text) : Value(nullptr);
}

}  // namespace

Result<std::optional<int64_t>> repeat(SQLiteDatabase& db, std::span<const uint8_t> hash,
                                      const std::optional<std::string>& source, double time) {
  auto existing =
      db.row("SELECT id FROM clip WHERE hash = ?", {Bytes(hash.begin(), hash.end())}, firstInteger);
  if (!existing || !existing.value()) {
    return existing;
  }
  if (auto ran = db.run("UPDATE clip SET copied = ?, source = coalesce(?, source) WHERE id = ?",
                        {time, optionalText(source), *existing.value()});
      !ran) {
    return ran.failure();
  }
  return existing;
}

Result<int64_t> insert(SQLiteDatabase& db, const ClipContent& content,
                       std::span<const uint8_t> hash, const NewClip& clip) {
  if (auto ran = db.run("INSERT INTO clip (kind, copied, source, pinned, size, hash, text, lines, "
                        "width, height)\n"
                        "VALUES (?, ?, ?, 0, ?, ?, ?, ?, ?, ?)",
                        {std::string(Clip::rawValue(content.kind)), clip.copied,
                         optionalText(clip.source), clip.size, Bytes(hash.begin(), hash.end()),
                         content.text, Clip::lineCount(content.text), clip.width, clip.height});
      !ran) {
    return ran.failure();
  }
  const int64_t id = db.lastInsertRowId();
  auto representation = db.prepare(
      "INSERT INTO representation (clip, item, position, type, data) VALUES (?, ?, ?, ?, ?)");
  if (!representation) {
    return representation.failure();
  }
  for (size_t item = 0; item < content.items.size(); ++item) {
    for (size_t position = 0; position < content.items[item].size(); ++position) {
      const Representation& r = content.items[item][position];
      if (auto ran = representation.value().run(
              {id, static_cast<int64_t>(item), static_cast<int64_t>(position), r.type, r.data});
          !ran) {
        return ran.failure();
      }
    }
  }
  return id;
}

Result<void> remove(SQLiteDatabase& db, const std::vector<int64_t>& ids) {
  if (ids.empty()) {
    return {};
  }
  auto removed = db.transaction([&]() -> Result<void> {
    auto remove = db.prepare("DELETE FROM clip WHERE id = ?");
    if (!remove) {
      return remove.failure();
    }
    for (const int64_t id : ids) {
      if (auto ran = remove.value().run({id}); !ran) {
        return ran;
      }
    }
    return {};
  });
  if (!removed) {
    return removed;
  }
  // The clips are gone once committed; giving pages back is housekeeping whose failure must
  // not make the caller believe they are still there.
  (void)db.execute("PRAGMA incremental_vacuum");
  return {};
}

Result<std::vector<int64_t>> ids(SQLiteDatabase& db, std::string_view sql) {
  return db.rows(sql, {}, firstInteger);
}

Result<std::optional<StoredItems>> storedItems(SQLiteDatabase& db, int64_t id) {
  auto isImage =
      db.row("SELECT kind FROM clip WHERE id = ?", {id}, [](const SQLiteDatabase::Statement& row) {
        return row.text(0) == Clip::rawValue(Clip::Kind::image);
      });
  if (!isImage) {
    return isImage.failure();
  }
  if (!isImage.value()) {
    return std::optional<StoredItems>();
  }
  StoredItems stored;
  stored.isImage = *isImage.value();
  auto read = db.eachRow(
      "SELECT item, type, data FROM representation WHERE clip = ? ORDER BY item, position", {id},
      [&](const SQLiteDatabase::Statement& row) {
        const int64_t item = row.integer(0);
        // Only Vesk writes this table, with items counted from 0 per clip; an index far
        // beyond that is damage and must not make the list grow without bound.
        if (item < 0 || item > static_cast<int64_t>(1) << 20) {
          return;
        }
        if (stored.items.size() <= static_cast<size_t>(item)) {
          stored.items.resize(static_cast<size_t>(item) + 1);
        }
        stored.items[static_cast<size_t>(item)].push_back({row.text(1), row.blob(2)});
      });
  if (!read) {
    return read.failure();
  }
  return std::optional<StoredItems>(std::move(stored));
}

}  // namespace vesk::ClipDatabase
