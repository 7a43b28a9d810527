#include "app/launcher/message_window.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "app/launcher/launcher_panel.h"
#include "app/launcher/palette.h"

namespace vesk {

namespace {

using Role = Palette::Role;
constexpr int kRadius = 12;
constexpr int kInset = 18;

QPointer<MessageWindow>& shown() {
  static QPointer<MessageWindow> window;
  return window;
}

QFont sized(qreal pixels, bool bold) {
  QFont font = QApplication::font();
  font.setPixelSize(static_cast<int>(pixels));
  font.setBold(bold);
  return font;
}

}  // namespace

MessageWindow::MessageWindow(QString title, QString text, std::function<void()> clicked)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint),
      title_(std::move(title)),
      text_(std::move(text)),
      clicked_(std::move(clicked)),
      timer_(new QTimer(this)) {
  setObjectName(QStringLiteral("vesk-message"));
  setWindowTitle(title_);
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setCursor(clicked_ ? Qt::PointingHandCursor : Qt::ArrowCursor);
  timer_->setSingleShot(true);
  timer_->setInterval(kShownFor);
  connect(timer_, &QTimer::timeout, this, &QWidget::close);
}

MessageWindow* MessageWindow::current() {
  return shown().data();
}

QRect MessageWindow::placement(const QRect& available, bool panelOpen) {
  if (!panelOpen) {
    return LauncherPanel::placement(available, kHeight);
  }
  const QRect panel = LauncherPanel::placement(available, LauncherPanel::kTallHeight);
  constexpr int kGap = 24;
  return {panel.x(), panel.bottom() + 1 + kGap, panel.width(), kHeight};
}

void MessageWindow::makeRoomForPanel(const QRect& available) {
  setGeometry(placement(available, true));
}

MessageWindow* MessageWindow::display(const std::string& title, const std::string& text,
                                      std::function<void()> clicked) {
  if (MessageWindow* previous = shown().data()) {
    previous->close();
  }
  auto* window = new MessageWindow(QString::fromStdString(title), QString::fromStdString(text),
                                   std::move(clicked));
  shown() = window;
  QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
  if (screen == nullptr) {
    screen = QGuiApplication::primaryScreen();
  }
  if (screen != nullptr) {
    const QWidgetList windows = QApplication::topLevelWidgets();
    const bool panelOpen = std::any_of(windows.begin(), windows.end(), [](QWidget* shown) {
      return dynamic_cast<LauncherPanel*>(shown) != nullptr && shown->isVisible();
    });
    window->setGeometry(placement(screen->availableGeometry(), panelOpen));
  } else {
    window->resize(LauncherPanel::kWidth, kHeight);
  }
  // Without a compositor the corners are cut by a mask, as the panel's are.
  QPainterPath shape;
  shape.addRoundedRect(QRectF(0, 0, window->width(), window->height()), kRadius, kRadius);
  window->setMask(QRegion(shape.toFillPolygon().toPolygon()));
  window->show();
  window->timer_->start();
  return window;
}

void MessageWindow::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const Palette palette = Palette::current();
  painter.setPen(QPen(palette[Role::edge], 1));
  painter.setBrush(palette[Role::window]);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kRadius, kRadius);

  const int textWidth = width() - 2 * kInset;
  const QFont titleFont = sized(15, true);
  const QFont textFont = sized(13, false);
  painter.setFont(titleFont);
  painter.setPen(palette[Role::text]);
  const QFontMetrics titleMetrics(titleFont);
  painter.drawText(QRect(kInset, 14, textWidth, titleMetrics.height()), Qt::AlignLeft,
                   titleMetrics.elidedText(title_, Qt::ElideRight, textWidth));
  painter.setFont(textFont);
  painter.setPen(palette[Role::quiet]);
  const QFontMetrics textMetrics(textFont);
  painter.drawText(QRect(kInset, 16 + titleMetrics.height(), textWidth, textMetrics.height()),
                   Qt::AlignLeft, textMetrics.elidedText(text_, Qt::ElideMiddle, textWidth));
}

void MessageWindow::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (clicked_) {
    clicked_();
  }
  close();
}

}  // namespace vesk
