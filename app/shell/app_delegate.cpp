#include "app/shell/app_delegate.h"

#include <QCoreApplication>
#include <unordered_set>
#include <utility>

#include "app/apps/app_resolver.h"
#include "app/apps/history_store.h"
#include "app/apps/running_apps.h"
#include "app/clipboard/clip_deliverer.h"
#include "app/clipboard/clipboard_history.h"
#include "app/clipboard/clipboard_recorder.h"
#include "app/config/config_store.h"
#include "app/config/global_hotkeys.h"
#include "app/config/hot_key_center.h"
#include "app/shell/app_indexer.h"
#include "app/shell/log.h"
#include "app/shell/run_in_background.h"
#include "core/clipboard/clipboard_store.h"
#include "core/files/file_search_engine.h"
#include "platform/app_catalog.h"
#include "platform/key_layout.h"
#include "platform/key_synthesizer.h"
#include "platform/session_events.h"
#include "platform/workspace.h"

namespace vesk {

AppDelegate::AppDelegate(AppServices services, AppPaths paths)
    : services_(std::move(services)),
      paths_(std::move(paths)),
      self_(std::make_shared<AppDelegate*>(this)) {
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
  indexer_ =
      std::make_unique<AppIndexer>(paths_.applicationRoots, services_.catalog,
                                   [this](SearchIndex index) { installIndex(std::move(index)); });
}

AppDelegate::~AppDelegate() {
  *self_ = nullptr;
  indexer_.reset();
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

  indexer_->rebuild();
  indexer_->watch();
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
        delegate.appProblems_ = std::move(resolved.problems);
        delegate.publishProblems();
      });
}

void AppDelegate::apply(const std::optional<Config>& previous) {
  const Config& config = configStore_->config();
  if (hotkeys_) {
    hotkeys_->apply({
        {"launcher", config.launcherHotkey, [this](double at) { present(Mode::launcher, at); }},
        {"clipboard", config.clipboardHotkey, [this](double at) { present(Mode::clipboard, at); }},
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

void AppDelegate::present(Mode mode, double pressedAt) {
  const double handled = Log::uptime();
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
      present(Mode::clipboard, Log::uptime());
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
  status_.publishProblems(platformProblems_, configStore_->problems(),
                          hotkeys_ ? hotkeys_->problems() : std::vector<std::string>{},
                          appProblems_);
}

void AppDelegate::publishClipboardNotices() {
  status_.publishClipboardNotices(canReadClipboard_, canPaste_, isRecordingPaused_);
}

}  // namespace vesk
