#include "app/clipboard/clip_text.h"

#include <QDateTime>
#include <QLocale>
#include <cmath>
#include <limits>

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

// Seconds since 1970 of a local date and time.
double at(int year, int month, int day, int hour, int minute, int second = 0) {
  return static_cast<double>(
      QDateTime(QDate(year, month, day), QTime(hour, minute, second)).toSecsSinceEpoch());
}

std::string shortTime(int hour, int minute, int second = 0) {
  return QLocale().toString(QTime(hour, minute, second), QLocale::ShortFormat).toStdString();
}

// Sets the user's locale for one test and puts the previous one back.
class LocaleForTest {
 public:
  explicit LocaleForTest(const QLocale& locale) { QLocale::setDefault(locale); }
  ~LocaleForTest() { QLocale::setDefault(previous_); }
  LocaleForTest(const LocaleForTest&) = delete;
  LocaleForTest& operator=(const LocaleForTest&) = delete;

 private:
  QLocale previous_;
};

// 2026-03-01 is a Sunday; February 2026 has 28 days.
TEST(ClipTextAge, MinutesUntilAnHourThenCalendarDaysAcrossMidnightAndMonth) {
  const double justAfterMidnight = at(2026, 3, 1, 0, 30);
  EXPECT_EQ(ClipText::age(justAfterMidnight - 30, justAfterMidnight), "now");
  EXPECT_EQ(ClipText::age(justAfterMidnight - 59.9, justAfterMidnight), "now");
  EXPECT_EQ(ClipText::age(justAfterMidnight + 500, justAfterMidnight), "now") << "future";
  EXPECT_EQ(ClipText::age(justAfterMidnight - 60, justAfterMidnight), "1 min");
  EXPECT_EQ(ClipText::age(justAfterMidnight - 300, justAfterMidnight), "5 min");
  EXPECT_EQ(ClipText::age(justAfterMidnight - 3599, justAfterMidnight), "59 min");
  EXPECT_EQ(ClipText::age(justAfterMidnight - 3600, justAfterMidnight), "yesterday")
      << "an hour ago was the day before";

  const double afternoon = at(2026, 3, 1, 14, 0);
  EXPECT_EQ(ClipText::age(at(2026, 3, 1, 12, 59, 59), afternoon), shortTime(12, 59, 59));
  EXPECT_EQ(ClipText::age(at(2026, 3, 1, 0, 0), afternoon), shortTime(0, 0));
  EXPECT_EQ(ClipText::age(at(2026, 2, 28, 0, 0), afternoon), "yesterday");
  EXPECT_EQ(ClipText::age(at(2026, 2, 27, 23, 59), afternoon), "Fri");
  EXPECT_EQ(ClipText::age(at(2026, 2, 23, 0, 0), afternoon), "Mon");
  EXPECT_EQ(ClipText::age(at(2026, 2, 22, 23, 59), afternoon), "Feb 22");
  EXPECT_EQ(ClipText::age(at(2025, 3, 1, 14, 0), afternoon), "Mar 1");
}

TEST(ClipTextAge, OpenedCountsCalendarDaysNotHours) {
  const double now = at(2026, 3, 1, 0, 1);
  EXPECT_EQ(opened(at(2026, 3, 1, 0, 0), now), "opened today at " + shortTime(0, 0));
  EXPECT_EQ(opened(at(2026, 2, 28, 23, 59), now), "opened yesterday") << "two minutes before";
  EXPECT_EQ(opened(at(2026, 2, 28, 0, 0), now), "opened yesterday");
  EXPECT_EQ(opened(at(2026, 2, 27, 23, 59), now), "opened Friday");
  EXPECT_EQ(opened(at(2026, 2, 23, 0, 0), now), "opened Monday");
  EXPECT_EQ(opened(at(2026, 2, 22, 23, 59), now), "opened Feb 22");
  EXPECT_EQ(opened(at(2026, 3, 3, 9, 0), now), "opened Mar 3") << "a later day";
}

TEST(ClipTextAge, TimesFollowTheUserLocaleWhileNamesStayEnglish) {
  const LocaleForTest german(QLocale(QLocale::German, QLocale::Germany));
  const double now = at(2026, 3, 1, 14, 30);
  EXPECT_EQ(opened(at(2026, 3, 1, 14, 5), now), "opened today at 14:05");
  EXPECT_EQ(ClipText::age(at(2026, 3, 1, 9, 7), now), "09:07");
  EXPECT_EQ(ClipText::age(at(2026, 2, 27, 10, 0), now), "Fri");
  EXPECT_EQ(opened(at(2026, 2, 27, 10, 0), now), "opened Friday");
  EXPECT_EQ(ClipText::age(at(2026, 2, 20, 10, 0), now), "Feb 20");
}

TEST(ClipTextAge, DamagedTimesStillGiveAPhrase) {
  const double now = at(2026, 3, 1, 12, 0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double infinity = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ClipText::age(nan, now), "now");
  EXPECT_EQ(ClipText::age(infinity, now), "now");
  EXPECT_FALSE(ClipText::age(-infinity, now).empty());
  EXPECT_EQ(opened(-1e300, now).rfind("opened ", 0), 0U);
  EXPECT_EQ(ClipText::about({"Text"}, nan, std::nullopt, now).rfind("copied ", 0), 0U);
}

TEST(ClipTextAbout, CopyPhraseThenSourceThenTheNonEmptyParts) {
  const double now = at(2026, 3, 1, 0, 1);
  EXPECT_EQ(ClipText::about({"Text", "3 lines", ""}, at(2026, 2, 28, 22, 0), "Editor", now),
            "copied yesterday from Editor · Text · 3 lines");
  EXPECT_EQ(ClipText::about({"Link"}, at(2026, 2, 27, 9, 0), std::nullopt, now),
            "copied Friday · Link");
  EXPECT_EQ(ClipText::about({"", "Rich text", ""}, at(2026, 2, 1, 9, 0), std::nullopt, now),
            "copied Feb 1 · Rich text")
      << "no doubled separators";
  EXPECT_EQ(ClipText::about({}, at(2026, 3, 1, 0, 0), std::nullopt, now),
            "copied today at " + shortTime(0, 0));
  EXPECT_EQ(ClipText::about({"", ""}, at(2026, 2, 28, 22, 0), "", now), "copied yesterday")
      << "an empty source name is no source";
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
