#pragma once
// ClipboardStore: the clipboard history on disk. One SQLite database ("history.sqlite") holds
// every clip and its representations; the "images" folder beside it holds each image clip's
// PNG, row thumbnail and preview; an empty "paused" file marks that recording is paused.
// The folder is private to the user (0700, its files 0600): it holds whatever was copied.
//
// Every operation runs whole on the store's serial queue "launcher.clipboard", in the order
// of the calls, and the calling thread waits for its result: call them from a background
// thread (or the queue's own), never from the main thread. Nothing touches the disk until
// the first operation; a folder that can't be used (a file that is no database, a database
// from a newer Vesk, a database whose clips can't be read) fails every operation and is
// never changed.

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/base/result.h"
#include "core/base/serial_queue.h"
#include "core/clipboard/clip.h"
#include "core/clipboard/clip_reading.h"
#include "core/clipboard/clip_retention.h"

namespace vesk {

class ImageCodec;
class SQLiteDatabase;

class ClipboardStore final {
 public:
  // The store's failure: one sentence, logged or shown by the caller.
  using Failure = vesk::Failure;

  // The limits of the history (pinned clips are exempt).
  using Retention = ClipRetention;

  using Hash = std::array<uint8_t, 32>;

  static constexpr int rowThumbnailPixels = 40;
  static constexpr int previewWidth = 640;
  static constexpr int previewHeight = 312;

  // $XDG_DATA_HOME (else ~/.local/share) + "/vesk/clipboard".
  static std::string defaultFolder();

  // Receives lines worth logging (a history found open to other users, made private again).
  using LogLine = std::function<void(std::string_view)>;

  // `codec` renders thumbnails of image clips; without one, adding an image fails. `log` is
  // called on the store's queue.
  explicit ClipboardStore(std::string folder, std::shared_ptr<const ImageCodec> codec = nullptr,
                          LogLine log = {});
  ~ClipboardStore();
  ClipboardStore(const ClipboardStore&) = delete;
  ClipboardStore& operator=(const ClipboardStore&) = delete;

  const std::string& folder() const { return folder_; }
  std::string imageFile(int64_t id) const;
  std::string rowThumbnail(int64_t id) const;
  std::string previewThumbnail(int64_t id) const;

  // The content hash by which a repeated copy is recognised: SHA-256 over the kind, the
  // stored items and the image. Text, source and time are not part of it. Fails only when
  // libcrypto does.
  static Result<Hash> hash(const ClipContent& content);

  // Every clip, newest first; then removes image files that belong to no image clip.
  Result<std::vector<Clip>> load();
  // Records a copy, or moves the identical earlier copy to the top (and takes a new source).
  Result<Clip> add(const ClipContent& content, const std::optional<std::string>& source,
                   double time);
  Result<Clip> touch(int64_t id, double time);
  Result<void> setPinned(bool pinned, int64_t id);
  // Removes one clip and its image files (`delete` is a keyword).
  Result<void> deleteClip(int64_t id);
  // Removes every unpinned clip; gives the ids removed.
  Result<std::vector<int64_t>> clear();
  // Removes the oldest unpinned clips until the rest fit `maxBytes`, and every unpinned clip
  // copied before now − maxAge; gives the ids removed, oldest first.
  Result<std::vector<int64_t>> prune(const Retention& retention, double now);
  // What to put back on the clipboard: the stored items, an image clip's PNG first.
  Result<ClipItems> items(int64_t id);
  // The whole text, uncut.
  Result<std::string> text(int64_t id);
  Result<bool> isPaused();
  Result<void> setPaused(bool paused);

 private:
  Result<SQLiteDatabase*> database();
  void makePrivate() const;
  Failure markDamaged(const Failure& failure);
  Result<void> removeClips(const std::vector<int64_t>& ids);
  void removeOrphanImages(const std::vector<int64_t>& imageIds) const;
  void removeImageFiles(int64_t id) const;

  Result<std::vector<Clip>> loadNow();
  Result<Clip> addNow(const ClipContent& content, const std::optional<std::string>& source,
                      double time);
  Result<std::vector<int64_t>> pruneNow(const Retention& retention, double now);

  std::string folder_;
  std::shared_ptr<const ImageCodec> codec_;
  LogLine log_;
  std::unique_ptr<SQLiteDatabase> openDatabase_;
  bool logExisted_ = false;  // a write-ahead log was there before the database was opened
  // Set once a load of the open database failed: the file is damaged, and is never written
  // again in this run, so that it stays as it was for the user to recover.
  std::optional<Failure> damaged_;
  SerialQueue queue_;  // last: it stops (and runs what is due) before the rest goes away
};

}  // namespace vesk
