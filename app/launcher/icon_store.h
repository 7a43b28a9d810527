#pragma once
// IconStore: the launcher's icons, pre-rendered for the screens' density and the current
// appearance, so that rows and the stage, which ask many times per keystroke, are answered from
// memory at once.
//
// It holds application icons by entry path (the set the controller wants, see `load`),
// file-type icons and names by type key, symbols by (name, tint, size), and the applications
// found by desktop id for the clipboard's source apps. An icon that is not ready is answered
// with none, and its rendering starts: requests made in one turn of the event loop are rendered
// together in the background, and `onChange` tells the owner when the images are in so the
// visible rows are redrawn. When the appearance (light or dark) or the icon theme changes,
// everything is rendered again; the old images stay until the new ones arrive.
//
// A main-thread object: every member is called on the main thread (the thread of the
// QGuiApplication, which must exist), and `onChange` is called there. Renders run on the
// store's own threads, never on the pools that launches and pastes use. Renders in flight hold the
// store weakly and are dropped if it is gone; the `style` generation drops renders started
// before the latest restyle.

#include <QImage>
#include <QThreadPool>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/base/executor.h"
#include "app/launcher/icon_render.h"
#include "app/launcher/symbols.h"

namespace vesk {

class IconSources;

class IconStore final {
 public:
  using Pair = IconPair;
  using SymbolKey = vesk::SymbolKey;

  // `sources` is shared with the renders in flight. `typesKept` bounds the type cache (see
  // `trimTypes`); the controller keeps 256.
  IconStore(Executor& executor, std::shared_ptr<const IconSources> sources, size_t typesKept);
  ~IconStore();
  IconStore(const IconStore&) = delete;
  IconStore& operator=(const IconStore&) = delete;

  // The application icons wanted now (entry paths of the indexed apps, files and folders and
  // of the running apps): icons of others are dropped, missing ones are rendered, together with
  // the symbols the first time.
  void load(const std::vector<std::string>& urls);

  // The rendered icon of the application entry at `url`, or none.
  std::optional<QImage> icon(const std::string& url, IconSize size) const;
  // The icon of the file's type, or none while it is rendered (the request starts it). A path
  // ending in "/" is a folder, as is any path with `isFolder`.
  std::optional<QImage> iconForFile(std::string_view path, IconSize size, bool isFolder = false);
  // The file's type name ("PDF document", "Folder"), or none until its type is rendered.
  std::optional<std::string> typeName(std::string_view path, bool isFolder = false);

  // The icon and name of the application with this desktop id, or none while the id is being
  // resolved (the request starts it).
  std::optional<QImage> iconForBundleID(const std::string& bundleID, IconSize size);
  std::optional<std::string> appName(const std::string& bundleID);
  // True once the id is resolved and no application has it: callers stop asking and draw a
  // symbol instead.
  bool isMissing(const std::string& bundleID) const;

  // A symbol image, or none until the symbols are rendered (the request starts it).
  std::optional<QImage> symbol(const std::string& name, SymbolTint tint, IconSize size);

  // Bounds the type cache: above `typesKept` keys, the least recently used go until three
  // quarters remain.
  void trimTypes();

  // Renders everything again for the current appearance and icon theme; renders in flight are
  // dropped. Called by the store itself when either changes.
  void restyle();

  // "folder", "path:" + the path of an application entry, or "ext:" + the lower-cased extension.
  static std::string typeKey(std::string_view path, bool isFolder);

  // Told, on the main thread, each time new images are stored.
  std::function<void()> onChange;
  // Where the restyle line goes (the perf log at debug level unless replaced).
  std::function<void(const std::string&)> log;

  // Waits until the renders started so far are drawn (their results are still to be delivered
  // on the main thread).
  void waitForRenders();

  // The caches and their bookkeeping, for tests and diagnostics.
  const std::unordered_map<std::string, Pair>& apps() const { return apps_; }
  const std::unordered_map<SymbolKey, QImage>& symbols() const { return symbols_; }
  const std::unordered_map<std::string, Pair>& types() const { return types_; }
  const std::unordered_map<std::string, std::string>& typeNames() const { return typeNames_; }
  const std::unordered_set<std::string>& requestedTypes() const { return requestedTypes_; }
  const std::unordered_set<std::string>& renderingTypes() const { return renderingTypes_; }
  const std::unordered_set<std::string>& wanted() const { return wanted_; }
  const std::unordered_set<std::string>& rendering() const { return rendering_; }
  int64_t style() const { return style_; }
  size_t typesKept() const { return typesKept_; }
  int resolvingBundles() const { return resolvingBundles_; }

 private:
  Executor& executor_;
  class Watcher;
  struct Rendered;

  void stamp(const std::string& key);
  void requestType(const std::string& key);
  void scheduleBatch();
  void renderBatch();
  void render(std::vector<std::string> urls, std::vector<SymbolKey> symbols,
              std::vector<std::string> typeKeys);
  void store(int64_t style, Rendered rendered);
  void requestBundle(const std::string& bundleID);
  void resolveBundles();
  void styleChanged();

  std::shared_ptr<const IconSources> sources_;
  std::unordered_map<std::string, Pair> apps_;
  std::unordered_map<SymbolKey, QImage> symbols_;
  std::unordered_map<std::string, Pair> types_;
  std::unordered_map<std::string, std::string> typeNames_;
  std::unordered_map<std::string, uint64_t> typeUses_;
  uint64_t uses_ = 0;
  size_t typesKept_;
  std::unordered_set<std::string> requestedTypes_;
  std::unordered_set<std::string> renderingTypes_;
  std::unordered_set<std::string> wanted_;
  std::unordered_set<std::string> rendering_;
  bool symbolsRequested_ = false;
  std::unordered_set<SymbolKey> requestedSymbols_;
  std::unordered_set<SymbolKey> renderingSymbols_;
  bool batchScheduled_ = false;
  std::unordered_map<std::string, std::string> bundleApps_;
  std::unordered_map<std::string, std::string> bundleNames_;
  std::unordered_set<std::string> requestedBundles_;
  std::unordered_set<std::string> resolvedBundles_;
  std::vector<std::string> pendingBundles_;
  std::unordered_set<std::string> extraApps_;
  int64_t style_ = 0;
  int resolvingBundles_ = 0;
  // The style of the last restyle (or of the start), to tell a real change from a repeated
  // event.
  IconStyle lastStyle_;
  bool restylePending_ = false;
  // Images drawn from theme files for the current style; replaced by each restyle.
  std::shared_ptr<RenderCache> cache_ = std::make_shared<RenderCache>();
  std::unique_ptr<Watcher> watcher_;
  std::unique_ptr<QThreadPool> pool_;
  // Background work holds it weakly: a result that arrives after the store is gone is dropped.
  std::shared_ptr<IconStore*> self_;
};

}  // namespace vesk
