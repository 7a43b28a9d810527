#include "app/launcher/launcher_panel.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
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

double nowSince1970() {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count()) /
         1000.0;
}

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

// The list's rows: the controller's table rows, each drawn from its content.
class RowModel final : public QAbstractListModel {
 public:
  RowModel(LauncherPanel& panel, QObject* parent) : QAbstractListModel(parent), panel_(panel) {}

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(shown_);
  }

  QVariant data(const QModelIndex& index, int role) const override {
    const Rows& rows = panel_.launcher().tableRows();
    const auto row = static_cast<size_t>(index.row());
    if (role != ResultCell::kContentRole || row >= rows.size()) {
      return {};
    }
    return QVariant::fromValue(PanelContent::cell(rows[row], row, panel_.context()));
  }

  void reload() {
    beginResetModel();
    shown_ = panel_.launcher().tableRows().size();
    endResetModel();
  }
  void insert(size_t from, size_t to) {
    if (to <= from || from != shown_) {
      reload();
      return;
    }
    beginInsertRows({}, static_cast<int>(from), static_cast<int>(to) - 1);
    shown_ = to;
    endInsertRows();
  }
  void remove(size_t from, size_t to) {
    if (to <= from || to != shown_) {
      reload();
      return;
    }
    beginRemoveRows({}, static_cast<int>(from), static_cast<int>(to) - 1);
    shown_ = from;
    endRemoveRows();
  }
  void changed() {
    if (shown_ > 0) {
      emit dataChanged(index(0), index(static_cast<int>(shown_) - 1));
    }
  }

 private:
  LauncherPanel& panel_;
  size_t shown_ = 0;
};

// The search field: plain text with every automatic aid off. Keys go to the panel first; while
// an input method composes text nothing is intercepted.
class SearchField final : public QLineEdit {
 public:
  explicit SearchField(LauncherPanel& panel) : QLineEdit(&panel), panel_(panel) {
    setFrame(false);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase | Qt::ImhNoTextHandles |
                        Qt::ImhNoEditMenu);
    setDragEnabled(false);
    setCompleter(nullptr);
    setContextMenuPolicy(Qt::NoContextMenu);
  }

  bool composing() const { return !preedit_.isEmpty(); }
  double lastKey = -1;

 protected:
  bool event(QEvent* event) override {
    // Before QLineEdit and QWidget: Tab must not move the focus, ⏎ and ⎋ never edit.
    if (event->type() == QEvent::KeyPress && !composing()) {
      auto* key = static_cast<QKeyEvent*>(event);
      lastKey = Log::uptime();
      if (panel_.handleKey(*key)) {
        return true;
      }
      if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab ||
          key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
          key->key() == Qt::Key_Escape) {
        return true;
      }
    }
    if (event->type() == QEvent::ShortcutOverride) {
      event->accept();  // there are no window shortcuts: every key reaches the field
    }
    return QLineEdit::event(event);
  }

  void inputMethodEvent(QInputMethodEvent* event) override {
    preedit_ = event->preeditString();
    QLineEdit::inputMethodEvent(event);
  }

  void focusOutEvent(QFocusEvent* event) override {
    // Keep the caret where it is when the focus comes back.
    QLineEdit::focusOutEvent(event);
  }

 private:
  LauncherPanel& panel_;
  QString preedit_;
};

LauncherPanel::LauncherPanel(LauncherController& launcher, const HistoryStore& history,
                             RunningApps* running, WindowFocus* focus)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
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
  const auto icons = [this] { return launcher_.icons; };
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
  preview_ = std::make_unique<PreviewWindow>();

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
  context.now = launcher_.now ? launcher_.now() : nowSince1970();
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
  context.icons = launcher_.icons;
  return context;
}

std::optional<FileFact> LauncherPanel::fact(const std::string& path) {
  const auto known = facts_.find(path);
  if (!freshFacts_.contains(path) && loadingFacts_.insert(path).second) {
    std::weak_ptr<LauncherPanel*> weak = self_;
    runInBackground(
        QoS::userInitiated, [read = fileFacts, path] { return read(path); },
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
    previousWindow_ = focus_->focusedWindow();
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
  activateWindow();
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

void LauncherPanel::logPresent() {
  if (!pendingPresent_) {
    return;
  }
  if (focus_ != nullptr) {
    focus_->sync();
  }
  const bool clipboard = launcher_.mode() == LauncherController::Mode::clipboard;
  Log::latency(clipboard ? kClipboardLabel : kLauncherLabel, *pendingPresent_,
               presentHandled_.value_or(*pendingPresent_), Log::uptime());
  pendingPresent_.reset();
}

void LauncherPanel::pollFocus() {
  // The keys are let go once the server sends them to the panel, not when the window manager
  // merely names it active: in between they would reach the window before.
  const bool focused = focus_ != nullptr && focus_->hasInputFocus(winId());
  if (!focused && Log::uptime() - holdStarted_ < kHoldSeconds) {
    return;
  }
  focusPoll_.stop();
  focusArrived();
}

void LauncherPanel::focusArrived() {
  focusPoll_.stop();
  wasActive_ = true;
  if (focus_ == nullptr) {
    return;
  }
  // Keys typed while the panel was coming up, in the order they were typed.
  const std::vector<WindowFocus::Key> keys = focus_->releaseKeys();
  Log::app.debug("The panel has the focus (%zu keys typed before)", keys.size());
  for (auto key = keys.begin(); key != keys.end(); ++key) {
    if (!QWidget::isVisible()) {
      // One of them closed the panel: the rest were typed for the window the user is back in.
      replayBehind({key, keys.end()});
      return;
    }
    QKeyEvent event(QEvent::KeyPress, key->qtKey, Qt::KeyboardModifiers(key->qtModifiers),
                    QString::fromStdString(key->text));
    event.setTimestamp(key->time);
    QApplication::sendEvent(field_, &event);
  }
}

void LauncherPanel::replayBehind(std::vector<WindowFocus::Key> keys) {
  const WindowId behind = previousWindow_;
  if (focus_ == nullptr || behind == 0) {
    Log::app.debug("%zu keys typed after the panel closed went nowhere", keys.size());
    return;
  }
  // Once the window the user came from has the focus back; dropped when it doesn't take it
  // within kReplayWait, or when the panel opens again first.
  const double until = Log::uptime() + kReplayWait;
  auto* poll = new QTimer(this);
  poll->setInterval(10);
  connect(poll, &QTimer::timeout, this, [this, poll, behind, until, keys = std::move(keys)] {
    if (QWidget::isVisible() || focus_->hasInputFocus(behind)) {
      if (!QWidget::isVisible()) {
        Log::app.debug("%zu keys typed after the panel closed go to the window before",
                       keys.size());
        focus_->replay(keys);
      }
      poll->deleteLater();
    } else if (Log::uptime() > until) {
      Log::app.debug("%zu keys typed after the panel closed went nowhere", keys.size());
      poll->deleteLater();
    }
  });
  poll->start();
}

void LauncherPanel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange) {
    // Qt may learn of the focus after the poll saw it on the server: being activated then is
    // no reason to close.
    if (isActiveWindow()) {
      if (focusPoll_.isActive()) {
        focusArrived();
      }
    } else if (wasActive_ && QWidget::isVisible()) {
      // The preview never takes the focus for long: the panel takes it back. Any other window
      // getting it closes both.
      if (isPreviewShown() && QApplication::activeWindow() == preview_.get()) {
        activateWindow();
      } else {
        dismiss();
      }
    }
  }
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ThemeChange) {
    showSymbol();
    applyFieldColours();
    update();
  }
  QWidget::changeEvent(event);
}

bool LauncherPanel::event(QEvent* event) {
  return QWidget::event(event);
}

// Keys.

bool LauncherPanel::isComposing() const {
  return field_->composing();
}

bool LauncherPanel::handleKey(const QKeyEvent& event) {
  if (event.type() != QEvent::KeyPress || isComposing()) {
    return false;
  }
  // On X11 a key event's time is the server's: launches started by this key carry it, so that
  // a window manager that prevents focus stealing lets their windows have the focus.
  if (event.timestamp() != 0) {
    launcher_.userTime = static_cast<uint32_t>(event.timestamp());
  }
  const std::optional<TypedKey> key = PanelKeys::fromQt(event);
  if (!key) {
    return false;
  }
  const auto stamp = reinterpret_cast<int64_t>(&event) ^ static_cast<int64_t>(event.timestamp());
  PanelKeys::Handlers handlers;
  handlers.runAction = [this](size_t position) { return launcher_.runAction(position); };
  handlers.perform = [this, stamp](PanelKey panelKey) {
    if (panelKey == PanelKey::preview) {
      if (stamp == previewedKey_) {
        return true;  // the same event once through the preview and once here
      }
      if (!isPreviewShown() && !previewURL()) {
        return false;
      }
      previewedKey_ = stamp;
      togglePreview();
      return true;
    }
    if (panelKey == PanelKey::back && isPreviewShown()) {
      togglePreview();
      return true;
    }
    if (panelKey == PanelKey::toLauncher && (launcher_.sublist() || !field_->text().isEmpty())) {
      return false;
    }
    return launcher_.perform(panelKey);
  };
  return PanelKeys::handleKey(*key, launcher_.keys(), field_->text().isEmpty(),
                              launcher_.sublist().has_value(), handlers);
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
                                                        launcher_.icons, devicePixelRatioF());
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
