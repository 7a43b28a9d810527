#pragma once
// SearchField: the panel's search field: plain text with every automatic aid off. Keys go to
// the panel first; while an input method composes text nothing is intercepted.

#include <QLineEdit>
#include <QString>

namespace vesk {

class LauncherPanel;

class SearchField final : public QLineEdit {
 public:
  explicit SearchField(LauncherPanel& panel);

  // Whether an input method is composing text in the field.
  bool composing() const { return !preedit_.isEmpty(); }
  // When the field last got a key press, on the log's clock (-1: never).
  double lastKey = -1;

 protected:
  bool event(QEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  LauncherPanel& panel_;
  QString preedit_;
};

}  // namespace vesk
