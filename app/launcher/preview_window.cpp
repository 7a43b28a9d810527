#include "app/launcher/preview_window.h"

#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QKeyEvent>
#include <QLocale>
#include <QMimeDatabase>
#include <QPainter>
#include <QPdfDocument>
#include <QPointer>
#include <QScreen>
#include <QThreadPool>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <utility>
#include <vector>

#include "app/base/run_in_background.h"
#include "app/launcher/icon_store.h"
#include "app/launcher/palette.h"
#include "app/launcher/panel_content.h"
#include "app/launcher/panel_icons.h"
#include "core/base/regular_file.h"

namespace vesk {

namespace {

constexpr qint64 kTextBytes = qint64{256} * 1024;
constexpr int kFolderEntries = 40;
constexpr double kScreenShare = 0.7;
constexpr int kMargin = 20;
constexpr int kIconSide = points(IconSize::tile);
// Larger images and documents are shown as files: decoding them would stall the panel.
constexpr size_t kMaxPreviewBytes = size_t{256} << 20;

// The preview's own threads: a read stuck on a stalled mount holds up only other previews.
constexpr int kLoadThreads = 2;

// Keeps the threads of a load that never ended: they may still run, so they are never destroyed,
// and stay reachable (no leak to report).
void keepForGood(std::unique_ptr<QThreadPool> threads) {
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): never destroyed, on purpose
  static auto* const kept = new std::vector<std::unique_ptr<QThreadPool>>;
  kept->push_back(std::move(threads));
}

// A name as the user reads it; bytes that aren't UTF-8 become U+FFFD.
QString readable(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string fileNameOf(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace

struct PreviewWindow::Outlet {
  explicit Outlet(Executor& to) : executor(&to) {}
  std::mutex mutex;
  Executor* executor;  // null once the window is gone
};

PreviewWindow::PreviewWindow(Executor& executor)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      outlet_(std::make_shared<Outlet>(executor)),
      threads_(std::make_unique<QThreadPool>()) {
  threads_->setMaxThreadCount(kLoadThreads);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setWindowTitle("Vesk Preview");
  loadTimer_.setSingleShot(true);
  loadTimer_.setInterval(kLoadWait);
  connect(&loadTimer_, &QTimer::timeout, this, [this] {
    if (kind_ == "loading") {
      ++generation_;  // what comes back now is too late
      kind_ = "file";
      update();
    }
  });
}

PreviewWindow::~PreviewWindow() {
  {
    const std::lock_guard lock(outlet_->mutex);
    outlet_->executor = nullptr;
  }
  threads_->clear();
  // A load still under way could otherwise run on while the process ends, into the middle of
  // Qt's teardown. One stuck on a stalled mount is left behind with its threads.
  if (!threads_->waitForDone(static_cast<int>(kLoadWait.count()))) {
    keepForGood(std::move(threads_));
  }
}

std::string PreviewWindow::kindOf(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    return "folder";
  }
  static const QMimeDatabase database;
  // Judged by the name: the file is only opened once it is known to be a regular file.
  const QMimeType type =
      database.mimeTypeForFile(readable(fileNameOf(path)), QMimeDatabase::MatchExtension);
  static const QList<QByteArray> images = QImageReader::supportedMimeTypes();
  if (type.name().startsWith("image/") && images.contains(type.name().toLatin1())) {
    return "image";
  }
  if (type.inherits("application/pdf")) {
    return "pdf";
  }
  if (type.inherits("text/plain")) {
    return "text";
  }
  return "file";
}

namespace {

// The first page of a PDF, fitted into `limit` at the screen's density; none when the file
// can't be read as a PDF.
QImage firstPage(const QString& file, QSize limit, qreal scale) {
  QPdfDocument document;
  if (document.load(file) != QPdfDocument::Error::None || document.pageCount() < 1) {
    return {};
  }
  const QSizeF page = document.pagePointSize(0);
  if (page.isEmpty()) {
    return {};
  }
  const QSize shown = page.scaled(QSizeF(limit), Qt::KeepAspectRatio).toSize();
  QImage image = document.render(0, shown * scale);
  image.setDevicePixelRatio(scale);
  return image;
}

// A folder's count of entries, then the first of them: folders first, then by name.
QStringList folderLines(const std::string& path) {
  std::vector<std::pair<bool, std::string>> entries;
  std::error_code error;
  for (std::filesystem::directory_iterator it(path, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code ignored;
    entries.emplace_back(!it->is_directory(ignored), it->path().filename().string());
  }
  std::sort(entries.begin(), entries.end());
  QStringList lines{QString("%1 items").arg(entries.size())};
  for (size_t i = 0; i < entries.size() && i < kFolderEntries; ++i) {
    lines << readable(entries[i].second);
  }
  return lines;
}

}  // namespace

PreviewWindow::Content PreviewWindow::load(const std::string& path, QSize limit, qreal scale) {
  Content content;
  content.kind = kindOf(path);
  content.size = QSize(520, 420);
  std::error_code error;
  if (const uintmax_t bytes = std::filesystem::file_size(path, error); !error) {
    content.bytes = bytes;
  }
  // The file is opened once, without blocking, and only if it is a regular file: the index
  // found it, so it may be a FIFO or a device by now. Every reader reads that open file.
  RegularFile opened;
  QFile input;
  const std::string& kind = content.kind;
  if (kind == "image" || kind == "pdf" || kind == "text") {
    opened = RegularFile::open(path, kind == "text" ? SIZE_MAX : kMaxPreviewBytes);
    if (opened.problem != RegularFile::Problem::none ||
        !input.open(opened.file.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) {
      content.kind = "file";
    }
  }
  if (kind == "image") {
    QImageReader reader(&input);
    reader.setAutoTransform(true);
    const QSize full = reader.size();
    if (full.isValid() && (full.width() > limit.width() || full.height() > limit.height())) {
      reader.setScaledSize(full.scaled(limit, Qt::KeepAspectRatio));
    }
    content.image = reader.read();
    if (content.image.isNull()) {
      content.kind = "file";
    } else {
      content.size =
          content.image.size().expandedTo(QSize(160, 120)) + QSize(2 * kMargin, 2 * kMargin);
    }
  } else if (kind == "pdf") {
    // The PDF reader takes a path: the open file's own, which can't be swapped.
    const QString same = QStringLiteral("/proc/self/fd/") + QString::number(opened.file.get());
    content.image = firstPage(same, limit - QSize(2 * kMargin, 2 * kMargin), scale);
    if (content.image.isNull()) {
      content.kind = "file";
    } else {
      content.size =
          content.image.deviceIndependentSize().toSize() + QSize(2 * kMargin, 2 * kMargin);
    }
  } else if (kind == "text") {
    content.text = QString::fromUtf8(input.read(kTextBytes));  // invalid bytes become U+FFFD
    content.size = QSize(640, 480).boundedTo(limit);
  } else if (kind == "folder") {
    content.lines = folderLines(path);
  }
  return content;
}

void PreviewWindow::show(const std::string& path, QScreen* screen, IconStore* icons) {
  icons_ = icons;
  path_ = path;
  kind_ = "loading";
  image_ = QImage();
  text_.clear();
  lines_.clear();
  bytes_.reset();
  available_ = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1280, 800);
  const QSize limit(static_cast<int>(available_.width() * kScreenShare),
                    static_cast<int>(available_.height() * kScreenShare));
  const qreal scale = screen != nullptr ? screen->devicePixelRatio() : 1;
  resize(QSize(520, 420));
  move(available_.center() - rect().center());
  QWidget::show();
  raise();
  update();
  const uint64_t generation = ++generation_;
  loadTimer_.start();
  QPointer<PreviewWindow> self(this);
  threads_->start([outlet = outlet_, self, generation, path, limit, scale] {
    Content content = load(path, limit, scale);
    const std::lock_guard lock(outlet->mutex);
    if (outlet->executor != nullptr) {
      outlet->executor->deliver([self, generation, content = std::move(content)]() mutable {
        if (!self.isNull()) {
          self->loaded(generation, std::move(content));
        }
      });
    }
  });
}

void PreviewWindow::loaded(uint64_t generation, Content content) {
  if (generation != generation_ || !isVisible()) {
    return;
  }
  loadTimer_.stop();
  kind_ = std::move(content.kind);
  image_ = std::move(content.image);
  text_ = std::move(content.text);
  lines_ = std::move(content.lines);
  bytes_ = content.bytes;
  resize(content.size);
  move(available_.center() - rect().center());
  update();
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
  if (onKey && onKey(*event)) {
    return;
  }
  QWidget::keyPressEvent(event);
}

void PreviewWindow::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  const Palette palette = Palette::current();
  painter.fillRect(rect(), palette[Palette::Role::window]);
  painter.setPen(palette[Palette::Role::edge]);
  painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
  const QRectF inner = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
  if (kind_ == "pdf") {
    // A page is white paper whatever the file says.
    const QSizeF shown = image_.deviceIndependentSize();
    const QRectF page(inner.center().x() - shown.width() / 2,
                      inner.center().y() - shown.height() / 2, shown.width(), shown.height());
    painter.fillRect(page, Qt::white);
    painter.drawImage(page, image_);
    painter.setPen(palette[Palette::Role::edge]);
    painter.drawRect(page.adjusted(-0.5, -0.5, 0.5, 0.5));
    return;
  }
  if (kind_ == "image") {
    const QSizeF shown = QSizeF(image_.size()).scaled(inner.size(), Qt::KeepAspectRatio);
    const QRectF frame(inner.center().x() - shown.width() / 2,
                       inner.center().y() - shown.height() / 2, shown.width(), shown.height());
    constexpr int kCell = 10;
    for (int y = 0; y * kCell < frame.height(); ++y) {
      for (int x = 0; x * kCell < frame.width(); ++x) {
        const QRectF cell = QRectF(frame.left() + x * kCell, frame.top() + y * kCell, kCell, kCell)
                                .intersected(frame);
        painter.fillRect(cell,
                         (x + y) % 2 == 0 ? QColor(0xff, 0xff, 0xff) : QColor(0xe4, 0xe4, 0xe8));
      }
    }
    painter.drawImage(frame, image_);
    return;
  }
  painter.setPen(palette[Palette::Role::text]);
  if (kind_ == "text") {
    QFont font("monospace");
    font.setPixelSize(13);
    painter.setFont(font);
    painter.drawText(inner, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text_);
    return;
  }
  // A folder's entries, or any other file: icon, name, type and size.
  const bool folder = kind_ == "folder";
  const IconRef icon = IconRef::of(folder ? IconRef::Kind::folder : IconRef::Kind::file, path_);
  if (const auto art = PanelIcons::image(icon, IconSize::tile, icons_, devicePixelRatioF())) {
    painter.drawImage(QRectF(inner.left(), inner.top(), kIconSide, kIconSide), *art);
  }
  QFont title = font();
  title.setPixelSize(18);
  title.setWeight(QFont::DemiBold);
  painter.setFont(title);
  const QRectF text(inner.left() + kIconSide + 16, inner.top(), inner.width() - kIconSide - 16, 28);
  painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, readable(fileNameOf(path_)));
  QFont small = font();
  small.setPixelSize(13);
  painter.setFont(small);
  painter.setPen(palette[Palette::Role::quiet]);
  QStringList facts;
  if (kind_ == "folder") {
    facts = lines_;
  } else if (kind_ != "loading") {
    if (icons_ != nullptr) {
      facts << QString::fromStdString(icons_->typeName(path_).value_or(""));
    }
    if (bytes_) {
      facts << QString::fromStdString(PanelContent::fileSize(static_cast<int64_t>(*bytes_)));
    }
  }
  qreal y = inner.top() + 32;
  for (const QString& line : facts) {
    if (y > inner.bottom() - 16) {
      break;
    }
    painter.drawText(QRectF(text.left(), y, text.width(), 18), Qt::AlignLeft | Qt::AlignVCenter,
                     line);
    y += 19;
  }
}

}  // namespace vesk
