// The panel's preview: what it shows for the selection, toggling it, following the selection,
// and closing both on a click elsewhere.

#include <QApplication>
#include <QListView>
#include <QMouseEvent>
#include <QWindow>

#include "app/clipboard/clip_text.h"
#include "app/clipboard/clipboard_history.h"
#include "app/launcher/launcher_panel.h"
#include "app/launcher/preview_window.h"

namespace vesk {

bool LauncherPanel::isPreviewShown() const {
  return preview_->isVisible();
}

std::optional<std::string> LauncherPanel::previewURL() const {
  if (launcher_.sublist() || launcher_.selection() >= launcher_.rows().size()) {
    return std::nullopt;
  }
  const Row& row = launcher_.rows()[launcher_.selection()];
  if (const Item* item = row.item()) {
    if (item->kind.tag == Item::Kind::Tag::file || item->kind.tag == Item::Kind::Tag::folder) {
      return item->kind.url;
    }
    return std::nullopt;
  }
  if (const Clip* clip = row.clip()) {
    ClipboardHistory* clipboard = launcher_.clipboard();
    if (clip->kind == Clip::Kind::image && clipboard != nullptr && clipboard->store()) {
      return clipboard->store()->imageFile(clip->id);
    }
    if (clip->kind == Clip::Kind::files) {
      const std::vector<std::string> paths = ClipText::paths(*clip);
      if (!paths.empty()) {
        return paths.front();
      }
    }
  }
  return std::nullopt;
}

void LauncherPanel::togglePreview() {
  if (preview_->isVisible()) {
    hidePreview();
    activateWindow();
    return;
  }
  if (const std::optional<std::string> target = previewURL()) {
    showPreview(*target);
  }
}

void LauncherPanel::showPreview(const std::string& target) {
  previewing_ = target;
  preview_->onKey = [this](QKeyEvent& event) { return handleKey(event); };
  // Transient for the panel: window managers keep it above the panel, which keeps the focus.
  preview_->winId();
  preview_->windowHandle()->setTransientParent(windowHandle());
  preview_->show(target, screen(), launcher_.icons());
  activateWindow();
  preview_->raise();
  focusField();
  // While the preview is shown every click comes here first, so that a click anywhere else
  // closes both (`mousePressEvent`).
  grabMouse();
}

void LauncherPanel::hidePreview() {
  releaseMouse();
  preview_->hide();
  previewing_.reset();
}

void LauncherPanel::mousePressEvent(QMouseEvent* event) {
  if (!preview_->isVisible()) {
    QWidget::mousePressEvent(event);
    return;
  }
  const QPoint global = event->globalPosition().toPoint();
  if (preview_->geometry().contains(global)) {
    return;
  }
  if (!geometry().contains(global)) {
    dismiss();
    return;
  }
  // A row clicked under the grab is selected as a click on the list selects it.
  const QModelIndex index = list_->indexAt(list_->viewport()->mapFromGlobal(global));
  if (list_->isVisible() && index.isValid()) {
    launcher_.userSelected(static_cast<size_t>(index.row()));
  }
}

void LauncherPanel::previewSelectionChanged(bool byUser) {
  if (!preview_->isVisible()) {
    return;
  }
  const std::optional<std::string> target = previewURL();
  if (target == previewing_) {
    return;
  }
  if (byUser && target) {
    showPreview(*target);
    return;
  }
  hidePreview();
}

}  // namespace vesk
