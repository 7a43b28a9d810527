#pragma once
// StageView: the details of the selected row between the search field and the list: a large
// icon on a tile, the name, the place and kind lines, the keys that act on the selection, and
// for clips a preview (text, or an image over a checkerboard so transparency shows).
//
// Main thread. `setContent` redraws only when the content changed; the icons come from the
// store `icons` answers (none: no icons).

#include <QWidget>
#include <functional>

#include "app/launcher/panel_content.h"

namespace vesk {

class IconStore;

class StageView final : public QWidget {
 public:
  static constexpr int kTileSize = points(IconSize::tile);

  StageView(std::function<IconStore*()> icons, QWidget* parent);

  void setContent(StageContent content);
  const StageContent& content() const { return content_; }

  // The place line as drawn at `width`: whole when it fits in `placeLines` lines wrapped by
  // characters, else the longest middle-shortened form that does.
  QString fitPlace(int width) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void drawPreview(QPainter& painter, const QRectF& area);
  void drawDetails(QPainter& painter, const QRectF& area);
  int drawKeys(QPainter& painter, const QRectF& area);
  int keysWidth() const;

  std::function<IconStore*()> icons_;
  StageContent content_;
};

}  // namespace vesk
