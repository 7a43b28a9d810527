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
#include "app/config/portal_hotkeys.h"
#include "app/launcher/desktop_actions.h"
#include "app/launcher/icon_store.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_panel.h"
#include "app/services/updater.h"
#include "app/shell/app_indexer.h"
#include "app/shell/log_notifier.h"
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

AppDelegate::AppDelegate(Executor& executor, AppServices services, AppPaths paths)
    : executor_(executor),
      services_(std::move(services)),
      paths_(std::move(paths)),
      self_(std::make_shared<AppDelegate*>(this)) {
  configStore_ = std::make_unique<ConfigStore>(executor_, paths_.configFile, services_.catalog);
  history_ = std::make_unique<HistoryStore>(executor_, paths_.historyFile);
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
  clipboard_ = std::make_unique<ClipboardHistory>(executor_, clipboardStore_);
  if (services_.pasteboardWriter && services_.keySynthesizer && services_.keyLayout) {
    auto paster = std::make_shared<Paster>(services_.pasteboardWriter, services_.keySynthesizer,
                                           services_.keyLayout);
    deliverer_ = std::make_unique<ClipDeliverer>(executor_, clipboardStore_, paster, *clipboard_);
  }
  indexer_ =
      std::make_unique<AppIndexer>(executor_, paths_.applicationRoots, services_.catalog,
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
      [&executor = executor_, weak](const std::vector<std::string>& removed) {
        std::unordered_set<std::string> paths(removed.begin(), removed.end());
        executor.deliver([weak, paths = std::move(paths)] {
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
        executor_, QoS::userInitiated, [store = clipboardStore_] { return store->isPaused(); },
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
      executor_, services_.updates,
      Updater::Options{VESK_VERSION, VESK_BUILD_VERSION, paths_.pendingUpdateFile});
  std::weak_ptr<AppDelegate*> weak = self_;
  const auto alive = [weak]() -> AppDelegate* {
    const auto self = weak.lock();
    return self ? *self : nullptr;
  };
  if (window_) {
    window_->onDismiss = [&executor = executor_, alive] {
      Log::app.debug("The panel closed");
      executor.deliver([alive] {
        if (AppDelegate* self = alive()) {
          self->updater_->checkIfDue(secondsSince1970());
        }
      });
    };
  }
  updater_->onReady = [alive](const std::optional<std::string>& version) {
    if (AppDelegate* self = alive()) {
      self->changeLauncher([&](LauncherSettings& settings) { settings.readyUpdate = version; });
    }
  };
  updater_->onResult = [alive](const UpdateResult& result) {
    if (AppDelegate* self = alive()) {
      self->notifier_->update(result.title(), result.body());
    }
  };
  updater_->reportLastUpdate();
  changeLauncher(
      [&](LauncherSettings& settings) { settings.checksForUpdates = updater_->isEnabled(); });
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
// shell's requests, and its panel: a window in a widget application, else the log panel.
void AppDelegate::startLauncher() {
  notifier_ = services_.notifier ? services_.notifier : std::make_shared<LogNotifier>();
  desktop_ = std::make_unique<DesktopActions>(
      executor_, DesktopServices{services_.catalog, services_.fileManager,
                                 services_.pasteboardWriter, services_.workspace});
  if (services_.iconSources) {
    icons_ = std::make_unique<IconStore>(executor_, services_.iconSources, kTypeIconsKept);
  }
  LauncherServices launcherServices{executor_, *history_, *files_, *desktop_};
  launcherServices.running = runningApps_.get();
  launcherServices.notifier = notifier_.get();
  launcherServices.icons = icons_.get();
  launcherServices.deliverer = deliverer_.get();
  if (services_.workspace) {
    launcherServices.pasteTarget = [workspace = services_.workspace, catalog = services_.catalog] {
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
  LauncherRequests requests;
  requests.runCommand = with([](AppDelegate& self, Command command) { self.run(command); });
  requests.resolveNotice = with([](AppDelegate& self, ClipboardNotice notice) {
    if (notice == ClipboardNotice::paused) {
      self.setRecordingPaused(false, true);
    }
    // The settings pages of the other notices do not exist on X11: nothing to open.
  });
  requests.onShowClipboard = with([](AppDelegate& self) { self.checkAccessibility(); });
  requests.askForAccessibility = with([](AppDelegate& self) { self.askForAccessibility(); });
  requests.onCanPasteChange = with([](AppDelegate& self, bool) { self.publishClipboardNotices(); });
  launcher_ =
      std::make_unique<LauncherController>(std::move(launcherServices), std::move(requests));
  LauncherSettings settings;
  settings.canPaste = true;  // until the key synthesizer says otherwise
  launcher_->apply(std::move(settings));
  if (icons_) {
    icons_->onChange = [this] { launcher_->iconsChanged(); };
  }
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    window_ = std::make_unique<LauncherPanel>(executor_, *launcher_, *history_, runningApps_.get(),
                                              services_.windowFocus.get());
    window_->configFile = paths_.configFile;
  } else {
    panel_ = std::make_unique<LogPanel>(*launcher_);
    launcher_->setView(panel_.get());
  }
  launcher_->setClipboard(clipboard_.get());
  if (runningApps_) {
    runningApps_->onChange = with(
        [](AppDelegate& self, bool membership) { self.launcher_->runningAppsChanged(membership); });
  }
}

void AppDelegate::changeLauncher(const std::function<void(LauncherSettings&)>& change) {
  if (!launcher_) {
    return;
  }
  LauncherSettings settings = launcher_->settings();
  change(settings);
  launcher_->apply(std::move(settings));
}

void AppDelegate::startRecorder() {
  if (recorder_ || !services_.pasteboard) {
    return;
  }
  recorder_ = std::make_unique<ClipboardRecorder>(executor_, services_.pasteboard, clipboardStore_,
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

const SearchIndex& AppDelegate::index() const {
  static const SearchIndex none;
  return launcher_ ? launcher_->index() : none;
}

const std::set<Command>& AppDelegate::hiddenCommands() const {
  static const std::set<Command> none;
  return launcher_ ? launcher_->settings().hiddenCommands : none;
}

void AppDelegate::installIndex(SearchIndex index) {
  if (!launcher_) {
    return;
  }
  launcher_->setIndex(std::move(index));
  if (onIndex) {
    onIndex(launcher_->index());
  }
  resolveApps();
}

void AppDelegate::resolveApps() {
  if (index().size() == 0) {
    return;
  }
  const Config config = configStore_->config();
  const int64_t generation = ++resolveGeneration_;
  std::weak_ptr<AppDelegate*> weak = self_;
  runInBackground(
      executor_, QoS::utility,
      [config, known = AppResolver::knownApps(index()), catalog = services_.catalog,
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
        delegate.changeLauncher([&](LauncherSettings& settings) {
          settings.openWithApps = std::move(resolved.openWith);
          settings.openLinks = std::move(resolved.openLinks);
          settings.terminalApp = std::move(resolved.terminal);
        });
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
  changeLauncher([&](LauncherSettings& settings) {
    const auto clipboardKey = hotkeys_ ? hotkeys_->current("clipboard") : std::nullopt;
    settings.clipboardHotkey =
        clipboardKey ? std::optional<std::string>(clipboardKey->symbols()) : std::nullopt;
    settings.keys = config.keys;
    settings.clipboardAlias = config.clipboardAlias;
    settings.emptyState = config.emptyState;
  });
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
        executor_, QoS::utility,
        [rebuilt = files_->rebuild(std::move(rules))]() mutable {
          rebuilt.wait();
          return true;
        },
        [](bool) { Log::app.debug("The file index is up to date"); });
  }
  if (!previous || previous->launchAtLogin != config.launchAtLogin) {
    LoginItem(executor_, paths_.login).update(config.launchAtLogin);
  }
  hasAppliedConfig_ = true;
  Log::app.info("Applied config.toml");
}

}  // namespace vesk
