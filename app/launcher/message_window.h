#pragma once
// MessageWindow: Vesk's own small message, shown where the launcher panel appears when the
// desktop has no notification service to show it (below the panel while the panel is open, so
// that it never covers the field): the title and text in the panel's colours
// and shape, for about three seconds, without decorations and without taking the focus. A
// click runs what clicking the notification would have done and closes it. A new message
// replaces the one shown.
//
// Main thread (widgets).

#include <QRect>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>

class QTimer;

namespace vesk {

class MessageWindow final : public QWidget {
 public:
  static constexpr std::chrono::milliseconds kShownFor{3000};
  static constexpr int kHeight = 72;

  // Shows the message, replacing any shown. `clicked` may be empty (a click only closes it).
  static MessageWindow* display(const std::string& title, const std::string& text,
                                std::function<void()> clicked);
  // The message shown now, if any.
  static MessageWindow* current();
  // Where the message goes on `available`: the panel's place, or below the panel's full height
  // while the panel is open.
  static QRect placement(const QRect& available, bool panelOpen);
  // Moves the message out of the way of a panel that is opening on `available`.
  void makeRoomForPanel(const QRect& available);

  const QString& title() const { return title_; }
  const QString& text() const { return text_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  MessageWindow(QString title, QString text, std::function<void()> clicked);

  QString title_;
  QString text_;
  std::function<void()> clicked_;
  QTimer* timer_;
};

}  // namespace vesk
