#pragma once
// The launcher controller over real parts: a search index of apps and commands, a file search
// engine over a temporary tree, a clipboard history over a store in a temporary folder and a
// launch history in a temporary file; fakes for the desktop services and for the panel.

#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/clipboard/clip_deliverer.h"
#include "app/clipboard/clipboard_history.h"
#include "app/clipboard/paster.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_view.h"
#include "core/clipboard/clip_reading.h"
#include "core/clipboard/clipboard_store.h"
#include "core/files/file_search_engine.h"
#include "tests/app/app_test_support.h"
#include "tests/fakes/fake_app_catalog.h"
#include "tests/fakes/fake_file_manager.h"
#include "tests/fakes/fake_key_layout.h"
#include "tests/fakes/fake_key_synthesizer.h"
#include "tests/fakes/fake_notifier.h"
#include "tests/fakes/fake_pasteboard_writer.h"
#include "tests/fakes/fake_workspace.h"

namespace vesk::test {

// The panel as the controller sees it: it keeps what it was told and, like the panel, resets
// the controller when it is dismissed.
class FakeLauncherView final : public LauncherView {
 public:
  void reloadRows() override { calls.push_back("reload"); }
  void reconfigureVisibleRows() override { ++reconfigures; }
  void insertRows(size_t from, size_t to) override {
    calls.push_back("insert " + std::to_string(from) + "-" + std::to_string(to));
  }
  void removeRows(size_t from, size_t to) override {
    calls.push_back("remove " + std::to_string(from) + "-" + std::to_string(to));
  }
  void selectRow(size_t row) override { selected = row; }
  void setSearchText(const std::string& value, size_t at) override {
    text = value;
    caret = at;
  }
  void setPlaceholder(const std::string& value) override { placeholder = value; }
  void setSymbol(const std::string& value) override { symbol = value; }
  void setExpanded(bool value, bool list) override {
    expanded = value;
    showsList = list;
  }
  void setClipboardLook(bool) override {}
  void refreshStage() override {}
  void setResultsVisible(bool) override {}
  void drawNow() override {}
  void dismiss() override {
    ++dismissals;
    visible = false;
    if (controller != nullptr) {
      controller->reset();
    }
  }
  bool isVisible() const override { return visible; }

  LauncherController* controller = nullptr;
  std::vector<std::string> calls;
  int reconfigures = 0;
  size_t selected = 0;
  std::string text;
  size_t caret = 0;
  std::string placeholder;
  std::string symbol;
  bool expanded = false;
  bool showsList = false;
  bool visible = true;
  int dismissals = 0;
};

// File searches that the test answers itself, in any order, with the engine's real hits.
class HeldSearches {
 public:
  explicit HeldSearches(LauncherServices::FileSearch& seam, FileSearchEngine& engine) {
    seam = [this, &engine](std::string query, int limit, int64_t g,
                           std::function<void(FileSearchEngine::Hits)> done) {
      held_.push_back({engine.search(std::move(query), limit, g), std::move(done)});
    };
  }
  ~HeldSearches() {
    for (size_t i = 0; i < held_.size(); ++i) {
      release(i);
    }
  }
  HeldSearches(const HeldSearches&) = delete;
  HeldSearches& operator=(const HeldSearches&) = delete;

  size_t count() const { return held_.size(); }
  void release(size_t i) {
    if (held_[i].done) {
      std::exchange(held_[i].done, nullptr)(held_[i].real.get());
    }
  }

 private:
  struct Held {
    std::future<FileSearchEngine::Hits> real;
    std::function<void(FileSearchEngine::Hits)> done;
  };
  std::deque<Held> held_;
};

class LauncherTest : public testing::Test {
 protected:
  using Mode = LauncherController::Mode;
  static constexpr std::chrono::milliseconds kHeldIndexHits = std::chrono::minutes(10);

  LauncherTest() {
    for (const char* file : {"Notes/notes.txt", "Notes/todo.txt", "Projects/report.md",
                             "Apps/editor.desktop", "Apps/mail.desktop"}) {
      writeFile(home(file), "text");
    }
    engine.rebuild(FileRules({folder / "home"}, IgnoreRules({}, folder / "home"), 6, {})).get();
    history.load();
    EXPECT_TRUE(pumpUntil([this] { return history.isLoaded(); }));
    clipboard.load();
    EXPECT_TRUE(pumpUntil([this] { return clipboard.isLoaded(); }));
    controller.setView(&view);
    view.controller = &controller;
    // A query's index hits are drawn with its file hits, however slow the machine, unless a
    // test says otherwise.
    change([](LauncherSettings& settings) { settings.indexHitsWait = kHeldIndexHits; });
    controller.setClipboard(&clipboard);
    controller.setIndex(SearchIndex(items()));
  }

  // Changes the controller's settings as the shell does.
  void change(const std::function<void(LauncherSettings&)>& edit) {
    LauncherSettings settings = controller.settings();
    edit(settings);
    controller.apply(std::move(settings));
  }

  LauncherServices services() {
    LauncherServices services{testExecutor(), history, engine, desktop};
    services.running = &running;
    services.notifier = &notifier;
    services.deliverer = &deliverer;
    services.now = [this] { return clock; };
    services.pasteTarget = [this] { return pasteTarget ? pasteTarget() : PasteTarget{}; };
    services.searchFiles = [this](std::string query, int limit, int64_t generation,
                                  std::function<void(FileSearchEngine::Hits)> done) {
      if (searchFiles) {
        searchFiles(std::move(query), limit, generation, std::move(done));
      } else {
        engine.search(std::move(query), limit, generation, std::move(done));
      }
    };
    return services;
  }

  LauncherRequests requests() {
    LauncherRequests requests;
    requests.runCommand = [this](Command command) {
      if (runCommand) {
        runCommand(command);
      }
    };
    return requests;
  }

  std::string home(const std::string& path = "") const {
    return folder / ("home" + (path.empty() ? "" : "/" + path));
  }

  std::vector<Item> items() const {
    std::vector<Item> items = {Item::app("Editor", home("Apps/editor.desktop")),
                               Item::app("Mail", home("Apps/mail.desktop"))};
    for (const Command command : kAllCommands) {
      items.push_back(Item::command(command));
    }
    return items;
  }

  // Types the text and waits for the list it asks for.
  void type(const std::string& text) {
    controller.textDidChange(text);
    ASSERT_TRUE(pumpUntil([this] { return !controller.isSearchPending(); }));
  }

  std::vector<std::string> titles() const {
    std::vector<std::string> titles;
    for (const Row& row : controller.rows()) {
      titles.push_back(controller.title(row));
    }
    return titles;
  }

  std::string selectedTitle() const {
    return controller.selection() < controller.rows().size()
               ? controller.title(controller.rows()[controller.selection()])
               : std::string();
  }

  Clip copy(const std::string& text) {
    clock += 1;
    const ClipContent content{
        Clip::Kind::text,
        text,
        {{{std::string(ClipReading::utf8Text), Bytes(text.begin(), text.end())}}},
        std::nullopt};
    const auto clip = store->add(content, std::nullopt, clock);
    EXPECT_TRUE(clip);
    clipboard.recorded(clip.value());
    return clip.value();
  }

  RunningApp runningApp(const std::string& name, const std::string& entry, WindowId window) {
    RunningApp app;
    app.bundleIdentifier = name;
    app.entryPath = entry;
    app.name = name;
    app.windows = {window};
    return app;
  }

  TempFolder folder;
  double clock = 1'700'000'000;
  FileSearchEngine engine;
  HistoryStore history{testExecutor(), folder / "history.json"};
  std::shared_ptr<ClipboardStore> store =
      std::make_shared<ClipboardStore>(folder / "clipboard", nullptr);
  ClipboardHistory clipboard{testExecutor(), store};
  std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
  RunningApps running{*workspace};
  std::shared_ptr<FakeAppCatalog> catalog = std::make_shared<FakeAppCatalog>();
  std::shared_ptr<FakeFileManager> fileManager = std::make_shared<FakeFileManager>();
  std::shared_ptr<FakePasteboardWriter> writer = std::make_shared<FakePasteboardWriter>();
  DesktopActions desktop{testExecutor(), DesktopServices{catalog, fileManager, writer, workspace}};
  FakeNotifier notifier;
  FakeLauncherView view;
  std::shared_ptr<FakeKeySynthesizer> keys = std::make_shared<FakeKeySynthesizer>();
  std::shared_ptr<FakeKeyLayout> layout = std::make_shared<FakeKeyLayout>();
  std::shared_ptr<Paster> paster = std::make_shared<Paster>(writer, keys, layout);
  ClipDeliverer deliverer{testExecutor(), store, paster, clipboard};
  // Seams a test may set: the file search (the engine's by default), the paste target, and
  // where the controller's commands go.
  LauncherServices::FileSearch searchFiles;
  std::function<PasteTarget()> pasteTarget;
  std::function<void(Command)> runCommand;
  LauncherController controller{services(), requests()};
};

}  // namespace vesk::test
