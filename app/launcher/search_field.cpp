#include "app/launcher/search_field.h"

#include <QKeyEvent>

#include "app/base/log.h"
#include "app/launcher/launcher_panel.h"

namespace vesk {

SearchField::SearchField(LauncherPanel& panel) : QLineEdit(&panel), panel_(panel) {
  setFrame(false);
  setAttribute(Qt::WA_MacShowFocusRect, false);
  setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase | Qt::ImhNoTextHandles |
                      Qt::ImhNoEditMenu);
  setDragEnabled(false);
  setCompleter(nullptr);
  setContextMenuPolicy(Qt::NoContextMenu);
}

bool SearchField::event(QEvent* event) {
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

void SearchField::inputMethodEvent(QInputMethodEvent* event) {
  preedit_ = event->preeditString();
  QLineEdit::inputMethodEvent(event);
}

}  // namespace vesk
