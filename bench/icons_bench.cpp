// Icon store benchmarks: answers from the cache, and the background rendering of new type keys.
// `bench_icons --sheet=FILE.png` instead draws every symbol and some file type icons at 1× and
// 2×, on light and dark backgrounds, for checking them by eye; `--drawings=FILE.png` the same
// with Vesk's own symbol drawings in place of the icon theme's.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/base/pool_executor.h"
#include "app/launcher/icon_render.h"
#include "app/launcher/icon_store.h"
#include "app/launcher/symbols.h"
#include "platform/linux/gio_icon_sources.h"

namespace vesk {
namespace {

PoolExecutor& benchExecutor() {
  static PoolExecutor executor;
  return executor;
}

// Fifty extensions with their own content types.
const std::vector<std::string>& extensions() {
  static const std::vector<std::string> list = {
      "pdf",  "txt", "png",  "jpg", "gif",  "svg", "html", "css", "js",   "json",
      "xml",  "zip", "tar",  "gz",  "bz2",  "xz",  "7z",   "rar", "mp3",  "ogg",
      "flac", "wav", "mp4",  "mkv", "webm", "avi", "odt",  "ods", "odp",  "doc",
      "docx", "xls", "xlsx", "ppt", "pptx", "md",  "c",    "cpp", "h",    "py",
      "rs",   "go",  "java", "sh",  "iso",  "deb", "ttf",  "otf", "epub", "csv"};
  return list;
}

void pumpUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

void BM_IconForFileFromCache(benchmark::State& state) {
  IconStore store(benchExecutor(), std::make_shared<GioIconSources>(), 256);
  (void)store.iconForFile("/home/me/report.pdf", IconSize::row);
  pumpUntil([&] { return !store.types().empty(); });
  for (auto _ : state) {
    benchmark::DoNotOptimize(store.iconForFile("/home/me/Documents/report.pdf", IconSize::row));
  }
}
BENCHMARK(BM_IconForFileFromCache);

void BM_SymbolFromCache(benchmark::State& state) {
  IconStore store(benchExecutor(), std::make_shared<GioIconSources>(), 256);
  store.load({});
  pumpUntil([&] { return store.symbols().size() >= Symbols::rendered().size(); });
  const std::string name = "doc.on.clipboard";
  for (auto _ : state) {
    benchmark::DoNotOptimize(store.symbol(name, SymbolTint::quiet, IconSize::row));
  }
}
BENCHMARK(BM_SymbolFromCache);

// Fifty type keys at both sizes, one after another on one background thread.
void BM_RenderFiftyTypes(benchmark::State& state) {
  const GioIconSources sources;
  const IconStyle style{"", 2, false};
  (void)renderType(sources, style, "ext:pdf");  // Reads the themes once.
  for (auto _ : state) {
    RenderCache cache;  // Cold: every generic icon is decoded again.
    for (const std::string& extension : extensions()) {
      benchmark::DoNotOptimize(renderType(sources, style, "ext:" + extension, &cache));
    }
  }
  state.SetLabel("both sizes at 2x, one thread, cold image cache");
}
BENCHMARK(BM_RenderFiftyTypes)->Unit(benchmark::kMillisecond);

// The same with the image cache of earlier batches: the generic icons are decoded already.
void BM_RenderFiftyTypesWarmImages(benchmark::State& state) {
  const GioIconSources sources;
  const IconStyle style{"", 2, false};
  RenderCache cache;
  for (const std::string& extension : extensions()) {
    (void)renderType(sources, style, "ext:" + extension, &cache);
  }
  for (auto _ : state) {
    for (const std::string& extension : extensions()) {
      benchmark::DoNotOptimize(renderType(sources, style, "ext:" + extension, &cache));
    }
  }
}
BENCHMARK(BM_RenderFiftyTypesWarmImages)->Unit(benchmark::kMillisecond);

// The same fifty keys asked of a store (2x screen): from the requests to the last image
// stored, rendered on the pool while the main thread only waits in its event loop.
void BM_StoreBatchOfFiftyTypes(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    IconStore store(benchExecutor(), std::make_shared<GioIconSources>(), 256);
    (void)store.iconForFile("/warm/theme.pdf", IconSize::row);
    pumpUntil([&] { return store.types().size() == 1; });
    state.ResumeTiming();
    for (const std::string& extension : extensions()) {
      (void)store.iconForFile("/home/me/file." + extension, IconSize::row);
    }
    pumpUntil([&] { return store.types().size() == extensions().size(); });
  }
}
BENCHMARK(BM_StoreBatchOfFiftyTypes)->Unit(benchmark::kMillisecond);

// The desktop's sources with no icon theme at all: every symbol is Vesk's own drawing.
class WithoutThemes final : public IconSources {
 public:
  std::string findIcon(const std::string&, const std::vector<std::string>&, int) const override {
    return {};
  }
  void forgetThemes() const override {}
  FileType folderType() const override { return gio_.folderType(); }
  FileType typeForExtension(const std::string& extension) const override {
    return gio_.typeForExtension(extension);
  }
  FileType appType() const override { return gio_.appType(); }
  Icon appIcon(const std::string& path) const override { return gio_.appIcon(path); }
  std::optional<App> appForDesktopId(const std::string& id) const override {
    return gio_.appForDesktopId(id);
  }

 private:
  GioIconSources gio_;
};

// An image drawn at its device pixels, so that a 2x image shows twice as large.
void drawPixels(QPainter& painter, int x, int y, QImage image) {
  image.setDevicePixelRatio(1);
  painter.drawImage(QPoint(x, y), image);
}

int drawSheet(const char* path, bool themed) {
  const std::unique_ptr<IconSources> owned = themed
                                                 ? std::unique_ptr<IconSources>(new GioIconSources)
                                                 : std::unique_ptr<IconSources>(new WithoutThemes);
  const IconSources& sources = *owned;
  std::vector<SymbolKey> keys;
  for (const std::string_view name : Symbols::all()) {
    keys.push_back({std::string(name), SymbolTint::quiet, IconSize::row});
  }
  keys.push_back({"exclamationmark.triangle", SymbolTint::warning, IconSize::row});
  keys.push_back({"trash", SymbolTint::danger, IconSize::row});
  const std::vector<std::string> types = {"folder",
                                          "ext:pdf",
                                          "ext:txt",
                                          "ext:png",
                                          "ext:zip",
                                          "ext:mp3",
                                          "ext:html",
                                          "ext:qqqq",
                                          "ext:",
                                          "ext:odt",
                                          "ext:iso",
                                          "ext:py",
                                          "path:/usr/share/applications/gvim.desktop",
                                          "path:/nowhere/gone.desktop"};
  constexpr int kPerLine = 10;
  const int symbolLines = static_cast<int>((keys.size() + kPerLine - 1) / kPerLine);
  const int typeLines = static_cast<int>((types.size() + kPerLine - 1) / kPerLine);
  const auto cellWidth = [](double scale) { return static_cast<int>(scale * 76) + 8; };
  const auto cellHeight = [](double scale) { return static_cast<int>(scale * 48) + 8; };
  int height = 0;
  int width = 0;
  for (const double scale : {1.0, 2.0}) {
    height += 2 * (symbolLines + typeLines) * cellHeight(scale);
    width = std::max(width, kPerLine * cellWidth(scale));
  }
  QImage sheet(width + 16, height + 16, QImage::Format_ARGB32_Premultiplied);
  sheet.fill(Qt::white);
  QPainter painter(&sheet);
  int y = 8;
  for (const double scale : {1.0, 2.0}) {
    for (const bool dark : {false, true}) {
      const IconStyle style{"", scale, dark};
      const int w = cellWidth(scale);
      const int h = cellHeight(scale);
      painter.fillRect(0, y - 4, sheet.width(), (symbolLines + typeLines) * h,
                       dark ? QColor(0x26, 0x27, 0x2b) : QColor(0xf6, 0xf6, 0xf7));
      for (size_t i = 0; i < keys.size(); ++i) {
        const int x = 8 + static_cast<int>(i % kPerLine) * w;
        const int top = y + static_cast<int>(i / kPerLine) * h;
        SymbolKey key = keys[i];
        drawPixels(painter, x, top, renderSymbol(sources, style, key));
        key.size = IconSize::tile;
        drawPixels(painter, x + style.pixels(IconSize::row) + 4, top,
                   renderSymbol(sources, style, key));
      }
      y += symbolLines * h;
      for (size_t i = 0; i < types.size(); ++i) {
        const int x = 8 + static_cast<int>(i % kPerLine) * w;
        const int top = y + static_cast<int>(i / kPerLine) * h;
        const TypeRender render = renderType(sources, style, types[i]);
        drawPixels(painter, x, top, *render.icons.row);
        drawPixels(painter, x + style.pixels(IconSize::row) + 4, top, *render.icons.tile);
      }
      y += typeLines * h;
    }
  }
  painter.end();
  return sheet.save(path) ? 0 : 1;
}

}  // namespace
}  // namespace vesk

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Renders for a 2x screen, the costlier case.
  qputenv("QT_SCALE_FACTOR", "2");
  QGuiApplication application(argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--sheet=", 8) == 0) {
      return vesk::drawSheet(argv[i] + 8, true);
    }
    if (std::strncmp(argv[i], "--drawings=", 11) == 0) {
      return vesk::drawSheet(argv[i] + 11, false);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
