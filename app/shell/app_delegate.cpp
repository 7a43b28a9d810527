#include "app/shell/app_delegate.h"

#include <QApplication>
#include <QCoreApplication>
#include <unordered_set>
#include <utility>

#include "app/apps/app_resolver.h"
#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/clipboard/clip_deliverer.h"
#include "app/clipboard/clipboard_history.h"
#include "app/clipboard/clipboard_recorder.h"
#include "app/config/config_store.h"
#include "app/config/global_hotkeys.h"
#include "app/config/hot_key_center.h"
#include "app/config/hot_key_notice.h"
#include "app/config/portal_hotkeys.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/icon_store.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_panel.h"
#include "app/services/updater.h"
#include "app/shell/app_indexer.h"
#include "app/shell/log_panel.h"
#include "core/base/wall_clock.h"
#include "core/clipboard/clipboard_store.h"
#include "core/files/file_search_engine.h"
#include "platform/app_catalog.h"
#include "platform/file_manager.h"
#include "platform/key_layout.h"
#include "platform/key_synthesizer.h"
#include "platform/notifier.h"
#include "platform/session_events.h"
#include "platform/workspace.h"

namespace vesk {

namespace {

// File-type icons kept between presentations.
constexpr size_t kTypeIconsKept = 256;

}  // namespace

AppDelegate::AppDelegate(AppServices services, AppPaths paths)
    : services_(std::move(services)),
      paths_(std::move(paths)),
      self_(std::make_shared<AppDelegate*>(this)) {
  configStore_ = std::make_unique<ConfigStore>(paths_.configFile, services_.catalog);
  history_ = std::make_unique<HistoryStore>(paths_.historyFile);
  if (services_.hotKeys && services_.keyLayout) {
    hotKeyCenter_ = std::make_unique<HotKeyCenter>(*services_.hotKeys, *services_.keyLayout);
    hotkeys_ = std::make_unique<GlobalHotkeys>(*hotKeyCenter_, *services_.keyLayout,
                                               services_.desktopBindings.get());
  }
  if (services_.globalShortcuts) {
    portalHotkeys_ =
        std::make_unique<PortalHotkeys>(*services_.globalShortcuts, [this] { publishProblems(); });
  }
  clipboardStore_ = std::make_shared<ClipboardStore>(
      paths_.clipboardFolder, services_.imageCodec, [](std::string_view line) {
        Log::app.error("%.*s", static_cast<int>(line.size()), line.data());
      });
  clipboard_ = std::make_unique<ClipboardHistory>(clipboardStore_);
  if (services_.pasteboardWriter && services_.keySynthesizer && services_.keyLayout) {
    auto paster = std::make_shared<Paster>(services_.pasteboardWriter, services_.keySynthesizer,
                                           services_.keyLayout);
    deliverer_ = std::make_unique<ClipDeliverer>(clipboardStore_, paster, *clipboard_);
  }
  indexer_ =
      std::make_unique<AppIndexer>(paths_.applicationRoots, services_.catalog,
                                   [this](SearchIndex index) { installIndex(std::move(index)); });
  indexer_->onChangesJudged = [this] {
    if (onAppChangesJudged) {
      onAppChangesJudged();
    }
  };
}

AppDelegate::~AppDelegate() {
  *self_ = nullptr;
  indexer_.reset();
  if (icons_) {
    icons_->onChange = nullptr;
  }
  if (launcher_) {
    launcher_->icons = nullptr;
    launcher_->setView(nullptr);
    launcher_->setClipboard(nullptr);
  }
  if (runningApps_) {
    runningApps_->onChange = nullptr;
  }
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
  startLauncher();
  connectUpdater();
  connectDesktop();

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
    clipboard_->load([weak] {
      if (const auto self = weak.lock(); self && *self != nullptr) {
        (*self)->publishClipboardNotices();
      }
    });
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

  indexer_->rebuild();
  indexer_->watch();
  Log::app.info("Vesk is running");
}

bool AppDelegate::applicationShouldHandleReopen() {
  if (window_ && window_->isVisible()) {
    return false;  // already shown: a second start never closes it
  }
  present(Mode::launcher, Log::uptime());
  return false;
}

void AppDelegate::toggle(Mode mode) {
  present(mode, Log::uptime());
}

void AppDelegate::pasteNextNow() {
  pasteNext(Log::uptime());
}

void AppDelegate::applicationWillTerminate() {
  history_->flush();
  if (updater_) {
    updater_->applicationWillTerminate();  // installs a downloaded update
  }
}

// Self-update: a check when the panel closes (when one is due), the waiting update in the
// launcher's "Update Vesk" row, every outcome as a notification.
void AppDelegate::connectUpdater() {
  updater_ = std::make_unique<Updater>(
      services_.updates,
      Updater::Options{VESK_VERSION, VESK_BUILD_VERSION, paths_.pendingUpdateFile});
  std::weak_ptr<AppDelegate*> weak = self_;
  const auto alive = [weak]() -> AppDelegate* {
    const auto self = weak.lock();
    return self ? *self : nullptr;
  };
  if (window_) {
    window_->onDismiss = [alive] {
      Log::app.debug("The panel closed");
      postToMain([alive] {
        if (AppDelegate* self = alive()) {
          self->updater_->checkIfDue(secondsSince1970());
        }
      });
    };
  }
  updater_->onReady = [alive](const std::optional<std::string>& version) {
    if (AppDelegate* self = alive()) {
      self->launcher_->readyUpdate = version;
    }
  };
  updater_->onResult = [alive](const UpdateResult& result) {
    if (AppDelegate* self = alive()) {
      self->notifier_->update(result.title(), result.body());
    }
  };
  updater_->reportLastUpdate();
  launcher_->checksForUpdates = updater_->isEnabled();
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

// The launcher controller over the history, the running apps and the file engine, with the
// shell's callbacks; its panel, for now, logs what it would show.
void AppDelegate::startLauncher() {
  notifier_ = services_.notifier ? services_.notifier : std::make_shared<LogNotifier>();
  desktop_ = std::make_unique<DesktopActions>(DesktopServices{
      services_.catalog, services_.fileManager, services_.pasteboardWriter, services_.workspace});
  launcher_ =
      std::make_unique<LauncherController>(*history_, runningApps_.get(), *files_, *desktop_);
  if (services_.iconSources) {
    icons_ = std::make_unique<IconStore>(services_.iconSources, kTypeIconsKept);
    icons_->onChange = [this] { launcher_->iconsChanged(); };
    launcher_->icons = icons_.get();
  }
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    window_ = std::make_unique<LauncherPanel>(*launcher_, *history_, runningApps_.get(),
                                              services_.windowFocus.get());
    window_->configFile = paths_.configFile;
  } else {
    panel_ = std::make_unique<LogPanel>(*launcher_);
    launcher_->setView(panel_.get());
  }
  launcher_->notifier = notifier_.get();
  launcher_->deliverer = deliverer_.get();
  launcher_->canPaste = canPaste_;
  launcher_->hiddenCommands = hiddenCommands_;
  if (services_.workspace) {
    launcher_->pasteTarget = [workspace = services_.workspace, catalog = services_.catalog] {
      return PasteTarget::active(*workspace, *catalog);
    };
  }
  std::weak_ptr<AppDelegate*> weak = self_;
  const auto with = [weak](auto work) {
    return [weak, work](auto&&... arguments) {
      if (const auto self = weak.lock(); self && *self != nullptr) {
        work(**self, arguments...);
      }
    };
  };
  launcher_->runCommand = with([](AppDelegate& self, Command command) { self.run(command); });
  launcher_->resolveNotice = with([](AppDelegate& self, ClipboardNotice notice) {
    if (notice == ClipboardNotice::paused) {
      self.setRecordingPaused(false, true);
    }
    // The settings pages of the other notices do not exist on X11: nothing to open.
  });
  launcher_->onShowClipboard = with([](AppDelegate& self) { self.checkAccessibility(); });
  launcher_->askForAccessibility = with([](AppDelegate& self) { self.askForAccessibility(); });
  launcher_->onCanPasteChange = with([](AppDelegate& self, bool canPaste) {
    self.canPaste_ = canPaste;
    self.publishClipboardNotices();
  });
  launcher_->setClipboard(clipboard_.get());
  if (runningApps_) {
    runningApps_->onChange = with(
        [](AppDelegate& self, bool membership) { self.launcher_->runningAppsChanged(membership); });
  }
}

void AppDelegate::askForAccessibility() {
  if (askedForAccessibility_ || !services_.keySynthesizer) {
    return;
  }
  askedForAccessibility_ = true;
  runInBackground(QoS::userInitiated, [keys = services_.keySynthesizer] { keys->requestTrust(); });
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

int64_t AppDelegate::indexGeneration() const {
  return indexer_->generation();
}

void AppDelegate::installIndex(SearchIndex index) {
  index_ = std::move(index);
  if (!configStore_->config().clipboardAlias.empty()) {
    const std::vector<std::string> alias = {configStore_->config().clipboardAlias};
    index_.setAliases(alias, Command::clipboard);
  }
  if (launcher_) {
    launcher_->setIndex(index_);
  }
  if (onIndex) {
    onIndex(index_);
  }
  resolveApps();
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
        if (delegate.launcher_) {
          delegate.launcher_->openWithApps = delegate.openWithApps_;
          delegate.launcher_->setOpenLinks(delegate.openLinks_);
          delegate.launcher_->terminalApp = delegate.terminalApp_;
        }
        delegate.appProblems_ = std::move(resolved.problems);
        delegate.publishProblems();
      });
}

void AppDelegate::apply(const std::optional<Config>& previous) {
  const Config& config = configStore_->config();
  const std::vector<GlobalHotkeys::Entry> hotkeys = {
      {"launcher", config.launcherHotkey, [this](double at) { present(Mode::launcher, at); }},
      {"clipboard", config.clipboardHotkey, [this](double at) { present(Mode::clipboard, at); }},
      {"paste_next", config.pasteNextHotkey, [this](double at) { pasteNext(at); }},
  };
  if (portalHotkeys_) {
    portalHotkeys_->apply(hotkeys);
  }
  if (hotkeys_) {
    hotkeys_->apply(hotkeys);
    if (!previous) {
      postStartNotice();
    }
  }
  if (launcher_) {
    const auto clipboardKey = hotkeys_ ? hotkeys_->current("clipboard") : std::nullopt;
    launcher_->clipboardHotkey =
        clipboardKey ? std::optional<std::string>(clipboardKey->symbols()) : std::nullopt;
    launcher_->setKeys(config.keys);
    launcher_->setClipboardAlias(config.clipboardAlias);
    launcher_->emptyState = config.emptyState;
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
  publishProblems();
  resolveApps();
  FileRules rules = config.fileRules(paths_.home);
  if (!fileRules_ || !(*fileRules_ == rules)) {
    fileRules_ = rules;
    // The line tells when searches cover the whole tree (benchmarks wait for it).
    runInBackground(
        QoS::utility,
        [rebuilt = files_->rebuild(std::move(rules))]() mutable {
          rebuilt.wait();
          return true;
        },
        [](bool) { Log::app.debug("The file index is up to date"); });
  }
  if (!previous || previous->launchAtLogin != config.launchAtLogin) {
    LoginItem(paths_.login).update(config.launchAtLogin);
  }
  hasAppliedConfig_ = true;
  Log::app.info("Applied config.toml");
}

// At start, the one notification about the hot keys: which open Vesk after the config file was
// written, which couldn't be set up at any start.
void AppDelegate::postStartNotice() {
  const auto notice =
      HotKeyNotice::atStart(configStore_->createdFile(), *hotkeys_, configStore_->file());
  if (!notice || !notifier_) {
    return;
  }
  std::weak_ptr<AppDelegate*> weak = self_;
  const bool ready = notice->kind == HotKeyNotice::Kind::ready;
  notifier_->notice(notice->title, notice->body, ready ? "Open Vesk" : "Open config.toml",
                    [weak, ready] {
                      const auto self = weak.lock();
                      if (!self || *self == nullptr) {
                        return;
                      }
                      if (ready) {
                        (*self)->applicationShouldHandleReopen();
                      } else {
                        (*self)->configStore_->open();
                      }
                    });
}

// A hot key: the one of the mode shown dismisses the panel, the other one switches to its mode,
// and either presents the panel when it is hidden.
void AppDelegate::present(Mode mode, double pressedAt) {
  const double handled = Log::uptime();
  const auto target = mode == Mode::launcher ? LauncherController::Mode::launcher
                                             : LauncherController::Mode::clipboard;
  if (window_) {
    if (!window_->isVisible()) {
      Log::app.info(mode == Mode::launcher ? "Presenting the launcher"
                                           : "Presenting the clipboard history");
      window_->present(target, pressedAt);
      if (onPresent) {
        onPresent(mode);
      }
    } else if (launcher_->mode() == target) {
      window_->dismiss();
    } else {
      launcher_->switchMode(target);
    }
    return;
  }
  if (!launcher_ || !panel_) {
    return;
  }
  if (panel_->isVisible()) {
    if (launcher_->mode() == target) {
      panel_->dismiss();
    } else {
      launcher_->switchMode(target);
    }
    return;
  }
  panel_->present(target);
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
  if (launcher_) {
    launcher_->pasteNext(pressedAt);
  }
}

void AppDelegate::run(Command command) {
  switch (command) {
    case Command::clipboard:
      if (launcher_) {
        launcher_->switchMode(LauncherController::Mode::clipboard);
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
      if (updater_) {
        updater_->installNow();
      }
      break;
    case Command::checkForUpdates:
      if (updater_) {
        updater_->checkForUpdates(secondsSince1970());
      }
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
          if ((*self)->notifier_) {
            (*self)->notifier_->failed("Couldn't clear the clipboard history", std::nullopt,
                                       cleared.failure().description);
          }
          return;
        }
        (*self)->clipboard_->remove(cleared.value());
      });
}

void AppDelegate::checkAccessibility() {
  if (!services_.keySynthesizer) {
    canPaste_ = false;
    if (launcher_) {
      launcher_->canPaste = false;
    }
    publishClipboardNotices();
    return;
  }
  std::weak_ptr<AppDelegate*> weak = self_;
  runInBackground(
      QoS::userInitiated, [keys = services_.keySynthesizer] { return keys->isTrusted(); },
      [weak](bool trusted) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        AppDelegate& delegate = **self;
        const bool changed = delegate.canPaste_ != trusted;
        delegate.canPaste_ = trusted;
        if (delegate.launcher_) {
          delegate.launcher_->canPaste = trusted;
          if (changed && delegate.launcher_->mode() == LauncherController::Mode::clipboard) {
            delegate.launcher_->refresh();
          }
        }
        delegate.publishClipboardNotices();
      });
}

void AppDelegate::publishProblems() {
  std::vector<std::string> hotkeyProblems =
      hotkeys_ ? hotkeys_->problems() : std::vector<std::string>{};
  if (portalHotkeys_) {
    const std::vector<std::string> desktop = portalHotkeys_->problems();
    hotkeyProblems.insert(hotkeyProblems.end(), desktop.begin(), desktop.end());
  }
  status_.publishProblems(platformProblems_, configStore_->problems(), hotkeyProblems,
                          appProblems_);
  if (launcher_) {
    launcher_->problems = status_.problems();
  }
}

void AppDelegate::publishClipboardNotices() {
  status_.publishClipboardNotices(canReadClipboard_, canPaste_, isRecordingPaused_,
                                  clipboard_ && clipboard_->loadFailure().has_value());
  if (launcher_) {
    launcher_->setClipboardNotices(status_.clipboardNotices());
  }
}

}  // namespace vesk
