#include <cstdlib>

#include "app/apps/app_scanner.h"
#include "app/apps/history_store.h"
#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "app/config/config_store.h"
#include "app/launcher/message_window.h"
#include "app/services/desktop_notifier.h"
#include "app/shell/app_services.h"
#include "core/base/xdg_folders.h"
#include "core/clipboard/clipboard_store.h"
#include "platform/linux/dbus_file_manager.h"
#include "platform/linux/dbus_session_events.h"
#include "platform/linux/ewmh_workspace.h"
#include "platform/linux/feed_update_framework.h"
#include "platform/linux/gio_app_catalog.h"
#include "platform/linux/gio_icon_sources.h"
#include "platform/linux/gsettings_desktop_bindings.h"
#include "platform/linux/portal_global_shortcuts.h"
#include "platform/linux/qt_image_codec.h"
#include "platform/linux/x11_hot_key_service.h"
#include "platform/linux/x11_key_layout.h"
#include "platform/linux/x11_key_synthesizer.h"
#include "platform/linux/x11_pasteboard.h"
#include "platform/linux/x11_window_focus.h"
#include "platform/wayland/wayland_clipboard.h"
#include "platform/wayland/wayland_key_synthesizer.h"
#include "platform/wayland/wayland_workspace.h"

namespace vesk {
namespace {

void logLine(const std::string& line) {
  Log::app.error("%s", line.c_str());
}

// In a Wayland session the clipboard, the paste key and the frontmost application come from
// the compositor where it offers their protocols; the rest goes through XWayland. One log line
// per job says which serves it.
//
// The Wayland clipboard, where the compositor offers data-control; else none, and the problem
// row says what is missing.
std::shared_ptr<WaylandClipboard> waylandClipboard(std::vector<std::string>& problems) {
  X11Pasteboard::Options options;
  options.log = logLine;
  auto clipboard = WaylandClipboard::open(std::move(options));
  if (clipboard) {
    std::shared_ptr<WaylandClipboard> shared = std::move(clipboard).value();
    Log::app.info("Clipboard: Wayland, through %s", shared->protocol().c_str());
    return shared;
  }
  Log::app.info("Clipboard: X11 through XWayland, as %s", clipboard.failure().description.c_str());
  // Hot keys have their own line, once the desktop said whether it holds them (PortalHotkeys).
  problems.push_back("This is a Wayland session: clipboard recording only reaches X11 apps here (" +
                     clipboard.failure().description + ")");
  return nullptr;
}

// The paste key and the frontmost application come from the compositor where it offers their
// protocols; the desktop holds the hot keys where it offers the global shortcuts portal.
void useWayland(AppServices& services, Executor& executor) {
  services.globalShortcuts =
      std::make_shared<PortalGlobalShortcuts>(QDBusConnection::sessionBus(), logLine, "vesk");
  WaylandKeySynthesizer::Options keys;
  std::weak_ptr<Notifier> notifier = services.notifier;
  keys.cannotPress = [notifier, &executor] {
    executor.deliver([notifier] {
      if (const auto shared = notifier.lock()) {
        shared->update("Copied: press Ctrl+V to paste", "");
      }
    });
  };
  std::weak_ptr<Workspace> workspace = services.workspace;
  keys.activeWindow = [workspace] {
    const auto shared = workspace.lock();
    return shared ? shared->activeWindow() : WindowId{0};
  };
  keys.activate = [workspace, &executor](WindowId window) {
    executor.deliver([workspace, window] {
      if (const auto shared = workspace.lock()) {
        shared->activateWindow(window);
      }
    });
  };
  keys.log = logLine;
  if (auto synthesizer = WaylandKeySynthesizer::open(std::move(keys))) {
    Log::app.info("Paste key: %s", synthesizer.value()->canPress()
                                       ? "Wayland, through zwp_virtual_keyboard_manager_v1"
                                       : "none (the compositor offers no virtual keyboard): "
                                         "pastes are copies the user is told to paste");
    services.keySynthesizer = std::move(synthesizer).value();
  }
  auto windows = std::dynamic_pointer_cast<EwmhWorkspace>(services.workspace);
  if (auto toplevels = WaylandWorkspace::open("", windows)) {
    Log::app.info("Frontmost app: Wayland, through zwlr_foreign_toplevel_manager_v1");
    services.workspace = std::move(toplevels).value();
  } else {
    Log::app.info("Frontmost app: X11 windows only, as %s",
                  toplevels.failure().description.c_str());
  }
}

}  // namespace

AppPaths AppPaths::standard() {
  AppPaths paths;
  paths.home = XDGFolders().home();
  paths.configFile = ConfigStore::defaultFile();
  paths.historyFile = HistoryStore::defaultFile();
  paths.clipboardFolder = ClipboardStore::defaultFolder();
  paths.applicationRoots = AppScanner::defaultRoots();
  paths.login = LoginItem::standard();
  paths.pendingUpdateFile = XDGFolders().stateHome() + "/vesk/pending-update.json";
  return paths;
}

AppServices linuxServices(Executor& executor, std::vector<std::string>& problems) {
  AppServices services;
  services.catalog = std::make_shared<GioAppCatalog>();
  services.imageCodec = std::make_shared<QtImageCodec>();
  services.iconSources = std::make_shared<GioIconSources>();
  services.fileManager = std::make_shared<DBusFileManager>();
  // A post the desktop doesn't show (no notification service, or no session bus) is a log line
  // and Vesk's own message where the panel appears.
  auto notifier = std::make_shared<DesktopNotifier>(executor, QDBusConnection::sessionBus(),
                                                    services.fileManager);
  notifier->showOwn = [](const std::string& title, const std::string& body,
                         std::function<void()> clicked) {
    MessageWindow::display(title, body, std::move(clicked));
  };
  services.notifier = std::move(notifier);

  const char* display = std::getenv("WAYLAND_DISPLAY");  // NOLINT(concurrency-mt-unsafe)
  const bool wayland = display != nullptr && *display != '\0';
  std::shared_ptr<WaylandClipboard> clipboard = wayland ? waylandClipboard(problems) : nullptr;
  if (clipboard) {
    services.pasteboard = clipboard;
    services.pasteboardWriter = clipboard;
  } else {
    X11Pasteboard::Options options;
    options.log = logLine;
    auto pasteboard = X11Pasteboard::open(std::move(options));
    if (pasteboard) {
      std::shared_ptr<X11Pasteboard> shared = std::move(pasteboard).value();
      services.pasteboard = shared;
      services.pasteboardWriter = shared;
    } else {
      problems.push_back("The clipboard can't be read, so copies aren't recorded: " +
                         pasteboard.failure().description);
    }
  }
  std::shared_ptr<X11HotKeyService> hotKeys;
  if (auto opened = X11HotKeyService::open("")) {
    hotKeys = std::move(opened).value();
    services.hotKeys = hotKeys;
    // GNOME's and Cinnamon's own shortcuts, which a grab doesn't see.
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");  // NOLINT(concurrency-mt-unsafe)
    services.desktopBindings =
        std::make_shared<GSettingsDesktopBindings>(desktop != nullptr ? desktop : "", "");
  } else {
    problems.push_back("Hot keys can't be set up: " + opened.failure().description);
  }
  if (auto layout = X11KeyLayout::open("")) {
    services.keyLayout = std::move(layout).value();
  } else {
    problems.push_back("The keyboard layout can't be read: " + layout.failure().description);
  }
  if (auto keys = X11KeySynthesizer::open("")) {
    services.keySynthesizer = std::move(keys).value();
  } else {
    problems.push_back("Clips can't be pasted, only copied: " + keys.failure().description);
  }
  if (auto workspace = EwmhWorkspace::open("")) {
    services.workspace = std::move(workspace).value();
  } else {
    Log::app.error("Running apps can't be tracked: %s", workspace.failure().description.c_str());
  }
  services.sessionEvents = std::make_shared<DBusSessionEvents>();
  // Off without a feed and a key in the build, or for a copy not installed by the user.
  auto updates =
      FeedUpdateFramework::standard(VESK_UPDATE_FEED, VESK_UPDATE_KEY, VESK_BUILD_VERSION);
  updates.log = [](const std::string& line) { Log::app.error("%s", line.c_str()); };
  services.updates = std::make_shared<FeedUpdateFramework>(std::move(updates));
  if (auto focus = X11WindowFocus::open("", hotKeys)) {
    services.windowFocus = std::move(focus).value();
  } else {
    Log::app.error("The panel can't take the focus itself: %s",
                   focus.failure().description.c_str());
  }
  if (wayland) {
    useWayland(services, executor);
  }
  return services;
}

}  // namespace vesk
