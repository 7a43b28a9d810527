#include "app/clip_text.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include "tests/app/app_test_support.h"

namespace vesk {
namespace {

Clip textClip(std::string text) {
  Clip clip;
  clip.kind = Clip::Kind::text;
  clip.lines = Clip::lineCount(text);
  clip.textBytes = static_cast<int64_t>(text.size());
  clip.text = std::move(text);
  return clip;
}

Clip filesClip(std::string text, int64_t fullBytes = -1) {
  Clip clip = textClip(std::move(text));
  clip.kind = Clip::Kind::files;
  if (fullBytes >= 0) {
    clip.textBytes = fullBytes;
  }
  return clip;
}

TEST(ClipText, TitlesTakeTheFirstOrMatchingLineWithSpacesSqueezed) {
  EXPECT_EQ(ClipText::title(textClip("  first   line \nsecond  line"), ""),
            (ClipText::Title{"first line", false}));
  EXPECT_EQ(ClipText::title(textClip("  first   line \nsecond  line"), "second"),
            (ClipText::Title{"second line", false}));
  EXPECT_EQ(ClipText::title(textClip("  \n\n \t\n"), ""),
            (ClipText::Title{"Spaces and line breaks", true}));
  Clip link = textClip("HTTPS://example.com/a");
  link.kind = Clip::Kind::link;
  EXPECT_EQ(ClipText::title(link, "").text, "example.com/a");
  EXPECT_EQ(ClipText::host(link), "example.com");
}

TEST(ClipText, FilesTitleCountTheRestAndACutListDropsItsPartialPath) {
  const Clip three = filesClip("/home/me/Docs/a.txt\n/home/me/Docs/b.txt\n/home/me/Docs/c.txt");
  EXPECT_EQ(ClipText::title(three, "").text, "a.txt and 2 more");
  EXPECT_EQ(ClipText::folders(three, "/home/me"), "~/Docs");
  EXPECT_EQ(ClipText::detail(three, "/home/me"), "~/Docs");

  const Clip cut = filesClip("/a/x.txt\n/b/y.t", 4000);
  EXPECT_EQ(ClipText::paths(cut), std::vector<std::string>{"/a/x.txt"});
  EXPECT_EQ(ClipText::folders(filesClip("/a/x\n/b/y"), "/home/me"), "2 folders");
}

TEST(ClipText, PreviewKeepsNineLinesAndImagesPreviewAtHalfTheirFittedSize) {
  std::string many;
  for (int i = 1; i <= 12; ++i) {
    many += "line " + std::to_string(i) + "\n";
  }
  const std::string preview = ClipText::preview(textClip("\n" + many));
  EXPECT_EQ(std::count(preview.begin(), preview.end(), '\n'), 7);
  EXPECT_EQ(preview.substr(0, 6), "line 1");

  Clip image;
  image.kind = Clip::Kind::image;
  image.pixelWidth = 1280;
  image.pixelHeight = 1000;
  EXPECT_EQ(ClipText::previewSize(image), (std::pair<int64_t, int64_t>{200, 156}));
  EXPECT_EQ(ClipText::detail(image, ""), "1280 × 1000");
  image.pixelWidth = 0;
  EXPECT_EQ(ClipText::previewSize(image), (std::pair<int64_t, int64_t>{0, 0}));
}

TEST(ClipFiles, SavingTwiceInOneMinuteNumbersTheSecondFile) {
  test::TempFolder folder;
  const double time = 1700000000;
  const std::string stamp =
      QDateTime::fromSecsSinceEpoch(1700000000).toString("yyyy-MM-dd 'at' HH.mm").toStdString();
  const std::string first = ClipFiles::destination(folder.path(), time, "png");
  EXPECT_EQ(first, folder / ("Clipboard " + stamp + ".png"));
  test::writeFile(first, "saved");
  EXPECT_EQ(ClipFiles::destination(folder.path(), time + 10, "png"),
            folder / ("Clipboard " + stamp + " 2.png"));
}

}  // namespace
}  // namespace vesk
