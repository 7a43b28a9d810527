#include "app/clipboard/clip_images.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>

#include "core/clipboard/clipboard_index.h"
#include "core/clipboard/clipboard_store.h"
#include "platform/linux/qt_image_codec.h"
#include "tests/app/app_test_support.h"
#include "tests/fakes/manual_executor.h"

namespace vesk {
namespace {

using Key = ClipImages::Key;

Bytes png(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(30, 120, 200));
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  EXPECT_TRUE(QImageWriter(&buffer, "png").write(image));
  return {data.begin(), data.end()};
}

Clip textClip(int64_t id) {
  Clip clip;
  clip.id = id;
  clip.text = "words";
  clip.lines = 1;
  clip.textBytes = 5;
  return clip;
}

// Image clips stored by the real store, which renders their row thumbnails and previews as
// PNG files; the images under test read those files back.
class ClipImagesTest : public testing::Test {
 protected:
  void SetUp() override {
    images_.onChange = [this] { ++changes_; };
  }

  // Each image has its own width, so that every copy is a new clip.
  Clip addImage(int width = 300, int height = 200) {
    const auto clip =
        store_.add({Clip::Kind::image, "", {}, png(width, height)}, std::nullopt, ++time_);
    EXPECT_TRUE(clip) << clip.failure().description;
    return clip ? clip.value() : Clip{};
  }

  // Runs the loads started so far and hands their results back.
  bool settled() {
    executor_.runAll();
    return images_.loading().empty();
  }

  test::TempFolder folder_;
  ClipboardStore store_{folder_ / "clipboard", std::make_shared<QtImageCodec>()};
  test::ManualExecutor executor_;
  ClipImages images_{executor_};
  int changes_ = 0;
  double time_ = 1000;
};

TEST_F(ClipImagesTest, MissingImageLoadsOnceAndThenComesFromTheCache) {
  const Clip clip = addImage(300, 200);
  EXPECT_FALSE(images_.row(clip, store_));
  EXPECT_FALSE(images_.row(clip, store_)) << "asked again while loading";
  EXPECT_EQ(images_.loading(), (std::set<Key>{{clip.id, false}}));

  executor_.runAll();
  ASSERT_TRUE(changes_ > 0);
  EXPECT_EQ(changes_, 1) << "one load for both calls";
  EXPECT_TRUE(images_.loading().empty());

  // The cached image comes back at once, even with its file gone.
  std::filesystem::remove(store_.rowThumbnail(clip.id));
  const auto row = images_.row(clip, store_);
  ASSERT_TRUE(row);
  EXPECT_EQ(row->size(), QSize(40, 40));
  EXPECT_TRUE(images_.loading().empty());
  EXPECT_TRUE(images_.previews().empty()) << "a row thumbnail is no preview";

  EXPECT_FALSE(images_.preview(clip, store_));
  executor_.runAll();
  ASSERT_TRUE(changes_ == 2);
  const auto preview = images_.preview(clip, store_);
  ASSERT_TRUE(preview);
  EXPECT_EQ(preview->size(), QSize(300, 200));
}

TEST_F(ClipImagesTest, MissingOrCorruptFilesFailOnceAndAreNotTriedAgain) {
  const Clip missing = addImage(300, 200);
  const Clip corrupt = addImage(301, 200);
  std::filesystem::remove(store_.rowThumbnail(missing.id));
  test::writeFile(store_.previewThumbnail(corrupt.id), "\x89PNG\r\n\x1a\n but not really");

  EXPECT_FALSE(images_.row(missing, store_));
  EXPECT_FALSE(images_.preview(corrupt, store_));
  ASSERT_TRUE(settled());
  EXPECT_EQ(images_.failed(), (std::set<Key>{{missing.id, false}, {corrupt.id, true}}));
  EXPECT_EQ(changes_, 0) << "nothing was added";

  // Even once the file is readable, a failed image is not read again.
  std::filesystem::copy_file(store_.rowThumbnail(corrupt.id), store_.rowThumbnail(missing.id),
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_FALSE(images_.row(missing, store_));
  EXPECT_FALSE(images_.preview(corrupt, store_));
  EXPECT_TRUE(images_.loading().empty());

  // The other image of a failed clip still loads.
  EXPECT_FALSE(images_.row(corrupt, store_));
  executor_.runAll();
  ASSERT_TRUE(changes_ == 1);
  EXPECT_TRUE(images_.row(corrupt, store_));
}

TEST_F(ClipImagesTest, OversizedFilesAreDecodedAtTheirSizeAndBombsAreRefused) {
  const Clip large = addImage(300, 200);
  const Clip bomb = addImage(301, 200);
  const Bytes big = png(2000, 1000);
  test::writeFile(store_.rowThumbnail(large.id), std::string(big.begin(), big.end()));
  test::writeFile(store_.previewThumbnail(large.id), std::string(big.begin(), big.end()));
  // 15000 × 15000 one-bit pixels: a small file, 900 MB once scaled at 32 bits.
  QImage bits(15000, 15000, QImage::Format_Mono);
  bits.fill(0);
  ASSERT_TRUE(bits.save(QString::fromStdString(store_.previewThumbnail(bomb.id)), "png"));
  bits = QImage();

  EXPECT_FALSE(images_.row(large, store_));
  EXPECT_FALSE(images_.preview(large, store_));
  EXPECT_FALSE(images_.preview(bomb, store_));
  ASSERT_TRUE(settled());
  EXPECT_EQ(images_.rows().at(large.id).size(), QSize(40, 20));
  EXPECT_EQ(images_.previews().at(large.id).size(), QSize(624, 312));
  EXPECT_EQ(images_.failed(), (std::set<Key>{{bomb.id, true}}));
}

TEST_F(ClipImagesTest, OtherClipsStartNoLoad) {
  EXPECT_FALSE(images_.row(textClip(5), store_));
  EXPECT_FALSE(images_.preview(textClip(5), store_));
  EXPECT_TRUE(images_.loading().empty());
  EXPECT_TRUE(images_.failed().empty());
}

TEST_F(ClipImagesTest, NinthPreviewEvictsTheLeastRecentlyShown) {
  std::vector<Clip> clips;
  for (int i = 0; i < 9; ++i) {
    clips.push_back(addImage(100 + i, 80));
  }
  for (int i = 0; i < 8; ++i) {
    EXPECT_FALSE(images_.preview(clips[i], store_));
    ASSERT_TRUE(settled());
  }
  ASSERT_EQ(images_.previews().size(), 8U);
  EXPECT_TRUE(images_.preview(clips[0], store_)) << "shown again: now the most recent";

  EXPECT_FALSE(images_.preview(clips[8], store_));
  ASSERT_TRUE(settled());
  std::vector<int64_t> expected;
  for (const int i : {2, 3, 4, 5, 6, 7, 0, 8}) {
    expected.push_back(clips[i].id);
  }
  EXPECT_EQ(images_.previewOrder(), expected);
  EXPECT_EQ(images_.previews().size(), 8U);
  EXPECT_FALSE(images_.previews().contains(clips[1].id));
  EXPECT_TRUE(images_.previews().contains(clips[0].id));
  EXPECT_EQ(images_.rows().size(), 0U);
}

TEST_F(ClipImagesTest, PreloadTakesTheNewestRowsAndThreePreviewsAndForgetsGoneClips) {
  std::vector<Clip> clips;
  for (int i = 0; i < 5; ++i) {
    clips.push_back(addImage(100 + i, 80));
  }
  // Newest first: five images, then text clips, then two older images beyond the first 12.
  std::vector<Clip> all;
  for (int i = 4; i >= 0; --i) {
    all.push_back(clips[i]);
  }
  for (int64_t id = 1000; id < 1007; ++id) {
    all.push_back(textClip(id));
    all.back().copied = 10 - static_cast<double>(id - 1000);
  }
  const Clip old1 = addImage(200, 80);
  const Clip old2 = addImage(201, 80);
  for (Clip old : {old1, old2}) {
    old.copied = 1;
    all.push_back(old);
  }
  images_.preload(ClipboardIndex(all), store_);
  ASSERT_TRUE(settled());

  std::set<int64_t> rows;
  for (const auto& [id, image] : images_.rows()) {
    rows.insert(id);
  }
  EXPECT_EQ(rows,
            (std::set<int64_t>{clips[0].id, clips[1].id, clips[2].id, clips[3].id, clips[4].id}));
  EXPECT_EQ(images_.previewOrder(), (std::vector<int64_t>{clips[4].id, clips[3].id, clips[2].id}));
  EXPECT_GE(changes_, 1);

  // A failed image of a clip that leaves the history is forgotten with it.
  std::filesystem::remove(store_.rowThumbnail(old1.id));
  EXPECT_FALSE(images_.row(old1, store_));
  ASSERT_TRUE(settled());
  ASSERT_TRUE(images_.failed().contains({old1.id, false}));

  std::vector<Clip> kept(all.begin() + 1, all.end());
  std::erase_if(kept, [&old1](const Clip& clip) { return clip.id == old1.id; });
  images_.preload(ClipboardIndex(kept), store_);
  EXPECT_FALSE(images_.rows().contains(clips[4].id));
  EXPECT_FALSE(images_.previews().contains(clips[4].id));
  EXPECT_EQ(std::count(images_.previewOrder().begin(), images_.previewOrder().end(), clips[4].id),
            0);
  EXPECT_TRUE(images_.failed().empty());
  ASSERT_TRUE(settled());
  EXPECT_TRUE(images_.previews().contains(clips[1].id)) << "the new third image";
}

TEST_F(ClipImagesTest, LoadFinishingAfterTheImagesAreGoneIsDropped) {
  const Clip clip = addImage();
  int lateChanges = 0;
  {
    ClipImages shortLived(executor_);
    shortLived.onChange = [&lateChanges] { ++lateChanges; };
    EXPECT_FALSE(shortLived.row(clip, store_));
    EXPECT_FALSE(shortLived.preview(clip, store_));
  }
  // Both loads finish and hand their results back after the images are gone.
  EXPECT_FALSE(images_.row(clip, store_));
  executor_.runAll();
  ASSERT_TRUE(changes_ == 1);
  EXPECT_EQ(lateChanges, 0);
}

}  // namespace
}  // namespace vesk
