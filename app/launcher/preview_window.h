#pragma once
// PreviewWindow: Vesk's own file preview, one level above the panel: an image fitted to 70% of
// the screen over a checkerboard, the first page of a PDF, the start of a text file, the
// entries of a folder, or for anything else a large icon with the name, type and size. It never
// keeps the keyboard: the panel stays the focused window and keys reaching the preview go to
// `onKey`.
//
// Main thread only.

#include <QWidget>
#include <functional>
#include <string>

class QKeyEvent;
class QScreen;

namespace vesk {

class IconStore;

class PreviewWindow final : public QWidget {
 public:
  PreviewWindow();

  // Shows `path` centred on `screen` (replacing what was shown); the icon and type name of a
  // file come from `icons` (none: neither).
  void show(const std::string& path, QScreen* screen, IconStore* icons);
  const std::string& path() const { return path_; }
  // What is shown (see `kindOf`): "file" also when the file couldn't be read as its kind.
  const std::string& kind() const { return kind_; }

  std::function<bool(QKeyEvent&)> onKey;

  // What the preview shows for a path, as a kind: "image", "pdf", "text", "folder" or "file".
  static std::string kindOf(const std::string& path);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::string path_;
  std::string kind_;
  IconStore* icons_ = nullptr;
  QImage image_;
  QString text_;
  QStringList lines_;
};

}  // namespace vesk
