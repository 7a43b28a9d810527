#pragma once
// LauncherView: what the launcher controller asks of the panel. The panel (the window, its
// search field, its table of rows and the details stage) implements it; the controller holds
// no widget. Rows are read from the controller (`LauncherController::tableRows`).
//
// Main thread only. Calls come in the order the controller makes its changes.

#include <cstddef>
#include <string>

namespace vesk {

class LauncherView {
 public:
  virtual ~LauncherView() = default;

  // A view that shows nothing and is never visible: the controller's before the panel exists.
  static LauncherView& none();

  // The table's rows changed as a whole: reload them.
  virtual void reloadRows() = 0;
  // Redraw the row views on screen with the rows they show now (titles, armed state, …).
  virtual void reconfigureVisibleRows() = 0;
  // Rows [from, to) were added at the end, or removed from the end.
  virtual void insertRows(size_t from, size_t to) = 0;
  virtual void removeRows(size_t from, size_t to) = 0;
  // Select the row and scroll it into view.
  virtual void selectRow(size_t row) = 0;

  // The search field's text with the caret at `caret` (in characters).
  virtual void setSearchText(const std::string& text, size_t caret) = 0;
  virtual void setPlaceholder(const std::string& placeholder) = 0;
  // The symbol in front of the field ("magnifyingglass", "doc.on.clipboard").
  virtual void setSymbol(const std::string& symbol) = 0;
  // The separator and the stage below the field are shown; the list itself is shown when
  // `showsList` (an empty clipboard expands with its message and no list).
  virtual void setExpanded(bool expanded, bool showsList) = 0;
  // The clipboard's stage is taller.
  virtual void setClipboardLook(bool clipboard) = 0;
  // The details stage shows the selected row again.
  virtual void refreshStage() = 0;
  // The panel shows or hides its results area below the field.
  virtual void setResultsVisible(bool visible) = 0;
  // Draw the window now (for the keystroke latency line).
  virtual void drawNow() = 0;

  // Hide the panel; the panel then calls `LauncherController::reset`.
  virtual void dismiss() = 0;
  virtual bool isVisible() const = 0;
};

}  // namespace vesk
