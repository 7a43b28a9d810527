#pragma once
// ClipDatabase: the on-disk format of the clipboard history: the schema of "history.sqlite",
// its opening and creation, and the columns a clip is read with. Used by ClipboardStore on its
// queue only.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/result.h"
#include "core/clipboard/clip.h"
#include "core/clipboard/clip_reading.h"
#include "core/clipboard/sqlite_database.h"

namespace vesk::ClipDatabase {

inline constexpr int64_t schemaVersion = 1;

// Opens "history.sqlite" in `folder` (creating "images" beside it, the database with its
// schema when new) and sets the connection's modes. A file that is no database, or a
// database of another version, fails and is left untouched.
Result<std::unique_ptr<SQLiteDatabase>> open(const std::string& folder);

// The columns a clip is read with; the one placeholder takes Clip::textLimit.
const std::string& clipColumns();

// The clip in the current row of a statement that selected clipColumns().
Clip clip(const SQLiteDatabase::Statement& row);

// The clip with that id, or none.
Result<std::optional<Clip>> find(SQLiteDatabase& db, int64_t id);

// The clip with that id; failure "clip <id> vanished" when it isn't there.
Result<Clip> readBack(SQLiteDatabase& db, int64_t id);

// Moves the clip with this hash, if there is one, to `time`, taking `source` unless it is
// none; gives its id.
Result<std::optional<int64_t>> repeat(SQLiteDatabase& db, std::span<const uint8_t> hash,
                                      const std::optional<std::string>& source, double time);

// What a new row holds besides the content.
struct NewClip {
  std::optional<std::string> source;
  double copied = 0;
  int64_t size = 0;
  int64_t width = 0;
  int64_t height = 0;
};

// Inserts the clip row and its representations; the caller holds the transaction. Gives the
// new id.
Result<int64_t> insert(SQLiteDatabase& db, const ClipContent& content,
                       std::span<const uint8_t> hash, const NewClip& clip);

// Deletes the clips in one transaction (their representations go with them), then gives the
// freed pages back to the file system.
Result<void> remove(SQLiteDatabase& db, const std::vector<int64_t>& ids);

// The first column of every row of a query without placeholders.
Result<std::vector<int64_t>> ids(SQLiteDatabase& db, std::string_view sql);

// The stored items of a clip (an item index with no rows becomes an empty item) and whether
// it is an image clip; none when the clip isn't there.
struct StoredItems {
  ClipItems items;
  bool isImage = false;
};
Result<std::optional<StoredItems>> storedItems(SQLiteDatabase& db, int64_t id);

}  // namespace vesk::ClipDatabase
