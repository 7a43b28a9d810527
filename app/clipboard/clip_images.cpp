#include "app/clipboard/clip_images.h"

#include <QImageReader>
#include <QString>
#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>

#include "app/base/run_in_background.h"
#include "core/clipboard/clipboard_index.h"
#include "core/clipboard/clipboard_store.h"
#include "core/clipboard/image_codec.h"

namespace vesk {

namespace {

// The first image of the file, fitted into `box`; none when it can't be opened or decoded, or
// declares more pixels than any codec decodes. The files are the store's own small renderings,
// but a file in their place may be anything.
std::optional<QImage> decode(const std::string& path, QSize box) {
  QImageReader reader(QString::fromStdString(path));
  reader.setAllocationLimit(static_cast<int>(ImageCodec::maxPixels * 4 / (1024 * 1024)));
  const QSize size = reader.size();
  if (!size.isValid() ||
      static_cast<int64_t>(size.width()) * size.height() > ImageCodec::maxPixels) {
    return std::nullopt;
  }
  if (size.width() > box.width() || size.height() > box.height()) {
    reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
  }
  QImage image = reader.read();
  if (image.isNull()) {
    return std::nullopt;
  }
  return image;
}

std::optional<QImage> cached(const std::map<int64_t, QImage>& images, int64_t id) {
  const auto found = images.find(id);
  if (found == images.end()) {
    return std::nullopt;
  }
  return found->second;
}

}  // namespace

ClipImages::ClipImages(Executor& executor)
    : executor_(executor), self_(std::make_shared<ClipImages*>(this)) {}

ClipImages::~ClipImages() = default;

std::optional<QImage> ClipImages::row(const Clip& clip, const ClipboardStore& store) {
  if (auto image = cached(rows_, clip.id)) {
    return image;
  }
  load({&clip}, false, store);
  return std::nullopt;
}

std::optional<QImage> ClipImages::preview(const Clip& clip, const ClipboardStore& store) {
  if (auto image = cached(previews_, clip.id)) {
    showPreview(clip.id);
    return image;
  }
  load({&clip}, true, store);
  return std::nullopt;
}

void ClipImages::preload(const ClipboardIndex& index, const ClipboardStore& store) {
  // One pass over the index: the history may hold thousands of clips.
  std::unordered_set<int64_t> kept;
  kept.reserve(index.count());
  for (const Clip& clip : index.clips()) {
    kept.insert(clip.id);
  }
  const auto gone = [&kept](int64_t id) { return !kept.contains(id); };
  std::erase_if(rows_, [&gone](const auto& entry) { return gone(entry.first); });
  std::erase_if(previews_, [&gone](const auto& entry) { return gone(entry.first); });
  std::erase_if(previewOrder_, gone);
  std::erase_if(failed_, [&gone](const Key& key) { return gone(key.id); });

  std::vector<const Clip*> images;
  const auto& clips = index.clips();
  for (size_t i = 0; i < std::min(clips.size(), preloadedClips); ++i) {
    if (clips[i].kind == Clip::Kind::image) {
      images.push_back(&clips[i]);
    }
  }
  load(images, false, store);
  images.resize(std::min(images.size(), preloadedPreviews));
  load(images, true, store);
}

void ClipImages::load(const std::vector<const Clip*>& clips, bool preview,
                      const ClipboardStore& store) {
  const auto& cache = preview ? previews_ : rows_;
  std::vector<Key> keys;
  std::vector<std::string> paths;
  const QSize box =
      preview ? QSize(ClipboardStore::previewWidth, ClipboardStore::previewHeight)
              : QSize(ClipboardStore::rowThumbnailPixels, ClipboardStore::rowThumbnailPixels);
  for (const Clip* clip : clips) {
    const Key key{clip->id, preview};
    if (clip->kind != Clip::Kind::image || cache.contains(clip->id) || loading_.contains(key) ||
        failed_.contains(key) || std::find(keys.begin(), keys.end(), key) != keys.end()) {
      continue;
    }
    keys.push_back(key);
    paths.push_back(preview ? store.previewThumbnail(clip->id) : store.rowThumbnail(clip->id));
  }
  if (keys.empty()) {
    return;
  }
  loading_.insert(keys.begin(), keys.end());
  runInBackground(
      executor_, QoS::userInitiated,
      [paths = std::move(paths), box] {
        std::vector<std::optional<QImage>> images;
        images.reserve(paths.size());
        for (const std::string& path : paths) {
          images.push_back(decode(path, box));
        }
        return images;
      },
      [owner = std::weak_ptr<ClipImages*>(self_),
       keys = std::move(keys)](std::vector<std::optional<QImage>> images) {
        if (const auto self = owner.lock()) {
          (*self)->finish(keys, std::move(images));
        }
      });
}

void ClipImages::finish(const std::vector<Key>& keys, std::vector<std::optional<QImage>> images) {
  bool added = false;
  for (size_t i = 0; i < keys.size(); ++i) {
    const Key& key = keys[i];
    loading_.erase(key);
    if (!images[i]) {
      failed_.insert(key);
      continue;
    }
    added = true;
    if (key.preview) {
      previews_[key.id] = std::move(*images[i]);
      showPreview(key.id);
    } else {
      rows_[key.id] = std::move(*images[i]);
    }
  }
  while (previewOrder_.size() > maxPreviews) {
    previews_.erase(previewOrder_.front());
    previewOrder_.erase(previewOrder_.begin());
  }
  if (added && onChange) {
    onChange();
  }
}

void ClipImages::showPreview(int64_t id) {
  std::erase(previewOrder_, id);
  previewOrder_.push_back(id);
}

}  // namespace vesk
