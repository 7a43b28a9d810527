#include "core/clipboard/clipboard_store.h"

#include <array>
#include <charconv>
#include <filesystem>
#include <unordered_set>
#include <utility>

#include "core/base/atomic_file.h"
#include "core/base/utf8.h"
#include "core/base/xdg_folders.h"
#include "core/clipboard/clip_database.h"
#include "core/clipboard/clip_hash.h"
#include "core/clipboard/clipboard_files.h"
#include "core/clipboard/image_codec.h"
#include "core/clipboard/image_thumbnails.h"
#include "core/clipboard/sqlite_database.h"

namespace vesk {

namespace {

// Why a copied image got no thumbnails: too large to decode, or not readable at all.
std::string imageFailure(const std::optional<Bytes>& image, const ImageCodec* codec) {
  if (image && codec != nullptr) {
    const auto properties = codec->properties(*image);
    if (properties && properties->width * properties->height > ImageCodec::maxPixels) {
      const std::string side = std::to_string(ImageCodec::maxPixelSide);
      return "the copied image is larger than " + side + " × " + side + " pixels";
    }
  }
  return "the copied image couldn't be read";
}

// The row of a new clip: its size counts every representation and the image's files.
ClipDatabase::NewClip newRow(const ClipContent& content,
                             const std::optional<ImageThumbnails::Rendered>& rendered,
                             const std::optional<std::string>& source, double time) {
  ClipDatabase::NewClip row{source, time, static_cast<int64_t>(content.text.size()), 0, 0};
  for (const auto& item : content.items) {
    for (const auto& representation : item) {
      row.size += static_cast<int64_t>(representation.data.size());
    }
  }
  if (rendered) {
    row.size += static_cast<int64_t>(content.image->size() + rendered->row.size() +
                                     rendered->preview.size());
    row.width = rendered->width;
    row.height = rendered->height;
  }
  return row;
}

// Saves an image clip's files, adding each one saved to `written`.
Result<void> saveImage(const ClipboardStore& store, int64_t id, const Bytes& image,
                       const ImageThumbnails::Rendered& rendered,
                       std::vector<std::string>& written) {
  const std::array<std::pair<std::string, const Bytes*>, 3> files = {
      {{store.imageFile(id), &image},
       {store.rowThumbnail(id), &rendered.row},
       {store.previewThumbnail(id), &rendered.preview}}};
  for (const auto& [path, bytes] : files) {
    if (auto saved = AtomicFile::write(path, *bytes, ClipboardFiles::kFileMode); !saved) {
      return Failure{"couldn't save the image: " + saved.failure().description};
    }
    written.push_back(path);
  }
  return {};
}

}  // namespace

std::string ClipboardStore::defaultFolder() {
  return XDGFolders().dataHome() + "/vesk/clipboard";
}

ClipboardStore::ClipboardStore(std::string folder, std::shared_ptr<const ImageCodec> codec,
                               LogLine log)
    : folder_(std::move(folder)),
      codec_(std::move(codec)),
      log_(std::move(log)),
      queue_("launcher.clipboard") {}

ClipboardStore::~ClipboardStore() = default;

std::string ClipboardStore::imageFile(int64_t id) const {
  return folder_ + "/images/" + std::to_string(id) + ".png";
}
std::string ClipboardStore::rowThumbnail(int64_t id) const {
  return folder_ + "/images/" + std::to_string(id) + "-row.png";
}
std::string ClipboardStore::previewThumbnail(int64_t id) const {
  return folder_ + "/images/" + std::to_string(id) + "-preview.png";
}

Result<ClipboardStore::Hash> ClipboardStore::hash(const ClipContent& content) {
  return clipHash(content);
}

Result<SQLiteDatabase*> ClipboardStore::database() {
  if (damaged_) {
    return *damaged_;
  }
  if (!openDatabase_) {
    std::error_code ignored;
    logExisted_ = std::filesystem::exists(folder_ + "/history.sqlite-wal", ignored);
    // A failed open is not remembered: the next operation tries again.
    auto opened = ClipDatabase::open(folder_);
    if (!opened) {
      return opened.failure();
    }
    openDatabase_ = std::move(opened).value();
    makePrivate();
  }
  return openDatabase_.get();
}

// A history made by an older Vesk, or copied in by hand, may be open to other users.
void ClipboardStore::makePrivate() const {
  const std::string database = folder_ + "/history.sqlite";
  const std::array<std::pair<std::string, unsigned>, 6> paths = {{
      {folder_, 0700},
      {folder_ + "/images", 0700},
      {database, 0600},
      {database + "-wal", 0600},
      {database + "-shm", 0600},
      {folder_ + "/paused", 0600},
  }};
  std::string narrowed;
  for (const auto& [path, mode] : paths) {
    if (ClipboardFiles::narrow(path, mode)) {
      narrowed += narrowed.empty() ? "" : ", ";
      narrowed += path;
    }
  }
  if (!narrowed.empty() && log_) {
    log_("The clipboard history was open to other users; only you can read it now: " + narrowed);
  }
}

Failure ClipboardStore::markDamaged(const Failure& failure) {
  damaged_ = Failure{"the clipboard history can't be read (" + failure.description +
                     "), so it is kept as it is and new copies aren't saved"};
  // Closing copies a log that was there into the database: leave it as it is. A log this run
  // created holds nothing, and goes away with the connection.
  if (logExisted_) {
    openDatabase_->keepLogOnClose();
  }
  openDatabase_.reset();
  return *damaged_;
}

Result<std::vector<Clip>> ClipboardStore::load() {
  return queue_.sync([this] { return loadNow(); });
}

Result<std::vector<Clip>> ClipboardStore::loadNow() {
  auto db = database();
  if (!db) {
    return db.failure();
  }
  auto clips = db.value()->rows(
      "SELECT " + ClipDatabase::clipColumns() + " FROM clip ORDER BY copied DESC, id DESC",
      {Clip::textLimit}, ClipDatabase::clip);
  if (!clips) {
    return markDamaged(clips.failure());
  }
  std::vector<int64_t> imageIds;
  for (const Clip& clip : clips.value()) {
    if (clip.kind == Clip::Kind::image) {
      imageIds.push_back(clip.id);
    }
  }
  removeOrphanImages(imageIds);
  return clips;
}

void ClipboardStore::removeOrphanImages(const std::vector<int64_t>& imageIds) const {
  const std::unordered_set<int64_t> held(imageIds.begin(), imageIds.end());
  const std::string images = folder_ + "/images";
  for (const std::string& name : ClipboardFiles::names(images)) {
    int64_t id = 0;
    const bool leadingDigits = !name.empty() && name[0] >= '0' && name[0] <= '9';
    const auto parsed = std::from_chars(name.data(), name.data() + name.size(), id);
    if (leadingDigits && parsed.ec == std::errc() && held.contains(id)) {
      continue;
    }
    ClipboardFiles::removeQuietly(std::string(images).append("/").append(name));
  }
}

void ClipboardStore::removeImageFiles(int64_t id) const {
  ClipboardFiles::removeQuietly(imageFile(id));
  ClipboardFiles::removeQuietly(rowThumbnail(id));
  ClipboardFiles::removeQuietly(previewThumbnail(id));
}

Result<Clip> ClipboardStore::add(const ClipContent& content,
                                 const std::optional<std::string>& source, double time) {
  return queue_.sync([&] { return addNow(content, source, time); });
}

Result<Clip> ClipboardStore::addNow(const ClipContent& content,
                                    const std::optional<std::string>& source, double time) {
  const Result<Hash> hashed = hash(content);
  if (!hashed) {
    return hashed.failure();
  }
  const Hash& digest = hashed.value();
  auto db = database();
  if (!db) {
    return db.failure();
  }
  SQLiteDatabase& database = *db.value();
  auto repeated = ClipDatabase::repeat(database, digest, source, time);
  if (!repeated) {
    return repeated.failure();
  }
  if (repeated.value()) {
    return ClipDatabase::readBack(database, *repeated.value());
  }

  std::optional<ImageThumbnails::Rendered> rendered;
  if (content.image || content.kind == Clip::Kind::image) {
    if (content.image && codec_) {
      rendered = ImageThumbnails::render(*content.image, rowThumbnailPixels,
                                         {previewWidth, previewHeight}, *codec_);
    }
    if (!rendered) {
      return Failure{imageFailure(content.image, codec_.get())};
    }
  }

  const ClipDatabase::NewClip row = newRow(content, rendered, source, time);
  std::vector<std::string> written;
  auto inserted = database.transaction([&]() -> Result<Clip> {
    auto id = ClipDatabase::insert(database, content, digest, row);
    if (!id) {
      return id.failure();
    }
    if (rendered) {
      if (auto saved = saveImage(*this, id.value(), *content.image, *rendered, written); !saved) {
        return saved.failure();
      }
    } else {
      // A crash between writing an image and committing can leave files under an id that
      // SQLite hands out again; they must not become part of this clip.
      removeImageFiles(id.value());
    }
    return ClipDatabase::readBack(database, id.value());
  });
  if (!inserted) {
    for (const std::string& path : written) {
      ClipboardFiles::removeQuietly(path);
    }
  }
  return inserted;
}

Result<Clip> ClipboardStore::touch(int64_t id, double time) {
  return queue_.sync([&]() -> Result<Clip> {
    auto db = database();
    if (!db) {
      return db.failure();
    }
    if (auto ran = db.value()->run("UPDATE clip SET copied = ? WHERE id = ?", {time, id}); !ran) {
      return ran.failure();
    }
    return ClipDatabase::readBack(*db.value(), id);
  });
}

Result<void> ClipboardStore::setPinned(bool pinned, int64_t id) {
  return queue_.sync([&]() -> Result<void> {
    auto db = database();
    if (!db) {
      return db.failure();
    }
    return db.value()->run("UPDATE clip SET pinned = ? WHERE id = ?",
                           {int64_t{pinned ? 1 : 0}, id});
  });
}

Result<void> ClipboardStore::deleteClip(int64_t id) {
  return queue_.sync([&] { return removeClips({id}); });
}

Result<void> ClipboardStore::removeClips(const std::vector<int64_t>& ids) {
  if (ids.empty()) {
    return {};
  }
  auto db = database();
  if (!db) {
    return db.failure();
  }
  if (auto removed = ClipDatabase::remove(*db.value(), ids); !removed) {
    return removed;
  }
  for (const int64_t id : ids) {
    removeImageFiles(id);
  }
  return {};
}

Result<std::vector<int64_t>> ClipboardStore::clear() {
  return queue_.sync([&]() -> Result<std::vector<int64_t>> {
    auto db = database();
    if (!db) {
      return db.failure();
    }
    auto ids = ClipDatabase::ids(*db.value(), "SELECT id FROM clip WHERE pinned = 0");
    if (!ids) {
      return ids;
    }
    if (auto removed = removeClips(ids.value()); !removed) {
      return removed.failure();
    }
    return ids;
  });
}

Result<std::vector<int64_t>> ClipboardStore::prune(const Retention& retention, double now) {
  return queue_.sync([&] { return pruneNow(retention, now); });
}

Result<std::vector<int64_t>> ClipboardStore::pruneNow(const Retention& retention, double now) {
  auto db = database();
  if (!db) {
    return db.failure();
  }
  struct Row {
    int64_t id;
    double copied;
    int64_t size;
  };
  std::vector<Row> unpinned;
  int64_t total = 0;
  auto read =
      db.value()->eachRow("SELECT id, copied, size FROM clip WHERE pinned = 0 ORDER BY copied, id",
                          {}, [&](const SQLiteDatabase::Statement& row) {
                            unpinned.push_back({row.integer(0), row.real(1), row.integer(2)});
                            total += row.integer(2);
                          });
  if (!read) {
    return read.failure();
  }
  const double cutoff = now - retention.maxAge;
  std::vector<int64_t> ids;
  for (const Row& row : unpinned) {
    if (row.copied < cutoff || total > retention.maxBytes) {
      ids.push_back(row.id);
      total -= row.size;
    }
  }
  if (auto removed = removeClips(ids); !removed) {
    return removed.failure();
  }
  return ids;
}

Result<ClipItems> ClipboardStore::items(int64_t id) {
  return queue_.sync([&]() -> Result<ClipItems> {
    auto db = database();
    if (!db) {
      return db.failure();
    }
    auto stored = ClipDatabase::storedItems(*db.value(), id);
    if (!stored) {
      return stored.failure();
    }
    if (!stored.value()) {
      return Failure{"it's no longer in the history"};
    }
    ClipItems items = std::move(stored.value()->items);
    auto image = ClipboardFiles::read(imageFile(id));
    if (image) {
      if (items.empty()) {
        items.emplace_back();
      }
      items.front().insert(items.front().begin(),
                           {std::string(ClipReading::png), std::move(image).value()});
    } else if (stored.value()->isImage) {
      return Failure{"its image file is gone"};
    }
    if (items.empty()) {
      return Failure{"nothing of it is left to paste"};
    }
    return items;
  });
}

Result<std::string> ClipboardStore::text(int64_t id) {
  return queue_.sync([&]() -> Result<std::string> {
    auto db = database();
    if (!db) {
      return db.failure();
    }
    auto text = db.value()->row("SELECT text FROM clip WHERE id = ?", {id},
                                [](const SQLiteDatabase::Statement& row) { return row.text(0); });
    if (!text) {
      return text.failure();
    }
    if (!text.value()) {
      return Failure{"clip " + std::to_string(id) + " isn't in the history"};
    }
    return UTF8::valid(*text.value());
  });
}

Result<bool> ClipboardStore::isPaused() {
  return queue_.sync([&]() -> Result<bool> { return ClipboardFiles::exists(folder_ + "/paused"); });
}

Result<void> ClipboardStore::setPaused(bool paused) {
  return queue_.sync([&]() -> Result<void> {
    const std::string marker = folder_ + "/paused";
    const std::string prefix =
        std::string("couldn't save that recording is ") + (paused ? "paused" : "on") + ": ";
    if (paused) {
      if (auto created = ClipboardFiles::createFolder(folder_); !created) {
        return Failure{prefix + created.failure().description};
      }
      if (auto written = AtomicFile::write(marker, std::string_view(), ClipboardFiles::kFileMode);
          !written) {
        return Failure{prefix + written.failure().description};
      }
      return {};
    }
    if (auto removed = ClipboardFiles::remove(marker); !removed) {
      return Failure{prefix + removed.failure().description};
    }
    return {};
  });
}

}  // namespace vesk
