// LauncherPanel: the focus (taking it when the panel opens, keys held until it comes, keys
// typed after a close given back to the window before) and the keys pressed in the panel.

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>

#include "app/base/log.h"
#include "app/launcher/launcher_panel.h"
#include "app/launcher/preview_window.h"
#include "app/launcher/search_field.h"
#include "platform/window_focus.h"

namespace vesk {

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
  if (!focused) {
    Log::app.debug("The panel didn't get the input focus within %.1f s", kHoldSeconds);
  }
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
    Log::app.debug(
        "%zu keys typed after the panel closed went nowhere: no window was active "
        "before",
        keys.size());
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
      Log::app.debug(
          "%zu keys typed after the panel closed went nowhere: the window before "
          "(0x%x) didn't get the focus back (0x%x has it)",
          keys.size(), static_cast<unsigned>(behind),
          static_cast<unsigned>(focus_->focusedWindow()));
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

bool LauncherPanel::previewKey(int64_t stamp) {
  if (stamp == previewedKey_) {
    return true;  // the same event once through the preview and once here
  }
  // Typed ahead of a query's rows or of keys still waiting: it previews the row selected once
  // they have run, as drawn then.
  const auto toggle = [panel = QPointer<LauncherPanel>(this)] {
    if (panel != nullptr && (panel->isPreviewShown() || panel->previewURL())) {
      panel->togglePreview();
    }
  };
  if (!launcher_.waitsInLine(toggle)) {
    if (!isPreviewShown() && !previewURL()) {
      return false;
    }
    togglePreview();
  }
  previewedKey_ = stamp;
  return true;
}

bool LauncherPanel::handleKey(const QKeyEvent& event) {
  if (event.type() != QEvent::KeyPress || isComposing()) {
    return false;
  }
  // On X11 a key event's time is the server's: launches started by this key carry it, so that
  // a window manager that prevents focus stealing lets their windows have the focus.
  if (event.timestamp() != 0) {
    launcher_.setUserTime(static_cast<uint32_t>(event.timestamp()));
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
      return previewKey(stamp);
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

}  // namespace vesk
