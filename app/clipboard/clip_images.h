#pragma once
// ClipImages: the decoded row thumbnails and previews of image clips, read from the small PNG
// files the clipboard store renders when an image is copied (never from the full image).
//
// A main-thread object, owned by the launcher controller: every member is called on the main
// thread, and `onChange` is called there. Decoding runs in the background at user-initiated
// priority; its results are applied on the main thread, and dropped when the object is gone by
// then. An image that can't be read is remembered in `failed` and not tried again until its
// clip leaves the history, so a missing file costs one attempt, not one per redraw.

#include <QImage>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "app/base/executor.h"
#include "core/clipboard/clip.h"

namespace vesk {

class ClipboardIndex;
class ClipboardStore;

class ClipImages final {
 public:
  // One image of one clip: its row thumbnail, or its preview.
  struct Key {
    int64_t id = 0;
    bool preview = false;
    auto operator<=>(const Key&) const = default;
  };

  // Decoded previews kept in memory; the least recently shown one goes first.
  static constexpr size_t maxPreviews = 8;
  // What `preload` looks at: the newest clips, and how many of their images get a preview.
  static constexpr size_t preloadedClips = 12;
  static constexpr size_t preloadedPreviews = 3;

  explicit ClipImages(Executor& executor);
  ~ClipImages();
  ClipImages(const ClipImages&) = delete;
  ClipImages& operator=(const ClipImages&) = delete;
  ClipImages(ClipImages&&) = delete;
  ClipImages& operator=(ClipImages&&) = delete;

  // The clip's row thumbnail (40 pixels square) or preview (within 640 × 312 pixels). None
  // while it is not decoded yet: then a load of it starts, unless one is running, it failed
  // before, or the clip is no image; `onChange` follows once it is in. Showing a cached preview
  // makes it the most recently shown one.
  std::optional<QImage> row(const Clip& clip, const ClipboardStore& store);
  std::optional<QImage> preview(const Clip& clip, const ClipboardStore& store);

  // After the history changed: forgets the images of clips no longer in `index`, then loads the
  // row thumbnails of the image clips among its newest clips, and the previews of the first few.
  void preload(const ClipboardIndex& index, const ClipboardStore& store);

  // Called on the main thread after a load added at least one image.
  std::function<void()> onChange;

  const std::map<int64_t, QImage>& rows() const { return rows_; }
  const std::map<int64_t, QImage>& previews() const { return previews_; }
  // Ids of the cached previews, least recently shown first.
  const std::vector<int64_t>& previewOrder() const { return previewOrder_; }
  const std::set<Key>& loading() const { return loading_; }
  const std::set<Key>& failed() const { return failed_; }

 private:
  Executor& executor_;
  void load(const std::vector<const Clip*>& clips, bool preview, const ClipboardStore& store);
  void finish(const std::vector<Key>& keys, std::vector<std::optional<QImage>> images);
  void showPreview(int64_t id);

  std::map<int64_t, QImage> rows_;
  std::map<int64_t, QImage> previews_;
  std::vector<int64_t> previewOrder_;
  std::set<Key> loading_;
  std::set<Key> failed_;
  // Loads hold it weakly: a load that finishes after the object is gone finds it expired.
  std::shared_ptr<ClipImages*> self_;
};

}  // namespace vesk
