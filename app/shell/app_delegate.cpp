#include "app/shell/app_delegate.h"

#include <QApplication>
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <unordered_set>
#include <utility>

#include "app/apps/app_resolver.h"
#include "app/apps/app_scanner.h"
#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/clipboard/clip_deliverer.h"
#include "app/clipboard/clipboard_history.h"
#include "app/clipboard/clipboard_recorder.h"
#include "app/config/config_store.h"
#include "app/config/global_hotkeys.h"
#include "app/config/hot_key_center.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_panel.h"
#include "app/shell/log.h"
#include "app/shell/run_in_background.h"
#include "core/clipboard/clipboard_store.h"
#include "core/files/directory_watcher.h"
#include "core/files/file_search_engine.h"
#include "platform/app_catalog.h"
#include "platform/key_layout.h"
#include "platform/key_synthesizer.h"
#include "platform/session_events.h"
#include "platform/window_focus.h"
#include "platform/workspace.h"

namespace vesk {

namespace {

constexpr int kAppScanDepth = 3;
constexpr std::chrono::seconds kAppsWatchLatency{1};
// Vesk's own desktop entry is never listed: the launcher does not launch itself.
constexpr std::string_view kOwnEntry = "vesk.desktop";

}  // namespace

AppDelegate::AppDelegate(AppServices services, AppPaths paths)
    : services_(std::move(services)),
      paths_(std::move(paths)),
      self_(std::make_shared<AppDelegate*>(this)),
      appsEvents_("launcher.apps.watch") {
  configStore_ = std::make_unique<ConfigStore>(paths_.configFile, *services_.catalog);
  history_ = std::make_unique<HistoryStore>(paths_.historyFile);
  if (services_.hotKeys && services_.keyLayout) {
    hotKeyCenter_ = std::make_unique<HotKeyCenter>(*services_.hotKeys, *services_.keyLayout);
    hotkeys_ = std::make_unique<GlobalHotkeys>(*hotKeyCenter_, *services_.keyLayout);
  }
  clipboardStore_ = std::make_shared<ClipboardStore>(paths_.clipboardFolder, services_.imageCodec);
  clipboard_ = std::make_unique<ClipboardHistory>(clipboardStore_);
  if (services_.pasteboardWriter && services_.keySynthesizer && services_.keyLayout) {
    auto paster = std::make_shared<Paster>(*services_.pasteboardWriter, *services_.keySynthesizer,
                                           *services_.keyLayout);
    deliverer_ = std::make_unique<ClipDeliverer>(clipboardStore_, paster, *clipboard_);
  }
}

AppDelegate::~AppDelegate() {
  *self_ = nullptr;
  panel_.reset();
  launcher_.reset();
  appsWatcher_.reset();
  if (services_.workspace) {
    services_.workspace->setObservers({});
  }
  if (services_.sessionEvents) {
    services_.sessionEvents->setHandler({});
  }
}

void AppDelegate::addPlatformProblem(std::string problem) {
  Log::app.error("%s", problem.c_str());
  platformProblems_.push_back(std::move(problem));
  publishProblems();
}

// Start-up, in order: running applications, the file engine, accessibility, the launch history
// then the configuration, the clipboard history and its recorder, the application index and
// the watcher of the application folders.
void AppDelegate::applicationDidFinishLaunching() {
  if (services_.workspace) {
    runningApps_ = std::make_unique<RunningApps>(*services_.workspace);
  }
  std::weak_ptr<AppDelegate*> weak = self_;
  files_ = std::make_unique<FileSearchEngine>(
      [weak](const std::vector<std::string>& removed) {
        std::unordered_set<std::string> paths(removed.begin(), removed.end());
        postToMain([weak, paths = std::move(paths)] {
          if (const auto self = weak.lock(); self && *self != nullptr) {
            (*self)->history_->forget(paths);
          }
        });
      },
      canListFolder,
      [](std::string_view line) {
        Log::app.error("%.*s", static_cast<int>(line.size()), line.data());
      });
  connectDesktop();
  createPanel();

  checkAccessibility();

  configStore_->onChange = [this](const Config& previous) {
    apply(hasAppliedConfig_ ? std::optional<Config>(previous) : std::nullopt);
  };
  history_->load([weak] {
    if (const auto self = weak.lock(); self && *self != nullptr) {
      (*self)->configStore_->start();
    }
  });

  if (services_.pasteboard) {
    clipboard_->load();
    runInBackground(
        QoS::userInitiated, [store = clipboardStore_] { return store->isPaused(); },
        [weak](Result<bool> paused) {
          const auto self = weak.lock();
          if (!self || *self == nullptr) {
            return;
          }
          if (!paused) {
            Log::app.error("%s", paused.failure().description.c_str());
          } else if (paused.value()) {
            (*self)->setRecordingPaused(true, false);
          }
          (*self)->startRecorder();
        });
  } else {
    canReadClipboard_ = false;
    publishClipboardNotices();
  }

  rebuildIndex(++indexGeneration_);
  watchApplications();
  Log::app.info("Vesk is running");
}

bool AppDelegate::applicationShouldHandleReopen() {
  present(Mode::launcher, Log::uptime());
  return false;
}

void AppDelegate::applicationWillTerminate() {
  history_->flush();
}

void AppDelegate::connectDesktop() {
  if (services_.workspace) {
    Workspace::Observers observers;
    observers.didActivate = [this](const std::optional<RunningApp>& app) {
      if (recorder_) {
        recorder_->setFrontmostApp(app ? std::optional<std::string>(app->bundleIdentifier)
                                       : std::nullopt);
      }
      if (runningApps_) {
        runningApps_->activated(app);
      }
    };
    observers.didLaunch = [this](const RunningApp&) {
      if (runningApps_) {
        runningApps_->changed();
      }
    };
    observers.didTerminate = observers.didLaunch;
    services_.workspace->setObservers(std::move(observers));
  }
  if (services_.sessionEvents) {
    services_.sessionEvents->setHandler([this](SessionEvents::Event event) {
      if (!recorder_) {
        return;
      }
      const bool away = event == SessionEvents::Event::screensDidSleep ||
                        event == SessionEvents::Event::sessionDidResignActive;
      recorder_->setAsleep(away);
    });
  }
}

// The controller over the history, the running apps and the file engine, and the panel that
// shows it. Every callback holds the application object weakly.
void AppDelegate::createPanel() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    return;  // no widgets in this process
  }
  desktop_ = std::make_unique<DesktopActions>(DesktopServices{
      services_.catalog, services_.fileManager, services_.pasteboardWriter, services_.workspace});
  launcher_ =
      std::make_unique<LauncherController>(*history_, runningApps_.get(), *files_, *desktop_);
  std::weak_ptr<AppDelegate*> weak = self_;
  const auto with = [weak](auto&& action) {
    return [weak, action](auto&&... arguments) {
      if (const auto self = weak.lock(); self && *self != nullptr) {
        action(**self, arguments...);
      }
    };
  };
  desktop_->failed = [weak](const std::string& title, const std::optional<std::string>& path,
                            const std::string& reason) {
    if (const auto self = weak.lock(); self && *self != nullptr && (*self)->launcher_) {
      (*self)->launcher_->failed(title, path, reason);
    }
  };
  launcher_->runCommand = with([](AppDelegate& self, Command command) { self.run(command); });
  launcher_->resolveNotice = with([](AppDelegate& self, ClipboardNotice notice) {
    if (notice == ClipboardNotice::paused) {
      self.setRecordingPaused(false, true);
    }
  });
  launcher_->onShowClipboard = with([](AppDelegate& self) { self.checkAccessibility(); });
  launcher_->askForAccessibility = with([](AppDelegate& self) {
    if (!self.askedForAccessibility_ && self.services_.keySynthesizer) {
      self.askedForAccessibility_ = true;
      runInBackground(QoS::userInitiated,
                      [keys = self.services_.keySynthesizer] { keys->requestTrust(); });
    }
  });
  launcher_->deliverer = deliverer_.get();
  launcher_->pasteTarget = [weak]() -> WindowId {
    const auto self = weak.lock();
    return self && *self != nullptr ? (*self)->pasteTarget_ : 0;
  };
  launcher_->hiddenCommands = hiddenCommands_;
  launcher_->canPaste = canPaste_;
  launcher_->setClipboard(clipboard_.get());
  if (runningApps_) {
    runningApps_->onChange = with(
        [](AppDelegate& self, bool membership) { self.launcher_->runningAppsChanged(membership); });
  }
  panel_ = std::make_unique<LauncherPanel>(*launcher_, *history_, runningApps_.get(),
                                           services_.windowFocus.get());
  panel_->configFile = paths_.configFile;
  panel_->onDismiss = with([](AppDelegate& self) { self.dismissed(); });
}

void AppDelegate::dismissed() {
  Log::app.debug("The panel closed");
}

void AppDelegate::startRecorder() {
  if (recorder_ || !services_.pasteboard) {
    return;
  }
  recorder_ = std::make_unique<ClipboardRecorder>(services_.pasteboard, clipboardStore_,
                                                  services_.imageCodec);
  recorder_->onRecord = [this](const Clip& clip) { clipboard_->recorded(clip); };
  recorder_->onAccessChange = [this](bool canRead) {
    canReadClipboard_ = canRead;
    publishClipboardNotices();
  };
  if (services_.workspace) {
    if (const auto front = services_.workspace->frontmostApplication()) {
      recorder_->setFrontmostApp(front->bundleIdentifier);
    }
  }
  recorder_->setPaused(isRecordingPaused_);
  recorder_->start(true);
  Log::app.info("Watching the clipboard%s", isRecordingPaused_ ? " (recording is paused)" : "");
}

void AppDelegate::watchApplications() {
  std::vector<std::string> roots;
  for (const std::string& root : paths_.applicationRoots) {
    std::error_code error;
    if (std::filesystem::is_directory(root, error)) {
      roots.push_back(root);
    }
  }
  if (roots.empty()) {
    return;
  }
  std::weak_ptr<AppDelegate*> weak = self_;
  appsWatcher_ = DirectoryWatcher::create(
      roots, {}, true, std::chrono::duration_cast<std::chrono::milliseconds>(kAppsWatchLatency),
      appsEvents_,
      [weak](std::vector<DirectoryWatcher::Event> events) {
        const bool affects = std::any_of(events.begin(), events.end(), [](const auto& event) {
          return event.mustRescan() || AppScanner::affectsIndex(event.path);
        });
        if (!affects) {
          return;
        }
        postToMain([weak] {
          if (const auto self = weak.lock(); self && *self != nullptr) {
            (*self)->rebuildIndex(++(*self)->indexGeneration_);
          }
        });
      },
      DirectoryWatcher::Options{{}, [](std::string_view line) {
                                  Log::app.error("%.*s", static_cast<int>(line.size()),
                                                 line.data());
                                }});
  if (!appsWatcher_) {
    Log::app.error("Couldn't watch the application folders; new apps appear after a restart");
  }
}

void AppDelegate::rebuildIndex(int64_t generation) {
  std::weak_ptr<AppDelegate*> weak = self_;
  runInBackground(
      QoS::utility,
      [roots = paths_.applicationRoots, catalog = services_.catalog] {
        std::vector<Item> items = AppScanner::scan(roots, {}, kAppScanDepth, *catalog);
        std::erase_if(
            items, [](const Item& item) { return ItemPath::lastComponent(item.id) == kOwnEntry; });
        for (const Command command : kAllCommands) {
          items.push_back(Item::command(command));
        }
        return SearchIndex(std::move(items));
      },
      [weak, generation](SearchIndex index) {
        const auto self = weak.lock();
        if (!self || *self == nullptr || (*self)->indexGeneration_ != generation) {
          return;  // A newer rebuild started: only its index counts.
        }
        AppDelegate& delegate = **self;
        delegate.index_ = std::move(index);
        if (!delegate.configStore_->config().clipboardAlias.empty()) {
          const std::vector<std::string> alias = {delegate.configStore_->config().clipboardAlias};
          delegate.index_.setAliases(alias, Command::clipboard);
        }
        const auto apps =
            std::count_if(delegate.index_.items().begin(), delegate.index_.items().end(),
                          [](const Item& item) { return item.isApp(); });
        Log::app.info("Rebuilt the application index (generation %lld): %lld apps",
                      static_cast<long long>(generation), static_cast<long long>(apps));
        for (const Item& item : delegate.index_.items()) {
          if (item.isApp()) {
            Log::app.debug("Indexed app: %s (%s)", item.name.c_str(), item.id.c_str());
          }
        }
        if (delegate.launcher_) {
          delegate.launcher_->setIndex(delegate.index_);
        }
        if (delegate.onIndex) {
          delegate.onIndex(delegate.index_);
        }
        delegate.resolveApps();
      });
}

void AppDelegate::resolveApps() {
  if (index_.size() == 0) {
    return;
  }
  const Config config = configStore_->config();
  const int64_t generation = ++resolveGeneration_;
  std::weak_ptr<AppDelegate*> weak = self_;
  runInBackground(
      QoS::utility,
      [config, known = AppResolver::knownApps(index_), catalog = services_.catalog,
       home = paths_.home] {
        return AppResolver::resolveConfigured(config.openWith, config.openLinks, config.terminal,
                                              known, *catalog, home);
      },
      [weak, generation](AppResolver::Configured resolved) {
        const auto self = weak.lock();
        if (!self || *self == nullptr || (*self)->resolveGeneration_ != generation) {
          return;
        }
        AppDelegate& delegate = **self;
        delegate.openWithApps_ = std::move(resolved.openWith);
        delegate.openLinks_ = std::move(resolved.openLinks);
        delegate.terminalApp_ = std::move(resolved.terminal);
        delegate.appProblems_ = std::move(resolved.problems);
        if (delegate.launcher_) {
          delegate.launcher_->openWithApps = delegate.openWithApps_;
          delegate.launcher_->setOpenLinks(delegate.openLinks_);
          delegate.launcher_->terminalApp = delegate.terminalApp_;
        }
        delegate.publishProblems();
      });
}

void AppDelegate::apply(const std::optional<Config>& previous) {
  const Config& config = configStore_->config();
  if (hotkeys_) {
    hotkeys_->apply({
        {"launcher", config.launcherHotkey, [this](double at) { hotKey(Mode::launcher, at); }},
        {"clipboard", config.clipboardHotkey, [this](double at) { hotKey(Mode::clipboard, at); }},
        {"paste_next", config.pasteNextHotkey, [this](double at) { pasteNext(at); }},
    });
  }
  if (index_.size() > 0) {
    const std::vector<std::string> alias = config.clipboardAlias.empty()
                                               ? std::vector<std::string>{}
                                               : std::vector<std::string>{config.clipboardAlias};
    index_.setAliases(alias, Command::clipboard);
  }
  const ClipboardStore::Retention retention = config.clipboardRetention();
  if (!previous || previous->clipboardRetention() != retention || !clipboard_->retention()) {
    clipboard_->setRetention(retention);
  }
  if (launcher_) {
    const std::optional<Shortcut> clipboardKey =
        hotkeys_ ? hotkeys_->current("clipboard") : std::nullopt;
    launcher_->clipboardHotkey =
        clipboardKey ? std::optional<std::string>(clipboardKey->symbols()) : std::nullopt;
    launcher_->setKeys(config.keys);
    launcher_->setClipboardAlias(config.clipboardAlias);
    launcher_->emptyState = config.emptyState;
  }
  publishProblems();
  resolveApps();
  FileRules rules = config.fileRules(paths_.home);
  if (!fileRules_ || !(*fileRules_ == rules)) {
    fileRules_ = rules;
    (void)files_->rebuild(std::move(rules));
  }
  hasAppliedConfig_ = true;
  Log::app.info("Applied config.toml");
}

// A hot key opens its mode, closes the panel when that mode is already shown, and switches
// from the other mode.
void AppDelegate::hotKey(Mode mode, double pressedAt) {
  if (!panel_ || !panel_->isVisible()) {
    present(mode, pressedAt);
    return;
  }
  const auto wanted = mode == Mode::launcher ? LauncherController::Mode::launcher
                                             : LauncherController::Mode::clipboard;
  if (launcher_->mode() == wanted) {
    panel_->dismiss();
  } else {
    launcher_->switchMode(wanted);
  }
}

void AppDelegate::present(Mode mode, double pressedAt) {
  const double handled = Log::uptime();
  if (panel_) {
    if (panel_->isVisible()) {
      return;
    }
    pasteTarget_ = services_.workspace ? services_.workspace->activeWindow() : 0;
    if (onPresent) {
      onPresent(mode);
    }
    Log::app.info(mode == Mode::launcher ? "Presenting the launcher"
                                         : "Presenting the clipboard history");
    panel_->present(mode == Mode::launcher ? LauncherController::Mode::launcher
                                           : LauncherController::Mode::clipboard,
                    pressedAt);
    return;
  }
  if (mode == Mode::launcher) {
    Log::app.info("Presenting the launcher");
  } else {
    Log::app.info("Presenting the clipboard history (%zu clips)", clipboard_->index().count());
    checkAccessibility();
  }
  if (onPresent) {
    onPresent(mode);
  }
  Log::latency(mode == Mode::launcher ? "launcher" : "clipboard", pressedAt, handled,
               Log::uptime());
}

void AppDelegate::pasteNext(double pressedAt) {
  if (!deliverer_) {
    Log::app.error("Couldn't paste the clip: pasting isn't available on this display");
    return;
  }
  const int64_t copies = clipboard_->copies();
  if (!pasteRun_ || !pasteRun_->goesOn(copies, pressedAt)) {
    pasteRun_.emplace(clipboard_->index().clips(), copies, pressedAt);
  }
  const std::optional<Clip> clip = pasteRun_->next(clipboard_->index(), pressedAt);
  if (!clip) {
    Log::app.info("Nothing left to paste");
    return;
  }
  const WindowId target = services_.workspace ? services_.workspace->activeWindow() : 0;
  Log::app.debug("Pasting clip %lld into window 0x%x", static_cast<long long>(clip->id), target);
  std::weak_ptr<AppDelegate*> weak = self_;
  deliverer_->pasteNext(*clip, target, [weak](bool trusted, const std::optional<Failure>&) {
    const auto self = weak.lock();
    if (!self || *self == nullptr) {
      return;
    }
    AppDelegate& delegate = **self;
    const bool changed = delegate.canPaste_ != trusted;
    delegate.canPaste_ = trusted;
    if (!trusted && !delegate.askedForAccessibility_ && delegate.services_.keySynthesizer) {
      delegate.askedForAccessibility_ = true;
      runInBackground(QoS::userInitiated,
                      [keys = delegate.services_.keySynthesizer] { keys->requestTrust(); });
    }
    if (changed) {
      delegate.publishClipboardNotices();
    }
  });
}

void AppDelegate::run(Command command) {
  switch (command) {
    case Command::clipboard:
      if (launcher_) {
        launcher_->switchMode(LauncherController::Mode::clipboard);
      } else {
        present(Mode::clipboard, Log::uptime());
      }
      break;
    case Command::pauseClipboard:
      setRecordingPaused(true, true);
      break;
    case Command::resumeClipboard:
      setRecordingPaused(false, true);
      break;
    case Command::clearClipboard:
      clearClipboard();
      break;
    case Command::installUpdate:
    case Command::checkForUpdates:
      Log::app.info("Updates aren't available in this build of Vesk");
      break;
    case Command::openConfig:
      configStore_->open();
      break;
    case Command::reloadConfig:
      configStore_->reload();
      break;
    case Command::quit:
      QCoreApplication::quit();
      break;
  }
}

void AppDelegate::setRecordingPaused(bool paused, bool save) {
  isRecordingPaused_ = paused;
  if (recorder_) {
    recorder_->setPaused(paused);
  }
  hiddenCommands_ = {paused ? Command::pauseClipboard : Command::resumeClipboard};
  if (launcher_) {
    launcher_->hiddenCommands = hiddenCommands_;
  }
  publishClipboardNotices();
  if (save) {
    runInBackground(QoS::utility, [store = clipboardStore_, paused] {
      const Result<void> saved = store->setPaused(paused);
      if (!saved) {
        Log::app.error("%s", saved.failure().description.c_str());
      }
    });
  }
}

void AppDelegate::clearClipboard() {
  std::weak_ptr<AppDelegate*> weak = self_;
  runInBackground(
      QoS::userInitiated, [store = clipboardStore_] { return store->clear(); },
      [weak](Result<std::vector<int64_t>> cleared) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        if (!cleared) {
          Log::app.error("Couldn't clear the clipboard history: %s",
                         cleared.failure().description.c_str());
          return;
        }
        (*self)->clipboard_->remove(cleared.value());
      });
}

void AppDelegate::checkAccessibility() {
  if (!services_.keySynthesizer) {
    canPaste_ = false;
    publishClipboardNotices();
    return;
  }
  std::weak_ptr<AppDelegate*> weak = self_;
  runInBackground(
      QoS::userInitiated, [keys = services_.keySynthesizer] { return keys->isTrusted(); },
      [weak](bool trusted) {
        if (const auto self = weak.lock(); self && *self != nullptr) {
          (*self)->canPaste_ = trusted;
          (*self)->publishClipboardNotices();
        }
      });
}

void AppDelegate::publishProblems() {
  std::vector<std::string> problems = platformProblems_;
  const auto append = [&problems](const std::vector<std::string>& more) {
    problems.insert(problems.end(), more.begin(), more.end());
  };
  append(configStore_->problems());
  if (hotkeys_) {
    append(hotkeys_->problems());
  }
  append(appProblems_);
  // Configuration problems are logged by the store as it reads them; log the rest once.
  for (const std::string& problem : problems) {
    const bool isConfig =
        std::find(configStore_->problems().begin(), configStore_->problems().end(), problem) !=
        configStore_->problems().end();
    const bool known = std::find(problems_.begin(), problems_.end(), problem) != problems_.end();
    if (!isConfig && !known) {
      Log::app.error("Problem: %s", problem.c_str());
    }
  }
  problems_ = std::move(problems);
  if (launcher_) {
    launcher_->problems = problems_;
  }
}

void AppDelegate::publishClipboardNotices() {
  std::vector<ClipboardNotice> notices;
  if (!canReadClipboard_) {
    notices.push_back(ClipboardNotice::cannotRead);
  }
  if (!canPaste_) {
    notices.push_back(ClipboardNotice::needsAccessibility);
  }
  if (isRecordingPaused_) {
    notices.push_back(ClipboardNotice::paused);
  }
  if (notices != notices_) {
    for (const ClipboardNotice notice : notices) {
      Log::app.info("Clipboard notice: %s", std::string(title(notice)).c_str());
    }
  }
  notices_ = std::move(notices);
  if (launcher_) {
    launcher_->canPaste = canPaste_;
    launcher_->setClipboardNotices(notices_);
  }
}

}  // namespace vesk
