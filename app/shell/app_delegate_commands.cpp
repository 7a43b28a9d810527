// AppDelegate: what the hot keys and the commands do, the recording pause, the first-start
// notice, and the problem and notice lists the launcher shows.

#include <QCoreApplication>

#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/clipboard/clipboard_history.h"
#include "app/clipboard/clipboard_recorder.h"
#include "app/config/config_store.h"
#include "app/config/global_hotkeys.h"
#include "app/config/hot_key_notice.h"
#include "app/config/portal_hotkeys.h"
#include "app/launcher/launcher_controller.h"
#include "app/launcher/launcher_panel.h"
#include "app/services/updater.h"
#include "app/shell/app_delegate.h"
#include "app/shell/log_panel.h"
#include "core/base/wall_clock.h"
#include "core/clipboard/clipboard_store.h"
#include "platform/key_synthesizer.h"
#include "platform/notifier.h"

namespace vesk {

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

void AppDelegate::askForAccessibility() {
  if (askedForAccessibility_ || !services_.keySynthesizer) {
    return;
  }
  askedForAccessibility_ = true;
  runInBackground(executor_, QoS::userInitiated,
                  [keys = services_.keySynthesizer] { keys->requestTrust(); });
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
  changeLauncher([paused](LauncherSettings& settings) {
    settings.hiddenCommands = {paused ? Command::pauseClipboard : Command::resumeClipboard};
  });
  publishClipboardNotices();
  if (save) {
    runInBackground(executor_, QoS::utility, [store = clipboardStore_, paused] {
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
      executor_, QoS::userInitiated, [store = clipboardStore_] { return store->clear(); },
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
    changeLauncher([](LauncherSettings& settings) { settings.canPaste = false; });
    publishClipboardNotices();
    return;
  }
  std::weak_ptr<AppDelegate*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated,
      [keys = services_.keySynthesizer] { return keys->isTrusted(); },
      [weak](bool trusted) {
        const auto self = weak.lock();
        if (!self || *self == nullptr) {
          return;
        }
        (*self)->changeLauncher(
            [trusted](LauncherSettings& settings) { settings.canPaste = trusted; });
        (*self)->publishClipboardNotices();
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
  changeLauncher([&](LauncherSettings& settings) { settings.problems = status_.problems(); });
}

void AppDelegate::publishClipboardNotices() {
  const bool canPaste = !launcher_ || launcher_->settings().canPaste;
  status_.publishClipboardNotices(canReadClipboard_, canPaste, isRecordingPaused_,
                                  clipboard_ && clipboard_->loadFailure().has_value());
  changeLauncher(
      [&](LauncherSettings& settings) { settings.clipboardNotices = status_.clipboardNotices(); });
}

}  // namespace vesk
