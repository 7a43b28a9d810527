#include "platform/linux/qt_image_codec.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "core/clipboard/clip_reading.h"
#include "core/clipboard/clipboard_files.h"
#include "core/clipboard/clipboard_store.h"
#include "core/clipboard/image_thumbnails.h"
#include "tests/core/clipboard/clip_test_folder.h"

namespace vesk {
namespace {

using test::killMidway;
using test::TemporaryFolder;

Bytes encoded(const QImage& image, const char* format) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, format);
  EXPECT_TRUE(writer.write(image)) << format;
  return {data.begin(), data.end()};
}

QImage picture(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(QColor(200, 40, 40));
  // A marker in the top-left corner so that crops and turns can be told apart.
  for (int y = 0; y < std::min(height, 4); ++y) {
    for (int x = 0; x < std::min(width, 4); ++x) {
      image.setPixelColor(x, y, Qt::blue);
    }
  }
  return image;
}

QImage decoded(const Bytes& bytes) {
  return QImage::fromData(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                     static_cast<qsizetype>(bytes.size())));
}

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

Representation rep(std::string_view type, Bytes data) {
  return {std::string(type), std::move(data)};
}

TEST(QtImageCodec, PropertiesTellTypeAndSizeAndRejectNonImages) {
  const QtImageCodec codec;
  const auto png = codec.properties(encoded(picture(30, 20), "png"));
  ASSERT_TRUE(png);
  EXPECT_EQ(png->type, "public.png");
  EXPECT_EQ(png->width, 30);
  EXPECT_EQ(png->height, 20);
  EXPECT_EQ(codec.properties(encoded(picture(3, 2), "tiff"))->type, "public.tiff");
  EXPECT_EQ(codec.properties(encoded(picture(3, 2), "jpeg"))->type, "public.jpeg");
  const Bytes text = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(codec.properties(text), std::nullopt);
  EXPECT_EQ(codec.firstImageAsPNG(text), std::nullopt);
  Bytes truncated = encoded(picture(64, 64), "png");
  truncated.resize(truncated.size() / 2);
  EXPECT_EQ(ImageThumbnails::render(truncated, 40, {640, 312}, codec), std::nullopt);
}

TEST(ClipReadingImages, TIFFBecomesPNGAndPNGKeepsItsBytes) {
  const QtImageCodec codec;
  const Bytes tiff = encoded(picture(16, 9), "tiff");
  const auto fromTIFF = ClipReading::content({{rep("public.tiff", tiff)}}, codec);
  ASSERT_TRUE(fromTIFF);
  EXPECT_EQ(fromTIFF->kind, Clip::Kind::image);
  EXPECT_TRUE(ClipReading::isPNG(*fromTIFF->image, codec));
  EXPECT_EQ(decoded(*fromTIFF->image).size(), QSize(16, 9));
  EXPECT_TRUE(fromTIFF->items.empty()) << "image types are never stored as representations";

  const Bytes png = encoded(picture(5, 5), "png");
  const Bytes placeholder = {0xEF, 0xBF, 0xBC};  // U+FFFC, the attachment placeholder
  const auto fromPNG = ClipReading::content(
      {{rep("public.utf8-plain-text", placeholder), rep("public.png", png)}}, codec);
  ASSERT_TRUE(fromPNG);
  EXPECT_EQ(fromPNG->kind, Clip::Kind::image);
  EXPECT_EQ(fromPNG->image, png);
  EXPECT_EQ(fromPNG->items, (ClipItems{{rep("public.utf8-plain-text", placeholder)}}));

  // A broken image yields nothing rather than a clip that can't be shown.
  EXPECT_EQ(ClipReading::content({{rep("public.jpeg", Bytes{0xFF, 0xD8, 0xFF})}}, codec),
            std::nullopt);
}

TEST(ImageThumbnails, RowFillsItsSquareAndPreviewFitsItsBox) {
  const QtImageCodec codec;
  const auto rendered =
      ImageThumbnails::render(encoded(picture(1000, 250), "png"), 40, {640, 312}, codec);
  ASSERT_TRUE(rendered);
  EXPECT_EQ(rendered->width, 1000);
  EXPECT_EQ(rendered->height, 250);
  const QImage row = decoded(rendered->row);
  EXPECT_EQ(row.size(), QSize(40, 40));
  EXPECT_EQ(row.pixelColor(0, 0).alpha(), 255) << "the square is filled, not letterboxed";
  EXPECT_EQ(decoded(rendered->preview).size(), QSize(640, 160));

  const auto small =
      ImageThumbnails::render(encoded(picture(20, 10), "png"), 40, {640, 312}, codec);
  ASSERT_TRUE(small);
  EXPECT_EQ(decoded(small->preview).size(), QSize(20, 10)) << "never upscaled";
  EXPECT_EQ(decoded(small->row).size(), QSize(40, 40));
}

TEST(ClipboardStoreImages, ImageClipKeepsFilesAndPastesPNGFirst) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path(), std::make_shared<QtImageCodec>());
  const Bytes png = encoded(picture(300, 200), "png");
  const ClipContent content{Clip::Kind::image,
                            "",
                            {{rep("public.url", Bytes{'u'})}, {rep("public.html", Bytes{'h'})}},
                            png};
  const auto clip = store.add(content, "org.example.Paint", 1);
  ASSERT_TRUE(clip) << clip.failure().description;
  EXPECT_EQ(clip.value().pixelWidth, 300);
  EXPECT_EQ(clip.value().pixelHeight, 200);
  const auto id = clip.value().id;
  for (const std::string& path :
       {store.imageFile(id), store.rowThumbnail(id), store.previewThumbnail(id)}) {
    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0) << path;
    EXPECT_EQ(status.st_mode & 0777, 0600U) << path;
  }
  const auto size = clip.value().size;
  EXPECT_EQ(size, static_cast<int64_t>(2 + png.size() +
                                       std::filesystem::file_size(store.rowThumbnail(id)) +
                                       std::filesystem::file_size(store.previewThumbnail(id))));

  const auto items = store.items(id).value();
  ASSERT_EQ(items.size(), 2U);
  EXPECT_EQ(items[0],
            (std::vector<Representation>{rep("public.png", png), rep("public.url", Bytes{'u'})}));

  std::ofstream(folder / "images/notes.txt") << "x";
  std::ofstream(folder / ("images/" + std::to_string(id + 1) + ".png")) << "x";
  ASSERT_TRUE(store.load());
  EXPECT_EQ(namesIn(folder / "images"),
            (std::set<std::string>{std::to_string(id) + ".png", std::to_string(id) + "-row.png",
                                   std::to_string(id) + "-preview.png"}));

  std::filesystem::remove(store.imageFile(id));
  EXPECT_EQ(store.items(id).failure().description, "its image file is gone");
  ASSERT_TRUE(store.deleteClip(id));
  EXPECT_TRUE(namesIn(folder / "images").empty());
}

TEST(ClipboardStoreImages, FailedImageInsertLeavesNoRowAndNoFile) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path(), std::make_shared<QtImageCodec>());
  ASSERT_TRUE(store.load());
  // The preview can't be put in place: a folder holds its name.
  std::filesystem::create_directory(folder / "images/1-preview.png");
  const auto failed =
      store.add({Clip::Kind::image, "", {}, encoded(picture(64, 64), "png")}, std::nullopt, 1);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.failure().description.rfind("couldn't save the image: ", 0), 0U)
      << failed.failure().description;
  EXPECT_TRUE(store.load().value().empty());
  EXPECT_EQ(namesIn(folder / "images"), std::set<std::string>{"1-preview.png"});
}

TEST(ClipboardStoreImages, HugeImageIsStoredAndThumbnailed) {
  TemporaryFolder folder;
  ClipboardStore store(folder.path(), std::make_shared<QtImageCodec>());
  const Bytes png = encoded(picture(8000, 8000), "png");
  const auto clip = store.add({Clip::Kind::image, "", {}, png}, std::nullopt, 1);
  ASSERT_TRUE(clip) << clip.failure().description;
  EXPECT_EQ(clip.value().pixelWidth, 8000);
  EXPECT_EQ(decoded(ClipboardFiles::read(store.rowThumbnail(clip.value().id)).value()).size(),
            QSize(40, 40));
  EXPECT_EQ(decoded(ClipboardFiles::read(store.previewThumbnail(clip.value().id)).value()).size(),
            QSize(312, 312));
}

// The peak resident memory, in MB, of a child process that runs `work` (whose failures fail
// the test).
long peakMegabytesOf(const std::function<void()>& work) {
  const pid_t child = ::fork();
  if (child == 0) {
    work();
    ::_exit(testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  struct rusage usage {};
  EXPECT_EQ(::wait4(child, &status, 0, &usage), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return usage.ru_maxrss / 1024;
}

TEST(ClipboardStoreImages, ADecompressionBombIsRefusedWithoutDecodingIt) {
  // 15000 × 15000 pixels of one bit each: some 30 KB of PNG, 900 MB once drawn at 32 bits.
  QImage bits(15000, 15000, QImage::Format_Mono);
  bits.fill(0);
  const Bytes bomb = encoded(bits, "png");
  bits = QImage();
  ASSERT_LT(bomb.size(), 100'000U);

  TemporaryFolder folder;
  const auto codec = std::make_shared<QtImageCodec>();
  const long peak = peakMegabytesOf([&] {
    ClipboardStore store(folder.path(), codec);
    const auto clip = store.add({Clip::Kind::image, "", {}, bomb}, std::nullopt, 1);
    EXPECT_FALSE(clip);
    if (!clip) {
      EXPECT_EQ(clip.failure().description, "the copied image is larger than 8192 × 8192 pixels");
    }
    EXPECT_EQ(codec->thumbnail(bomb, 40), std::nullopt);
    EXPECT_EQ(codec->firstImageAsPNG(bomb), std::nullopt);
  });
  EXPECT_LT(peak, 300);
}

TEST(ClipboardStoreImages, KilledWhileAddingImagesLeavesNoOrphansAfterLoad) {
  TemporaryFolder folder;
  ASSERT_TRUE(killMidway([&](const std::function<void()>& ready) {
    ClipboardStore store(folder.path(), std::make_shared<QtImageCodec>());
    for (int i = 1;; ++i) {
      const Bytes png = encoded(picture(200 + i, 120), "png");
      if (!store.add({Clip::Kind::image, "", {}, png}, std::nullopt, i)) {
        ::_exit(1);
      }
      if (i == 5) {
        ready();
      }
    }
  }));

  // Whatever the kill interrupted, these stand for what it could leave behind.
  std::ofstream(folder / "images/.partial-Ab12Cd") << "half";
  std::ofstream(folder / "images/1000000-row.png") << "uncommitted";
  ClipboardStore store(folder.path(), std::make_shared<QtImageCodec>());
  const auto loaded = store.load();
  ASSERT_TRUE(loaded) << loaded.failure().description;
  ASSERT_GE(loaded.value().size(), 5U);
  std::set<std::string> expected;
  for (const Clip& clip : loaded.value()) {
    for (const char* suffix : {".png", "-row.png", "-preview.png"}) {
      expected.insert(std::to_string(clip.id) + suffix);
    }
    EXPECT_TRUE(store.items(clip.id)) << clip.id;
  }
  EXPECT_EQ(namesIn(folder / "images"), expected);
}

}  // namespace
}  // namespace vesk
