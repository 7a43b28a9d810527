#pragma once
// AppServices: the desktop services the application object works through, each behind its
// platform interface. A service that could not be set up is null and the features that need it
// are off (with a log line), so Vesk still starts: without the X11 clipboard it still launches,
// without hot keys it still opens on a second start.
//
// `linuxServices` sets up the real ones; tests hand in fakes.

#include <memory>
#include <string>
#include <vector>

#include "app/services/login_item.h"

namespace vesk {

class Executor;
class AppCatalog;
class DesktopBindings;
class FileManager;
class GlobalShortcuts;
class HotKeyService;
class IconSources;
class ImageCodec;
class KeyLayout;
class KeySynthesizer;
class Notifier;
class Pasteboard;
class PasteboardWriter;
class SessionEvents;
class UpdateFramework;
class WindowFocus;
class Workspace;

struct AppServices {
  std::shared_ptr<Pasteboard> pasteboard;
  std::shared_ptr<PasteboardWriter> pasteboardWriter;
  std::shared_ptr<const ImageCodec> imageCodec;
  std::shared_ptr<HotKeyService> hotKeys;
  std::shared_ptr<const DesktopBindings> desktopBindings;  // none: the desktop holds no keys
  // The desktop's own global shortcuts (a Wayland session); none: the grabs of `hotKeys` alone.
  std::shared_ptr<GlobalShortcuts> globalShortcuts;
  std::shared_ptr<KeyLayout> keyLayout;
  std::shared_ptr<KeySynthesizer> keySynthesizer;
  std::shared_ptr<Workspace> workspace;
  std::shared_ptr<SessionEvents> sessionEvents;
  std::shared_ptr<AppCatalog> catalog;
  std::shared_ptr<const IconSources> iconSources;
  std::shared_ptr<FileManager> fileManager;
  std::shared_ptr<WindowFocus> windowFocus;  // none: the panel relies on Qt alone
  std::shared_ptr<Notifier> notifier;        // none: failures and saved clips are logged
  std::shared_ptr<UpdateFramework> updates;  // none: Vesk never updates itself
};

// Where the application keeps its files, from the XDG base folders.
struct AppPaths {
  std::string home;
  std::string configFile;
  std::string historyFile;
  std::string clipboardFolder;
  std::vector<std::string> applicationRoots;
  // The executable and the autostart entry of start at login; empty: never registered.
  LoginItem::Paths login;
  // The record of a downloaded update between runs ($XDG_STATE_HOME/vesk/pending-update.json).
  std::string pendingUpdateFile;

  static AppPaths standard();
};

// The X11, GIO and Qt implementations, desktop notifications on the session bus and updates
// from the build's signed feed. Each one that
// fails is left null and its reason is appended to `problems`.
AppServices linuxServices(Executor& executor, std::vector<std::string>& problems);

}  // namespace vesk
