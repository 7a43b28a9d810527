#include "app/launcher/launcher_panel.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <filesystem>

#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/clipboard/clipboard_history.h"
#include "app/launcher/message_window.h"
#include "app/launcher/preview_window.h"
#include "app/launcher/result_cell.h"
#include "app/launcher/row_model.h"
#include "app/launcher/search_field.h"
#include "app/launcher/stage_view.h"
#include "core/base/xdg_folders.h"
#include "platform/window_focus.h"

namespace vesk {

namespace {

using Role = Palette::Role;
constexpr int kRadius = 12;
constexpr int kSymbolX = 18;
constexpr int kSymbolSize = 20;
constexpr int kFieldX = 48;
constexpr int kFieldWidth = 612;
// A selection change this soon after the user's last key counts as the user's.
constexpr double kUserWindow = 1.0;

FileFact readFact(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  FileFact fact;
  fact.exists = !error && std::filesystem::exists(status);
  fact.isFolder = fact.exists && std::filesystem::is_directory(status);
  if (fact.exists && std::filesystem::is_regular_file(status)) {
    const auto size = std::filesystem::file_size(path, error);
    if (!error) {
      fact.size = static_cast<int64_t>(size);
    }
  }
  return fact;
}

}  // namespace

LauncherPanel::LauncherPanel(Executor& executor, LauncherController& launcher,
                             const HistoryStore& history, RunningApps* running, WindowFocus* focus)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      executor_(executor),
      launcher_(launcher),
      history_(history),
      running_(running),
      focus_(focus),
      self_(std::make_shared<LauncherPanel*>(this)) {
  setObjectName("VeskPanel");
  setWindowTitle("Vesk");
  setAttribute(Qt::WA_ShowWithoutActivating, false);
  if (focus_ != nullptr && focus_->hasCompositor()) {
    setAttribute(Qt::WA_TranslucentBackground);
  }
  fileFacts = readFact;
  focusPoll_.setInterval(5);
  connect(&focusPoll_, &QTimer::timeout, this, [this] { pollFocus(); });
  presentLog_.setSingleShot(true);
  presentLog_.setInterval(0);
  connect(&presentLog_, &QTimer::timeout, this, [this] { logPresent(); });

  symbol_ = new QLabel(this);
  field_ = new SearchField(*this);
  const auto icons = [this] { return launcher_.icons(); };
  stage_ = new StageView(icons, this);
  list_ = new QListView(this);
  model_ = new RowModel(*this, this);
  list_->setModel(model_);
  list_->setItemDelegate(new ResultCell(icons, list_));
  list_->setFocusPolicy(Qt::NoFocus);
  list_->setFrameShape(QFrame::NoFrame);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setUniformItemSizes(true);
  list_->setAttribute(Qt::WA_TranslucentBackground);
  list_->viewport()->setAutoFillBackground(false);
  list_->setStyleSheet("QListView { background: transparent; }");
  stage_->setFocusPolicy(Qt::NoFocus);
  connect(list_, &QListView::clicked, this, [this](const QModelIndex& index) {
    launcher_.userSelected(static_cast<size_t>(index.row()));
    list_->setCurrentIndex(index);
    field_->setFocus();
  });
  connect(list_, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
    launcher_.activate(static_cast<size_t>(index.row()));
  });
  connect(field_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (!updatingField_) {
      launcher_.textDidChange(text.toStdString(), field_->lastKey >= 0
                                                      ? std::optional<double>(field_->lastKey)
                                                      : std::nullopt);
    }
  });
  launcher_.clipImages().onChange = [weak = std::weak_ptr<LauncherPanel*>(self_)] {
    if (const auto self = weak.lock(); self && *self != nullptr) {
      (*self)->reconfigureVisibleRows();
      (*self)->refreshStage();
    }
  };
  preview_ = std::make_unique<PreviewWindow>(executor_);

  resize(kWidth, kShortHeight);
  setClipboardLook(false);
  setSymbol("magnifyingglass");
  setPlaceholder("Search");
  layoutChildren();
  launcher_.setView(this);
}

LauncherPanel::~LauncherPanel() {
  *self_ = nullptr;
  launcher_.clipImages().onChange = nullptr;
  launcher_.setView(nullptr);
}

PanelContext LauncherPanel::context() const {
  PanelContext context;
  context.controller = &launcher_;
  context.history = &history_.history();
  context.isRunning = [running = running_](const Item& item) {
    return running != nullptr && running->application(item.id).has_value();
  };
  context.home = XDGFolders().home();
  context.configFile = configFile;
  context.now = launcher_.now();
  ClipboardHistory* clipboard = launcher_.clipboard();
  context.clipImage = [this, clipboard](const Clip& clip, bool preview) -> std::optional<QImage> {
    if (clipboard == nullptr || !clipboard->store()) {
      return std::nullopt;
    }
    return preview ? launcher_.clipImages().preview(clip, *clipboard->store())
                   : launcher_.clipImages().row(clip, *clipboard->store());
  };
  context.fact = [this](const std::string& path) {
    return const_cast<LauncherPanel*>(this)->fact(path);
  };
  context.icons = launcher_.icons();
  return context;
}

std::optional<FileFact> LauncherPanel::fact(const std::string& path) {
  const auto known = facts_.find(path);
  if (!freshFacts_.contains(path) && loadingFacts_.insert(path).second) {
    std::weak_ptr<LauncherPanel*> weak = self_;
    runInBackground(
        executor_, QoS::userInitiated, [read = fileFacts, path] { return read(path); },
        [weak, path](FileFact fact) {
          const auto self = weak.lock();
          if (!self || *self == nullptr) {
            return;
          }
          LauncherPanel& panel = **self;
          panel.loadingFacts_.erase(path);
          panel.facts_[path] = fact;
          panel.freshFacts_.insert(path);
          panel.refreshStage();
        });
  }
  return known == facts_.end() ? std::nullopt : std::optional<FileFact>(known->second);
}

// Placement and size.

QRect LauncherPanel::placement(const QRect& available, int height) {
  const double middleX = available.x() + available.width() / 2.0;
  const double middleY = available.y() + available.height() / 2.0;
  const auto x = static_cast<int>(std::lround(middleX - kWidth / 2.0));
  const auto top = static_cast<int>(std::lround(middleY - kTallHeight / 2.0));
  return {x, top, kWidth, height};
}

void LauncherPanel::present(LauncherController::Mode mode, double pressedAt) {
  const double handled = Log::uptime();
  if (focus_ != nullptr && !QWidget::isVisible()) {
    focus_->holdKeys();
    // Where no window has the focus (a window manager may leave it nowhere after a launch that
    // opened no window), the window before is still the one the panel last went back to.
    if (const WindowId focused = focus_->focusedWindow(); focused != 0) {
      previousWindow_ = focused;
    }
  }
  if (mode == LauncherController::Mode::clipboard) {
    freshFacts_.clear();
  }
  launcher_.prepareToShow(mode);
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  if (screen == nullptr) {
    screen = QGuiApplication::primaryScreen();
  }
  if (screen == nullptr) {
    return;
  }
  setGeometry(placement(screen->availableGeometry(), height()));
  if (MessageWindow* message = MessageWindow::current()) {
    message->makeRoomForPanel(screen->availableGeometry());
  }
  const bool first = !testAttribute(Qt::WA_WState_Created);
  if (first) {
    winId();
    if (focus_ != nullptr) {
      focus_->prepare(winId());
    }
  }
  wasActive_ = false;
  pendingPresent_ = pressedAt;
  presentHandled_ = handled;
  show();
  raise();
  // One request for the focus: Qt's own, stamped with the last event Qt saw (older than the hot
  // key), reached openbox after the focus service's and took the focus away again a moment
  // after the panel had it, so that the next keys reached the window before.
  if (focus_ == nullptr) {
    activateWindow();
  }
  field_->setFocus(Qt::ActiveWindowFocusReason);
  if (focus_ != nullptr) {
    focus_->activate(winId());
  }
  repaint();
  // The keys typed meanwhile are replayed once the server gives the panel the focus, or at the
  // end of the hold in any case (the field takes them even before the focus is there).
  holdStarted_ = Log::uptime();
  focusPoll_.start();
}

void LauncherPanel::setResultsVisible(bool visible) {
  const int target = visible ? kTallHeight : kShortHeight;
  if (height() == target) {
    return;
  }
  const QRect frame = geometry();
  setGeometry(frame.x(), frame.y(), frame.width(), target);
  applyWindowShape();
  layoutChildren();
  update();
}

void LauncherPanel::applyWindowShape() {
  if (testAttribute(Qt::WA_TranslucentBackground)) {
    clearMask();
    return;
  }
  // Without a compositor the corners are cut by a mask.
  QPainterPath path;
  path.addRoundedRect(QRectF(0, 0, width(), height()), kRadius, kRadius);
  setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void LauncherPanel::layoutChildren() {
  symbol_->setGeometry(kSymbolX, 16, kSymbolSize, kSymbolSize);
  field_->setGeometry(kFieldX, 26 - 16, kFieldWidth, 32);
  const int listTop = clipboardLook_ ? kListTopClipboard : kListTopLauncher;
  // Without a list (the empty clipboard) the stage has the whole area.
  const int stageBottom = showsList_ ? listTop : height() - kBottomInset;
  stage_->setGeometry(0, kShortHeight + 1, kWidth, stageBottom - kShortHeight - 1);
  // Whole rows only: a row cut by the bottom edge looks broken.
  const int room = std::max(0, height() - listTop - kBottomInset);
  list_->setGeometry(0, listTop, kWidth, room - room % ResultCell::kHeight);
  const bool tall = height() == kTallHeight;
  stage_->setVisible(tall && expanded_);
  list_->setVisible(tall && expanded_ && showsList_);
}

void LauncherPanel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const Palette palette = Palette::current();
  const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  painter.setPen(QPen(palette[Role::edge], 1));
  painter.setBrush(palette[Role::window]);
  painter.drawRoundedRect(frame, kRadius, kRadius);
  if (height() == kTallHeight && expanded_) {
    painter.setPen(QPen(palette[Role::edge], 1));
    painter.drawLine(QPointF(1, kShortHeight + 0.5), QPointF(width() - 1, kShortHeight + 0.5));
  }
  if (pendingPresent_) {
    presentLog_.start();  // the latency is logged once the frame has reached the X server
  }
}

// The view.

void LauncherPanel::reloadRows() {
  model_->reload();
}

void LauncherPanel::reconfigureVisibleRows() {
  model_->changed();
  showSymbol();  // it may have arrived with new icons
  if (preview_->isVisible()) {
    preview_->update();
  }
}

void LauncherPanel::insertRows(size_t from, size_t to) {
  model_->insert(from, to);
}

void LauncherPanel::removeRows(size_t from, size_t to) {
  model_->remove(from, to);
}

void LauncherPanel::selectRow(size_t row) {
  if (model_->rowCount({}) != static_cast<int>(launcher_.tableRows().size())) {
    model_->reload();
  }
  const QModelIndex index = model_->index(static_cast<int>(row));
  list_->setCurrentIndex(index);
  list_->scrollTo(index);
  model_->changed();  // the open key's cap moves with the selection
  previewSelectionChanged(field_->lastKey >= 0 && Log::uptime() - field_->lastKey < kUserWindow);
}

void LauncherPanel::setSearchText(const std::string& text, size_t caret) {
  updatingField_ = true;
  const QString value = QString::fromStdString(text);
  if (field_->text() != value) {
    field_->setText(value);
  }
  field_->setCursorPosition(static_cast<int>(caret));
  updatingField_ = false;
}

void LauncherPanel::setPlaceholder(const std::string& placeholder) {
  field_->setPlaceholderText(QString::fromStdString(placeholder));
}

void LauncherPanel::setSymbol(const std::string& symbol) {
  symbolName_ = symbol;
  showSymbol();
}

void LauncherPanel::showSymbol() {
  const std::optional<QImage> image = PanelIcons::image(IconRef::symbol(symbolName_), IconSize::row,
                                                        launcher_.icons(), devicePixelRatioF());
  if (image && image->cacheKey() != symbolImage_) {
    symbolImage_ = image->cacheKey();
    symbol_->setPixmap(QPixmap::fromImage(*image));
  }
}

void LauncherPanel::setExpanded(bool expanded, bool showsList) {
  expanded_ = expanded;
  showsList_ = showsList;
  layoutChildren();
  update();
}

void LauncherPanel::setClipboardLook(bool clipboard) {
  if (clipboard && !clipboardLook_) {
    freshFacts_.clear();
  }
  clipboardLook_ = clipboard;
  QFont font = QApplication::font();
  font.setPixelSize(20);
  field_->setFont(font);
  applyFieldColours();
  layoutChildren();
}

void LauncherPanel::applyFieldColours() {
  QPalette fieldPalette = field_->palette();
  const Palette colours = Palette::current();
  fieldPalette.setColor(QPalette::Text, colours[Role::text]);
  fieldPalette.setColor(QPalette::PlaceholderText, colours[Role::quiet]);
  fieldPalette.setColor(QPalette::Base, Qt::transparent);
  fieldPalette.setColor(QPalette::Highlight, colours[Role::selection]);
  fieldPalette.setColor(QPalette::HighlightedText, colours[Role::text]);
  field_->setPalette(fieldPalette);
}

void LauncherPanel::refreshStage() {
  if (std::optional<StageContent> content = PanelContent::stage(context())) {
    stage_->setContent(std::move(*content));
  }
}

void LauncherPanel::drawNow() {
  if (QWidget::isVisible()) {
    repaint();
  }
}

void LauncherPanel::dismiss() {
  if (!QWidget::isVisible() || dismissing_) {
    return;
  }
  dismissing_ = true;  // hiding deactivates the window, which must not dismiss again
  wasActive_ = false;
  if (preview_->isVisible()) {
    hidePreview();
  }
  previewing_.reset();
  focusPoll_.stop();
  if (focus_ != nullptr) {
    (void)focus_->releaseKeys();
  }
  hide();
  launcher_.reset();
  if (focus_ != nullptr && previousWindow_ != 0) {
    focus_->giveBack(previousWindow_);
  }
  dismissing_ = false;
  if (onDismiss) {
    onDismiss();
  }
}

bool LauncherPanel::isVisible() const {
  return QWidget::isVisible();
}

void LauncherPanel::focusField() {
  field_->setFocus();
}

}  // namespace vesk
