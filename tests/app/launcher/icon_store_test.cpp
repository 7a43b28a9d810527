#include "app/launcher/icon_store.h"

#include <QColor>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPalette>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/base/run_in_background.h"
#include "app/launcher/icon_render.h"
#include "app/launcher/symbols.h"
#include "platform/linux/gio_icon_sources.h"
#include "platform/linux/xdg_icon_themes.h"
#include "tests/app/app_test_support.h"
#include "tests/fakes/fake_icon_sources.h"

namespace vesk {
namespace {

const QColor kPdfRed(200, 30, 30);
const QColor kEditorGreen(30, 160, 60);
const QColor kViewerBlue(30, 60, 200);

void writePng(const std::string& path, int pixels, QColor color) {
  test::writeFile(path, "");
  QImage image(pixels, pixels, QImage::Format_ARGB32);
  image.fill(color);
  ASSERT_TRUE(image.save(QString::fromStdString(path), "PNG"));
}

std::string squareSvg(QColor color) {
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 16 16\"><rect width=\"16\" "
         "height=\"16\" fill=\"" +
         color.name().toStdString() + "\"/></svg>";
}

std::string desktopEntry(const std::string& name, const std::string& icon) {
  return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\nIcon=" + icon + "\n";
}

// The colour of the most opaque pixel: the ink of a symbol, the body of an icon.
QColor ink(const QImage& image) {
  QColor best(0, 0, 0, 0);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor color = image.pixelColor(x, y);
      if (color.alpha() > best.alpha()) {
        best = color;
      }
    }
  }
  return best;
}

bool near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3 &&
         std::abs(a.blue() - b.blue()) <= 3;
}

// A private icon theme "vesk-test" and two application entries under a data folder that is put
// first in XDG_DATA_DIRS, so the real type database and the fallback themes still apply.
class IconStoreTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    data_ = new test::TempFolder;  // NOLINT: lives for the suite
    const std::string share = *data_ / "share";
    const std::string theme = share + "/icons/vesk-test";
    test::writeFile(theme + "/index.theme",
                    "[Icon Theme]\nName=Vesk test\nInherits=hicolor\n"
                    "Directories=16x16/mimetypes,48x48/mimetypes,scalable/apps\n\n"
                    "[16x16/mimetypes]\nSize=16\nType=Fixed\n\n"
                    "[48x48/mimetypes]\nSize=48\nType=Fixed\n\n"
                    "[scalable/apps]\nSize=48\nMinSize=8\nMaxSize=512\nType=Scalable\n");
    writePng(theme + "/16x16/mimetypes/application-pdf.png", 16, kPdfRed);
    writePng(theme + "/48x48/mimetypes/application-pdf.png", 48, kPdfRed);
    test::writeFile(theme + "/scalable/apps/vesk-editor.svg", squareSvg(kEditorGreen));
    test::writeFile(theme + "/scalable/apps/vesk-viewer.svg", squareSvg(kViewerBlue));
    test::writeFile(share + "/applications/vesk-editor.desktop",
                    desktopEntry("Editor", "vesk-editor"));
    test::writeFile(share + "/applications/vesk-viewer.desktop",
                    desktopEntry("Viewer", "vesk-viewer"));
    const char* dirs = std::getenv("XDG_DATA_DIRS");  // NOLINT(concurrency-mt-unsafe)
    const std::string rest =
        dirs != nullptr && dirs[0] != '\0' ? dirs : "/usr/local/share:/usr/share";
    ::setenv("XDG_DATA_DIRS", (share + ":" + rest).c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    QIcon::setThemeName("vesk-test");
  }
  static void TearDownTestSuite() {
    delete data_;
    data_ = nullptr;
  }

  IconStoreTest() {
    store.onChange = [this] { ++changes; };
    store.log = [this](const std::string& line) { logged.push_back(line); };
  }

  static std::string share(const std::string& name) { return *data_ / ("share/" + name); }

  static test::TempFolder* data_;
  std::shared_ptr<GioIconSources> sources = std::make_shared<GioIconSources>();
  IconStore store{test::testExecutor(), sources, 256};
  int changes = 0;
  std::vector<std::string> logged;
};

test::TempFolder* IconStoreTest::data_ = nullptr;

TEST_F(IconStoreTest, FirstPdfAnswersNoneThenOneBatchRendersItOnceForEveryPdf) {
  EXPECT_FALSE(store.iconForFile("/home/me/report.pdf", IconSize::row));
  EXPECT_FALSE(store.iconForFile("/tmp/Other.PDF", IconSize::tile));
  EXPECT_FALSE(store.typeName("/srv/third.pdf"));
  EXPECT_EQ(store.requestedTypes(), std::unordered_set<std::string>{"ext:pdf"});

  ASSERT_TRUE(test::pumpUntil([&] { return store.types().contains("ext:pdf"); }));
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(store.requestedTypes().empty());
  EXPECT_TRUE(store.renderingTypes().empty());

  const auto row = store.iconForFile("/home/me/report.pdf", IconSize::row);
  const auto tile = store.iconForFile("/tmp/Other.PDF", IconSize::tile);
  ASSERT_TRUE(row && tile);
  EXPECT_EQ(store.iconForFile("/srv/third.pdf", IconSize::row)->cacheKey(), row->cacheKey());
  const IconStyle style = IconStyle::current();
  EXPECT_EQ(row->width(), style.pixels(IconSize::row));
  EXPECT_EQ(tile->width(), style.pixels(IconSize::tile));
  EXPECT_EQ(row->devicePixelRatio(), style.scale);
  EXPECT_TRUE(near(ink(*row), kPdfRed)) << "the private theme's icon, not a fallback";
  EXPECT_EQ(store.typeName("/x/y.pdf"), "PDF document");
  EXPECT_EQ(store.types().size(), 1U);
  EXPECT_EQ(changes, 1);  // Answers from the cache start nothing.
}

TEST_F(IconStoreTest, AppEntriesFoundAsFilesGetTheirOwnIconsWhileTextFilesShareOne) {
  const std::string editor = share("applications/vesk-editor.desktop");
  const std::string viewer = share("applications/vesk-viewer.desktop");
  EXPECT_EQ(IconStore::typeKey(editor, false), "path:" + editor);
  for (const std::string& path :
       {editor, viewer, std::string("/a/notes.txt"), std::string("/b/README.TXT")}) {
    (void)store.iconForFile(path, IconSize::tile);
  }
  (void)store.iconForFile("/home/me/Projects", IconSize::row, true);
  ASSERT_TRUE(test::pumpUntil([&] { return store.types().size() == 4; }));
  EXPECT_TRUE(store.types().contains("ext:txt"));
  EXPECT_TRUE(store.types().contains("folder"));
  EXPECT_TRUE(near(ink(*store.iconForFile(editor, IconSize::tile)), kEditorGreen));
  EXPECT_TRUE(near(ink(*store.iconForFile(viewer, IconSize::tile)), kViewerBlue));
  EXPECT_EQ(store.typeName("/home/me/Projects", true), "Folder");
  EXPECT_EQ(store.typeName("/home/me/Projects/"), "Folder");
}

TEST_F(IconStoreTest, UnknownExtensionsGetTheDataIconAndTheNameDocument) {
  (void)store.iconForFile("/a/archive.qqzz", IconSize::row);
  (void)store.iconForFile("/a/Makefile", IconSize::row);
  (void)store.iconForFile("/a/.zshrc", IconSize::row);
  ASSERT_TRUE(test::pumpUntil([&] { return store.types().size() == 2; }));
  EXPECT_EQ(store.typeName("/a/archive.qqzz"), "Document");
  EXPECT_EQ(store.typeName("/a/.zshrc"), "Document");
  EXPECT_TRUE(store.iconForFile("/b/other.qqzz", IconSize::tile));
}

TEST_F(IconStoreTest, TrimmingKeepsTheMostRecentlyUsedThreeQuarters) {
  const auto path = [](int i) { return "/files/f." + std::to_string(i) + "vz"; };
  for (int i = 0; i < 300; ++i) {
    (void)store.iconForFile(path(i), IconSize::row);
  }
  ASSERT_TRUE(
      test::pumpUntil([&] { return store.types().size() == 300; }, std::chrono::seconds(30)));
  for (int i = 0; i < 50; ++i) {
    (void)store.iconForFile(path(i), IconSize::row);  // Used again: now the most recent.
  }
  store.trimTypes();

  std::set<std::string> expected;
  for (int i = 0; i < 50; ++i) {
    expected.insert(IconStore::typeKey(path(i), false));
  }
  for (int i = 300 - 142; i < 300; ++i) {
    expected.insert(IconStore::typeKey(path(i), false));
  }
  std::set<std::string> kept;
  for (const auto& [key, pair] : store.types()) {
    kept.insert(key);
  }
  EXPECT_EQ(kept, expected);
  EXPECT_EQ(store.typeNames().size(), 192U);
  store.trimTypes();
  EXPECT_EQ(store.types().size(), 192U);  // Within the bound: nothing more goes.
}

TEST_F(IconStoreTest, AppearanceChangeDropsRendersInFlightAndRendersTheWantedSetAgain) {
  const std::string editor = share("applications/vesk-editor.desktop");
  const std::string viewer = share("applications/vesk-viewer.desktop");
  const SymbolKey probe{"trash", SymbolTint::quiet, IconSize::row};
  std::vector<QColor> seen;
  store.onChange = [&] {
    if (const auto found = store.symbols().find(probe); found != store.symbols().end()) {
      seen.push_back(ink(found->second));
    }
  };
  const QPalette light = QGuiApplication::palette();
  store.load({editor, viewer});  // Light renders start in the background.
  QPalette dark = light;
  dark.setColor(QPalette::Window, QColor(30, 30, 34));
  QGuiApplication::setPalette(dark);
  QEvent themeChange(QEvent::ThemeChange);
  QCoreApplication::sendEvent(QCoreApplication::instance(), &themeChange);
  QCoreApplication::sendEvent(QCoreApplication::instance(), &themeChange);

  ASSERT_TRUE(test::pumpUntil([&] {
    return store.style() == 1 && store.apps().size() == 2 && store.rendering().empty() &&
           store.symbols().size() == Symbols::rendered().size();
  }));
  store.waitForRenders();
  test::settle();  // Stale light renders come back.
  store.onChange = nullptr;
  QGuiApplication::setPalette(light);
  test::pumpUntil([&] { return store.style() == 2; });

  EXPECT_EQ(logged.size(), 2U);  // Once for the switch to dark, once back.
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ(logged[0], "Appearance or icon style changed: re-rendering 2 icons");
  ASSERT_FALSE(seen.empty());
  for (const QColor& color : seen) {
    EXPECT_TRUE(near(color, Symbols::color(SymbolTint::quiet, true)))
        << "a symbol drawn for the light appearance was stored after the switch";
  }
  EXPECT_TRUE(near(ink(*store.icon(editor, IconSize::row)), kEditorGreen));
}

TEST_F(IconStoreTest, ABatchDrawnJustAfterTheSwitchDoesNotHideTheSwitch) {
  (void)store.iconForFile("/a/report.pdf", IconSize::row);  // Its batch runs before the check.
  const QPalette light = QGuiApplication::palette();
  QPalette dark = light;
  dark.setColor(QPalette::Window, QColor(30, 30, 34));
  QGuiApplication::setPalette(dark);
  ASSERT_TRUE(test::pumpUntil([&] { return store.style() == 1 && store.types().size() == 1; }));
  QGuiApplication::setPalette(light);
  ASSERT_TRUE(test::pumpUntil([&] { return store.style() == 2; }));
  EXPECT_EQ(logged.size(), 2U);
}

TEST_F(IconStoreTest, LoadKeepsOnlyTheWantedAppIcons) {
  const std::string editor = share("applications/vesk-editor.desktop");
  const std::string viewer = share("applications/vesk-viewer.desktop");
  store.load({editor, viewer});
  ASSERT_TRUE(test::pumpUntil([&] { return store.apps().size() == 2; }));
  store.load({viewer, "/gone/app.desktop"});
  EXPECT_FALSE(store.icon(editor, IconSize::row));
  ASSERT_TRUE(test::pumpUntil([&] { return store.apps().size() == 2; }));
  // An entry that can't be read still gets an icon: the generic program one or a drawing.
  EXPECT_TRUE(store.icon("/gone/app.desktop", IconSize::tile));
}

TEST_F(IconStoreTest, ClipSourcesResolveByDesktopIdAndAMissingOneFallsBackToASymbol) {
  if (!sources->appForDesktopId("vesk-editor")) {
    GTEST_SKIP() << "GIO read XDG_DATA_DIRS before this suite set it (run the test on its own)";
  }
  EXPECT_FALSE(store.appName("vesk-editor"));
  EXPECT_FALSE(store.iconForBundleID("vesk-editor", IconSize::row));
  EXPECT_FALSE(store.iconForBundleID("org.example.Uninstalled", IconSize::row));
  EXPECT_FALSE(store.isMissing("org.example.Uninstalled"));
  ASSERT_TRUE(test::pumpUntil([&] {
    return store.isMissing("org.example.Uninstalled") &&
           store.iconForBundleID("vesk-editor", IconSize::row).has_value();
  }));
  EXPECT_EQ(store.appName("vesk-editor"), "Editor");
  EXPECT_FALSE(store.isMissing("vesk-editor"));
  EXPECT_TRUE(near(ink(*store.iconForBundleID("vesk-editor", IconSize::row)), kEditorGreen));
  EXPECT_FALSE(store.appName("org.example.Uninstalled"));
  EXPECT_EQ(store.resolvingBundles(), 0);

  // What a row draws for the missing source: the text symbol.
  ASSERT_TRUE(test::pumpUntil([&] {
    return store.symbol("text.alignleft", SymbolTint::quiet, IconSize::row).has_value();
  }));
  // The found app stays wanted across loads, so its icon is kept.
  store.load({});
  EXPECT_TRUE(store.iconForBundleID("vesk-editor", IconSize::row));
}

// Entries that are FIFOs (found by a search in a shared folder) and an entry whose Icon= names a
// FIFO or a device: every one gets an icon, drawn from the fallbacks, and no render blocks.
TEST_F(IconStoreTest, EntriesAndIconFilesThatAreNotRegularFilesFallBackWithoutBlocking) {
  test::TempFolder folder;
  std::vector<std::string> urls;
  for (const std::string name : {"a", "b", "c"}) {
    urls.push_back(folder / (name + ".desktop"));
    ASSERT_EQ(::mkfifo(urls.back().c_str(), 0600), 0);
  }
  const std::string fifoIcon = folder / "icon.png";
  ASSERT_EQ(::mkfifo(fifoIcon.c_str(), 0600), 0);
  urls.push_back(folder / "fifo-icon.desktop");
  test::writeFile(urls.back(), desktopEntry("Fifo Icon", fifoIcon));
  urls.push_back(folder / "zero-icon.desktop");
  test::writeFile(urls.back(), desktopEntry("Zero Icon", "/dev/zero"));

  store.load(urls);
  for (const std::string& url : urls) {
    (void)store.iconForFile(url, IconSize::row);  // as a file row: its type key is its own
  }
  const bool drawn = test::pumpUntil(
      [&] { return store.apps().size() == urls.size() && store.types().size() == urls.size(); });
  EXPECT_TRUE(drawn) << "a render blocked on a FIFO";
  if (!drawn) {
    for (int round = 0; round < 100 && !store.rendering().empty(); ++round) {
      for (const std::string& path : urls) {
        ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
      }
      ::close(::open(fifoIcon.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
      test::pumpFor(std::chrono::milliseconds(50));
    }
    return;
  }
  for (const std::string& url : urls) {
    EXPECT_TRUE(store.icon(url, IconSize::tile)) << url;
  }
}

// Sources whose application icons take until the test lets them go, as a theme on a stalled
// mount would.
class StalledIconSources final : public IconSources {
 public:
  std::string findIcon(const std::string&, const std::vector<std::string>&, int) const override {
    return {};
  }
  void forgetThemes() const override {}
  FileType folderType() const override { return {}; }
  FileType typeForExtension(const std::string&) const override { return {}; }
  FileType appType() const override { return {}; }
  Icon appIcon(const std::string&) const override {
    std::unique_lock lock(mutex_);
    ++stalled_;
    released_.wait(lock, [this] { return open_; });
    return {};
  }
  std::optional<App> appForDesktopId(const std::string&) const override { return std::nullopt; }

  void release() {
    const std::lock_guard lock(mutex_);
    open_ = true;
    released_.notify_all();
  }
  int stalled() const {
    const std::lock_guard lock(mutex_);
    return stalled_;
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable released_;
  mutable int stalled_ = 0;
  bool open_ = false;
};

// However many renders are stuck, the work launches and pastes run on goes on.
TEST(IconStore, StuckRendersLeaveTheBackgroundPoolsFree) {
  const auto sources = std::make_shared<StalledIconSources>();
  {
    IconStore store(test::testExecutor(), sources, 256);
    std::vector<std::string> urls;
    for (int i = 0; i < 200; ++i) {  // more jobs than any pool has threads
      urls.push_back("/apps/app-" + std::to_string(i) + ".desktop");
    }
    store.load(urls);
    ASSERT_TRUE(test::pumpUntil([&] { return sources->stalled() > 0; }));
    bool ran = false;
    runInBackground(
        test::testExecutor(), QoS::userInitiated, [] { return 1; }, [&](int) { ran = true; });
    EXPECT_TRUE(test::pumpUntil([&] { return ran; }));
    sources->release();
  }
  test::settle();
}

TEST(Symbols, EveryNameHasADrawingThatRendersWithoutAnyTheme) {
  const FakeIconSources sources;  // No icon theme at all.
  const IconStyle style{"", 2, false};
  std::vector<std::string_view> names(Symbols::all().begin(), Symbols::all().end());
  names.insert(names.end(), {Symbols::kAppFallback, Symbols::kFileFallback});
  for (const Command command : kAllCommands) {
    EXPECT_NE(std::find(names.begin(), names.end(), Symbols::command(command)), names.end());
  }
  for (const std::string_view name : names) {
    ASSERT_FALSE(Symbols::drawing(name).isEmpty()) << name;
    const QImage image =
        renderSymbol(sources, style, {std::string(name), SymbolTint::danger, IconSize::tile});
    EXPECT_EQ(image.width(), 96);
    EXPECT_GT(ink(image).alpha(), 200) << name;
    EXPECT_TRUE(near(ink(image), Symbols::color(SymbolTint::danger, false))) << name;
  }
  // Without any theme a file type still gets an icon: the document drawing.
  const TypeRender type = renderType(sources, style, "ext:pdf");
  ASSERT_TRUE(type.icons.row && type.icons.tile);
  EXPECT_GT(ink(*type.icons.tile).alpha(), 200);
  EXPECT_EQ(type.name, "Pdf file");
}

TEST(XdgIconThemes, NearestSizeWinsTheLargerOnATieAndParentsComeBeforeHicolor) {
  test::TempFolder folder;
  const std::string root = folder / "icons";
  test::writeFile(root + "/child/index.theme",
                  "[Icon Theme]\nInherits=parent\nDirectories=16/apps,32/apps,48/apps\n"
                  "[16/apps]\nSize=16\nType=Fixed\n[32/apps]\nSize=32\nType=Fixed\n"
                  "[48/apps]\nSize=48\nType=Fixed\n");
  test::writeFile(root + "/parent/index.theme",
                  "[Icon Theme]\nDirectories=apps\n[apps]\nSize=24\nType=Threshold\n");
  test::writeFile(root + "/hicolor/index.theme",
                  "[Icon Theme]\nDirectories=apps\n[apps]\nSize=24\nType=Fixed\n");
  for (const char* size : {"16", "32", "48"}) {
    test::writeFile(root + "/child/" + size + "/apps/tool.png", "");
  }
  test::writeFile(root + "/parent/apps/shared.svg", "");
  test::writeFile(root + "/hicolor/apps/shared.png", "");
  test::writeFile(root + "/hicolor/apps/only-hicolor.png", "");
  test::writeFile(folder / "pixmaps/loose.xpm", "");
  XdgIconThemes themes({{root}, {folder / "pixmaps"}});

  EXPECT_EQ(themes.find("child", {"tool"}, 40), root + "/child/48/apps/tool.png");
  EXPECT_EQ(themes.find("child", {"tool"}, 20), root + "/child/16/apps/tool.png");
  EXPECT_EQ(themes.find("child", {"tool"}, 32), root + "/child/32/apps/tool.png");
  EXPECT_EQ(themes.find("child", {"missing", "shared"}, 24), root + "/parent/apps/shared.svg");
  EXPECT_EQ(themes.find("child", {"only-hicolor"}, 24), root + "/hicolor/apps/only-hicolor.png");
  EXPECT_EQ(themes.find("child", {"loose"}, 24), folder / "pixmaps/loose.xpm");
  EXPECT_EQ(themes.find("child", {"nothing"}, 24), "");
  EXPECT_EQ(themes.find("not-installed", {"shared"}, 24), root + "/hicolor/apps/shared.png");
}

}  // namespace
}  // namespace vesk
