#pragma once
// LauncherController: the one controller behind the launcher panel. It decides what the list
// shows (launcher results, the list of an empty query, the clipboard history or a sublist of
// actions), runs every query (the index at once, the file search in the background), keeps the
// selection stable while lists change under it, and turns opening a row into its effect.
//
// The panel is a thin view (`LauncherView`): the controller tells it what changed and it reads
// `tableRows`. The shell gives it its services once and its settings as one value (`apply`), and
// receives its requests through `LauncherRequests`.
//
// Main thread only. A file search runs on the engine's queue; its result is used only while the
// `searchGeneration` it started with is current. A query's index hits (apps, commands) are
// drawn at once (at most kIndexHitsWait later) and its file hits merge in when they arrive; the
// selection stays on the item the user moved to. Keys run in the order typed: a key that acts on
// the rows waits while the rows drawn still answer an older query, and every later key (text
// included) waits behind it, so that ⏎ never opens a row of a query other than the one it was typed
// after.

#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/clipboard/clip_images.h"
#include "app/clipboard/paster.h"
#include "app/launcher/launcher_lists.h"
#include "app/launcher/launcher_settings.h"
#include "app/launcher/row.h"
#include "app/launcher/sublist.h"
#include "core/base/wall_clock.h"
#include "core/clipboard/paste_run.h"
#include "core/config/config.h"
#include "core/config/key_bindings.h"
#include "core/files/file_search_engine.h"
#include "core/search/search_index.h"

namespace vesk {

class ClipDeliverer;
class ClipboardHistory;
class DesktopActions;
class HistoryStore;
class IconStore;
class LauncherView;
class Notifier;
class RunningApps;

class LauncherController final {
 public:
  enum class Mode { launcher, clipboard };

  // A keystroke: when the key event happened and when the controller got it, in seconds on
  // the monotonic clock (Log::uptime).
  struct Keystroke {
    double event = 0;
    double received = 0;
  };

  // How long keys wait for the first rows of the newest query; then they are dropped, nothing
  // is opened, and the user is told.
  static constexpr std::chrono::milliseconds kNoRowsWait{2000};
  static constexpr std::chrono::milliseconds kIndexHitsWait = LauncherSettings::kIndexHitsWait;
  static constexpr std::string_view kLatencyLabel = "keystroke \u2192 results drawn";

  using FileSearch = LauncherServices::FileSearch;

  LauncherController(LauncherServices services, LauncherRequests requests);
  ~LauncherController();
  LauncherController(const LauncherController&) = delete;
  LauncherController& operator=(const LauncherController&) = delete;
  LauncherController(LauncherController&&) = delete;
  LauncherController& operator=(LauncherController&&) = delete;

  // The panel; none (the default) is a view that shows nothing.
  void setView(LauncherView* view);

  // Takes the new settings; what changed is drawn again where it shows.
  void apply(LauncherSettings settings);
  const LauncherSettings& settings() const { return settings_; }
  // The application index and the clipboard history (none: no clips).
  void setIndex(SearchIndex index);
  void setClipboard(ClipboardHistory* clipboard);
  // The X server time of the last key press in the panel, for launches (0: unknown).
  void setUserTime(uint32_t time) { userTime_ = time; }

  IconStore* icons() const { return services_.icons; }
  double now() const { return services_.now(); }
  // The open key's symbols, for the rows' marks and messages.
  const std::string& openSymbol() const { return openSymbol_; }
  const SearchIndex& index() const { return index_; }
  ClipboardHistory* clipboard() const { return clipboard_; }
  const std::vector<ClipboardNotice>& clipboardNotices() const {
    return settings_.clipboardNotices;
  }
  const KeyBindings& keys() const { return settings_.keys; }
  const std::string& clipboardAlias() const { return settings_.clipboardAlias; }
  ClipImages& clipImages() { return clipImages_; }

  // What the panel shows.
  Mode mode() const { return mode_; }
  const Rows& rows() const { return rows_; }
  const Rows& tableRows() const { return tableRows_; }
  size_t selection() const { return selection_; }
  const std::optional<Sublist>& sublist() const { return sublist_; }
  size_t backStackDepth() const { return backStack_.size(); }
  const std::string& text() const { return text_; }
  const std::string& placeholder() const { return placeholder_; }
  bool isExpanded() const { return isExpanded_; }
  bool isSelecting() const { return isSelecting_; }
  bool isConfirming() const { return confirming_; }
  int64_t searchGeneration() const { return searchGeneration_; }
  // Whether the newest launcher search still waits for its file hits.
  bool isSearchPending() const;
  // Whether the rows drawn answer an older query than the newest (keys that act on rows wait).
  bool waitsForRows() const { return !rowsCurrent_; }
  bool showsEmptyClipboard() const;
  // The prompt of the armed row ("Press ⏎ again to …"), if one is armed.
  std::optional<std::string> confirmationPrompt() const;
  // The title of an action row in the open sublist (it depends on the item or the clip).
  std::string title(const Row& row) const;
  // The actions of the open actions or clip-actions sublist, unfiltered.
  Rows allActions() const;
  // The indexed actions of an app's entry, each named by the action alone ("New Window").
  std::vector<Item> appActions(const Item& app) const;

  // Entry points, from the panel and the shell.
  void prepareToShow(Mode mode);
  void reset();
  void switchMode(Mode mode);
  void textDidChange(std::string text, std::optional<double> eventTime = std::nullopt);
  bool perform(PanelKey key);
  bool runAction(size_t number);
  // A key of the panel's own (the preview's) that acts on the selected row: true when it waits
  // its turn behind keys typed before it and will run then; false when nothing waits and the
  // caller acts at once.
  bool waitsInLine(const std::function<void()>& key);
  void activate(size_t position);
  // The user selected a row in the table (a click).
  void userSelected(size_t row);
  void clipboardChanged();
  void runningAppsChanged(bool membership);
  // The icon store has new images: the visible rows and the stage are drawn again.
  void iconsChanged();
  void pasteNext(double pressedAt);

  // Actions and sublists.
  void enter(Sublist sublist);
  void goBack();
  void toggleActions();
  void perform(Action action, const Item& target);
  void perform(ClipAction action, const Clip& target);
  void deliver(const Clip& clip, ClipDelivery delivery);
  void failed(const std::string& title, const std::optional<std::string>& path,
              const std::string& reason) const;
  // The app that opens a link clip: its entry and name, once looked up; none for a clip whose
  // text is no URL.
  struct LinkApp {
    std::optional<std::string> app;
    std::optional<std::string> name;
    bool operator==(const LinkApp&) const = default;
  };
  std::optional<LinkApp> linkApp(const Clip& clip);

  void refresh(std::optional<Keystroke> keystroke = std::nullopt);

 private:
  struct Saved {
    std::optional<Sublist> sublist;
    std::string query;
    Rows rows;
    size_t selection = 0;
  };

  LauncherLists::CommandRules commandRules() const;
  SublistContext sublistContext() const;
  void showEmptyState(std::optional<Keystroke> keystroke);
  void showIndexRows();
  void launcherSearch(const std::string& query, std::optional<Keystroke> keystroke);
  void searchFinished(int64_t generation, std::vector<SearchIndex::Scored> scored,
                      FileSearchEngine::Hits hits, std::optional<Keystroke> keystroke);
  size_t keptSelection(const Rows& rows, size_t selection);
  void update(Rows rows, size_t selecting, std::optional<Keystroke> keystroke);
  void show(Rows rows, size_t selecting, bool byUser);
  void select(size_t row, bool byUser);
  void disarm();
  void arm();
  void open(const Item& item);
  // ⏎ on an item row (in an open-with list, the app to open the file with) and on a clip row.
  void activate(const Item& item);
  void activate(const Clip& clip);
  // Lists the apps that open `path` once they are known, in place of the item's actions.
  void listOpenWith(const Item& item, const std::string& path);
  void dismiss();
  void applyLook();
  void setText(std::string text, size_t caret);
  void recomputeBoosts();
  void loadIcons();
  void applyAlias();
  void keepSelectedClip();
  // Queues `key` behind the keys already waiting, or while the rows are stale and the key acts
  // on them (`onRows`); false: nothing waits, run it now.
  bool queue(std::function<void()> key, bool onRows);
  // Runs the waiting keys in order while the rows drawn answer the newest query.
  void runQueued();
  // Nothing came for the newest query in time: the waiting keys are dropped.
  void queueTimedOut();
  void textDidChangeNow(std::string text, std::optional<double> eventTime);
  // Where the row selected in the rows drawn now is in `rows`; `fallback` when it isn't there
  // or the selection isn't to be kept (the user hasn't moved, the index didn't change).
  size_t selectionIn(const Rows& rows, size_t fallback) const;
  bool performNow(PanelKey key);
  bool runActionNow(size_t number);
  bool isRunning(const Item& item) const;
  // The paste target taken when the panel opened (the one active now when it wasn't taken).
  PasteTarget pasteTargetFromPanel() const;

  LauncherServices services_;
  LauncherRequests requests_;
  LauncherSettings settings_;
  HistoryStore& history_;
  RunningApps* running_;
  FileSearchEngine& files_;
  DesktopActions& desktop_;
  LauncherView* view_;

  SearchIndex index_;
  ClipboardHistory* clipboard_ = nullptr;
  std::string openSymbol_ = "Enter";
  std::string saveFolder_;  // the settings' or the XDG Downloads folder
  uint32_t userTime_ = 0;
  ClipImages clipImages_;

  Mode mode_ = Mode::launcher;
  std::string text_;
  std::string placeholder_ = "Search";
  Rows rows_;
  Rows tableRows_;
  size_t selection_ = 0;
  std::optional<Sublist> sublist_;
  std::vector<Saved> backStack_;
  int64_t searchGeneration_ = 0;
  std::optional<int64_t> pendingSearch_;
  std::vector<int32_t> boosts_;
  struct KeptClip {
    int64_t id = 0;
    size_t position = 0;
  };
  std::optional<KeptClip> keepSelection_;
  std::map<std::string, LinkApp> linkApps_;
  std::optional<PasteRun> pasteRun_;

  // Keys waiting their turn. Typed text waits as the field's whole text, with the text it was
  // typed after and the field it was typed in (`context_`), so that when the field changed
  // meanwhile (a sublist, another mode) only what was typed after goes into the new one, and
  // when the keys before it came back to a field holding the text it was typed after (into a
  // sublist and out again), the typed text replaces it whole.
  struct Queued {
    std::function<void()> key;
    std::optional<std::string> typed;
    std::string typedAfter;
    uint64_t context = 0;
  };
  std::deque<Queued> queue_;
  uint64_t context_ = 0;
  QTimer queueTimer_;
  // The newest query's index hits, until they are drawn (merged into rows only if the file
  // hits don't come first).
  std::optional<std::vector<SearchIndex::Scored>> indexHits_;
  QTimer indexRowsTimer_;
  // The window a paste from the panel goes to, taken when the panel opened.
  std::optional<PasteTarget> openedTarget_;
  bool isExpanded_ = false;
  bool isSelecting_ = false;
  bool confirming_ = false;
  // Whether `rows_` answer the newest query (always, but for a launcher search whose first
  // rows haven't come yet).
  bool rowsCurrent_ = true;
  // Whether the user moved the selection in the newest query's rows; whether the next refresh
  // comes from a new application index; whether the newest search keeps the selected item
  // where it can (for either reason).
  bool userMoved_ = false;
  bool indexChanged_ = false;
  bool keepsSelected_ = false;
  bool runningQueue_ = false;

  std::shared_ptr<LauncherController*> self_;
};

}  // namespace vesk
