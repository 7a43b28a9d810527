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
  if (auto begin = db.execute("BEGIN IMMEDIATE"); !begin) {
    return begin;
  }
  auto created = db.execute(kSchema);
  if (created) {
    created = db.execute("COMMIT");
  }
  if (!created) {
    (void)db.execute("ROLLBACK");
  }
  return created;
}

// The statement is finalised on return: a statement left on its row would hold a read
// transaction open, and the journal mode can't change inside one.
Result<int64_t> userVersion(SQLiteDatabase& db) {
  auto version = db.prepare("PRAGMA user_version");
  if (!version) {
    return version.failure();
  }
  auto row = version.value().step();
  if (!row) {
    return row.failure();
  }
  return row.value() ? version.value().integer(0) : 0;
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
  auto select = db.prepare("SELECT " + clipColumns() + " FROM clip WHERE id = ?");
  if (!select) {
    return select.failure();
  }
  if (auto bound = select.value().bind({Clip::textLimit, id}); !bound) {
    return bound.failure();
  }
  auto row = select.value().step();
  if (!row) {
    return row.failure();
  }
  if (!row.value()) {
    return std::optional<Clip>();
  }
  return std::optional<Clip>(clip(select.value()));
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
  const Bytes hashBytes(hash.begin(), hash.end());
  auto existing = db.prepare("SELECT id FROM clip WHERE hash = ?");
  if (!existing) {
    return existing.failure();
  }
  if (auto bound = existing.value().bind({hashBytes}); !bound) {
    return bound.failure();
  }
  auto found = existing.value().step();
  if (!found) {
    return found.failure();
  }
  if (!found.value()) {
    return std::optional<int64_t>();
  }
  const int64_t id = existing.value().integer(0);
  auto update = db.prepare("UPDATE clip SET copied = ?, source = coalesce(?, source) WHERE id = ?");
  if (!update) {
    return update.failure();
  }
  if (auto ran = update.value().run({time, optionalText(source), id}); !ran) {
    return ran.failure();
  }
  return std::optional<int64_t>(id);
}

Result<int64_t> insert(SQLiteDatabase& db, const ClipContent& content,
                       std::span<const uint8_t> hash, const NewClip& clip) {
  auto insert = db.prepare(
      "INSERT INTO clip (kind, copied, source, pinned, size, hash, text, lines, width, height)\n"
      "VALUES (?, ?, ?, 0, ?, ?, ?, ?, ?, ?)");
  if (!insert) {
    return insert.failure();
  }
  if (auto ran = insert.value().run({std::string(Clip::rawValue(content.kind)), clip.copied,
                                     optionalText(clip.source), clip.size,
                                     Bytes(hash.begin(), hash.end()), content.text,
                                     Clip::lineCount(content.text), clip.width, clip.height});
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
  if (auto begin = db.execute("BEGIN IMMEDIATE"); !begin) {
    return begin;
  }
  auto removed = [&]() -> Result<void> {
    auto remove = db.prepare("DELETE FROM clip WHERE id = ?");
    if (!remove) {
      return remove.failure();
    }
    for (const int64_t id : ids) {
      if (auto ran = remove.value().run({id}); !ran) {
        return ran;
      }
    }
    return db.execute("COMMIT");
  }();
  if (!removed) {
    (void)db.execute("ROLLBACK");
    return removed;
  }
  // The clips are gone once committed; giving pages back is housekeeping whose failure must
  // not make the caller believe they are still there.
  (void)db.execute("PRAGMA incremental_vacuum");
  return {};
}

Result<std::vector<int64_t>> ids(SQLiteDatabase& db, std::string_view sql) {
  auto select = db.prepare(sql);
  if (!select) {
    return select.failure();
  }
  std::vector<int64_t> found;
  while (true) {
    auto row = select.value().step();
    if (!row) {
      return row.failure();
    }
    if (!row.value()) {
      return found;
    }
    found.push_back(select.value().integer(0));
  }
}

Result<std::optional<StoredItems>> storedItems(SQLiteDatabase& db, int64_t id) {
  auto kind = db.prepare("SELECT kind FROM clip WHERE id = ?");
  if (!kind) {
    return kind.failure();
  }
  if (auto bound = kind.value().bind({id}); !bound) {
    return bound.failure();
  }
  auto found = kind.value().step();
  if (!found) {
    return found.failure();
  }
  if (!found.value()) {
    return std::optional<StoredItems>();
  }
  StoredItems stored;
  stored.isImage = kind.value().text(0) == Clip::rawValue(Clip::Kind::image);

  auto select = db.prepare(
      "SELECT item, type, data FROM representation WHERE clip = ? ORDER BY item, position");
  if (!select) {
    return select.failure();
  }
  if (auto bound = select.value().bind({id}); !bound) {
    return bound.failure();
  }
  while (true) {
    auto row = select.value().step();
    if (!row) {
      return row.failure();
    }
    if (!row.value()) {
      return std::optional<StoredItems>(std::move(stored));
    }
    const int64_t item = select.value().integer(0);
    // Only Vesk writes this table, with items counted from 0 per clip; an index far beyond
    // that is damage and must not make the list grow without bound.
    if (item < 0 || item > static_cast<int64_t>(1) << 20) {
      continue;
    }
    if (stored.items.size() <= static_cast<size_t>(item)) {
      stored.items.resize(static_cast<size_t>(item) + 1);
    }
    stored.items[static_cast<size_t>(item)].push_back(
        {select.value().text(1), select.value().blob(2)});
  }
}

}  // namespace vesk::ClipDatabase
