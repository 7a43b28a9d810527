#pragma once
// PreviewWindow: Vesk's own file preview, one level above the panel: an image fitted to 70% of
// the screen over a checkerboard, the first page of a PDF, the start of a text file, the
// entries of a folder, or for anything else a large icon with the name, type and size. It never
// keeps the keyboard: the panel stays the focused window and keys reaching the preview go to
// `onKey`.
//
// The file is read, decoded and rendered on threads of the preview's own, so that a file on a
// stalled mount never freezes the panel or holds up launches and pastes: the window shows the
// file's name until the content is back, and its facts when that takes longer than kLoadWait.
// Closing the window waits that long at most for a load under way; one that takes longer is
// left to finish alone, and its result goes nowhere. Paths stay bytes: a name that isn't UTF-8
// previews like any other.
//
// Main thread only.

#include <QImage>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/base/executor.h"

class QKeyEvent;
class QScreen;
class QThreadPool;

namespace vesk {

class IconStore;

class PreviewWindow final : public QWidget {
 public:
  explicit PreviewWindow(Executor& executor);
  ~PreviewWindow() override;
  PreviewWindow(const PreviewWindow&) = delete;
  PreviewWindow& operator=(const PreviewWindow&) = delete;
  PreviewWindow(PreviewWindow&&) = delete;
  PreviewWindow& operator=(PreviewWindow&&) = delete;

  // Shows `path` centred on `screen` (replacing what was shown); the icon and type name of a
  // file come from `icons` (none: neither).
  void show(const std::string& path, QScreen* screen, IconStore* icons);
  const std::string& path() const { return path_; }
  // What is shown (see `kindOf`): "file" also when the file couldn't be read as its kind, or
  // took too long; "loading" until the content is back.
  const std::string& kind() const { return kind_; }

  static constexpr std::chrono::milliseconds kLoadWait{1000};

  std::function<bool(QKeyEvent&)> onKey;

  // What the preview shows for a path, as a kind: "image", "pdf", "text", "folder" or "file".
  // It may block (it asks the file system).
  static std::string kindOf(const std::string& path);

  // What a preview shows, read and rendered; made on any thread.
  struct Content {
    std::string kind;
    QImage image;
    QString text;
    QStringList lines;
    QSize size;
    std::optional<uintmax_t> bytes;  // a file's size, when it could be read
  };
  // Reads `path` for a preview that fits into `limit` at `scale` device pixels per point.
  static Content load(const std::string& path, QSize limit, qreal scale);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Where a load hands its result: the executor while the window lives, then nothing.
  struct Outlet;

  void loaded(uint64_t generation, Content content);

  std::shared_ptr<Outlet> outlet_;
  // Destroyed with the window once its loads end; kept for good when one outlives kLoadWait.
  std::unique_ptr<QThreadPool> threads_;

  std::string path_;
  std::string kind_;
  IconStore* icons_ = nullptr;
  QImage image_;
  QString text_;
  QStringList lines_;
  std::optional<uintmax_t> bytes_;
  QRect available_;
  // The preview asked for last: a content that comes back for an earlier one, or after the
  // wait, is dropped.
  uint64_t generation_ = 0;
  QTimer loadTimer_;
};

}  // namespace vesk
