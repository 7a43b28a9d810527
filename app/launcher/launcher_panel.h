#pragma once
// LauncherPanel: the floating window of the launcher: the search field on top and, when there
// are results, the details stage and the list below it. It is the controller's view: it draws
// what the controller decides and turns the user's keys into panel keys before the field sees
// them.
//
// Sizes are device-independent pixels: 680 wide, 52 tall with the field alone, 423 with
// results; the top edge stays where it was put, so the field never moves under the eyes.
// Losing the focus dismisses the panel, except to its own preview.
//
// Main thread only.

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/base/executor.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_view.h"
#include "app/launcher/panel_content.h"
#include "app/launcher/panel_keys.h"
#include "platform/window_focus.h"

class QLabel;
class QListView;
class QKeyEvent;

namespace vesk {

class HistoryStore;
class PreviewWindow;
class RowModel;
class RunningApps;
class SearchField;
class StageView;

class LauncherPanel final : public QWidget, public LauncherView {
 public:
  static constexpr int kWidth = 680;
  static constexpr int kShortHeight = 52;
  static constexpr int kTallHeight = 423;
  static constexpr int kListTopLauncher = 161;
  static constexpr int kListTopClipboard = 257;
  static constexpr int kBottomInset = 6;
  static constexpr std::string_view kLauncherLabel = "Ctrl+Alt+Space \u2192 panel drawn";
  static constexpr std::string_view kClipboardLabel = "Super+Shift+V \u2192 panel drawn";

  // `running` and `focus` may be null.
  LauncherPanel(Executor& executor, LauncherController& launcher, const HistoryStore& history,
                RunningApps* running, WindowFocus* focus);
  ~LauncherPanel() override;
  LauncherPanel(const LauncherPanel&) = delete;
  LauncherPanel& operator=(const LauncherPanel&) = delete;
  LauncherPanel(LauncherPanel&&) = delete;
  LauncherPanel& operator=(LauncherPanel&&) = delete;

  // Told after the panel is hidden and the controller reset.
  std::function<void()> onDismiss;
  // The configuration file, for the stage of a problem.
  std::string configFile;
  // The facts of a file, looked up off the main thread. The default reads the file system.
  std::function<FileFact(const std::string& path)> fileFacts;

  // Shows the panel for the launcher or the clipboard; `pressedAt` is the hot key's time on the
  // monotonic clock.
  void present(LauncherController::Mode mode, double pressedAt);
  LauncherController& launcher() { return launcher_; }

  // Where a panel of the current height goes on a screen's available area (top edge fixed).
  static QRect placement(const QRect& available, int height);

  // A key pressed in the panel: a panel key (handled) or typing for the field (not handled).
  bool handleKey(const QKeyEvent& event);
  bool isComposing() const;

  // The preview of the selection.
  void togglePreview();
  std::optional<std::string> previewURL() const;
  const std::optional<std::string>& previewing() const { return previewing_; }
  bool isPreviewShown() const;

  // LauncherView
  void reloadRows() override;
  void reconfigureVisibleRows() override;
  void insertRows(size_t from, size_t to) override;
  void removeRows(size_t from, size_t to) override;
  void selectRow(size_t row) override;
  void setSearchText(const std::string& text, size_t caret) override;
  void setPlaceholder(const std::string& placeholder) override;
  void setSymbol(const std::string& symbol) override;
  void setExpanded(bool expanded, bool showsList) override;
  void setClipboardLook(bool clipboard) override;
  void refreshStage() override;
  void setResultsVisible(bool visible) override;
  void drawNow() override;
  void dismiss() override;
  bool isVisible() const override;

  PanelContext context() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // The preview key of the key event `stamp`: toggles the preview now or in its turn; false
  // when there is nothing to preview.
  bool previewKey(int64_t stamp);
  Executor& executor_;
  void layoutChildren();
  void showSymbol();
  void applyFieldColours();
  void previewSelectionChanged(bool byUser);
  void showPreview(const std::string& target);
  void hidePreview();
  void focusField();
  std::optional<FileFact> fact(const std::string& path);
  void applyWindowShape();
  void focusArrived();
  // Types `keys` into the window the user came from once it has the focus back.
  void replayBehind(std::vector<WindowFocus::Key> keys);
  void pollFocus();
  // The latency line, once the first frame has reached the X server.
  void logPresent();

  LauncherController& launcher_;
  const HistoryStore& history_;
  RunningApps* running_;
  WindowFocus* focus_;

  QLabel* symbol_;
  std::string symbolName_;
  qint64 symbolImage_ = 0;  // the image the label shows
  SearchField* field_;
  StageView* stage_;
  QListView* list_;
  RowModel* model_;
  std::unique_ptr<PreviewWindow> preview_;

  bool expanded_ = false;
  bool showsList_ = false;
  bool clipboardLook_ = false;
  bool wasActive_ = false;
  bool dismissing_ = false;
  QTimer focusPoll_;
  QTimer presentLog_;
  double holdStarted_ = 0;
  static constexpr double kHoldSeconds = 0.5;
  static constexpr double kReplayWait = 2.0;
  bool updatingField_ = false;
  int64_t previewedKey_ = 0;  // the key event that last toggled the preview
  std::optional<std::string> previewing_;
  std::optional<double> pendingPresent_;  // the hot key's time until the first frame
  std::optional<double> presentHandled_;
  WindowId previousWindow_ = 0;
  std::map<std::string, FileFact> facts_;
  std::set<std::string> freshFacts_;
  std::set<std::string> loadingFacts_;
  std::shared_ptr<LauncherPanel*> self_;

  friend class SearchField;
};

}  // namespace vesk
