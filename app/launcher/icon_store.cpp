#include "app/launcher/icon_store.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThreadPool>
#include <algorithm>
#include <type_traits>
#include <utility>

#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "platform/icon_sources.h"

namespace vesk {

namespace {

// Renders are split into jobs of at most this many icons, so that several pool threads share
// a large set and the first images arrive before the last are drawn.
constexpr size_t kIconsPerJob = 24;

char lowered(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

template <class T>
std::vector<std::vector<T>> chunks(std::vector<T> items) {
  std::vector<std::vector<T>> result;
  for (size_t start = 0; start < items.size(); start += kIconsPerJob) {
    const size_t end = std::min(items.size(), start + kIconsPerJob);
    result.emplace_back(std::make_move_iterator(items.begin() + static_cast<ptrdiff_t>(start)),
                        std::make_move_iterator(items.begin() + static_cast<ptrdiff_t>(end)));
  }
  return result;
}

// Icons are drawn on threads of their own: a slow icon file or a theme on a stalled mount may
// hold them, but never the threads that launch apps, paste and zip.
constexpr int kRenderThreads = 2;

// `work` on `pool`, then `then(result)` on the main thread; a job that throws is logged and
// hands nothing back.
template <class Work, class Then>
void runOn(QThreadPool& pool, Executor& executor, Work work, Then then) {
  auto state = std::make_shared<std::pair<Work, Then>>(std::move(work), std::move(then));
  pool.start([state, &executor] {
    try {
      auto result = std::make_shared<std::invoke_result_t<Work&>>(state->first());
      executor.deliver([state, result] { state->second(std::move(*result)); });
    } catch (...) {
      (void)backgroundFailure(std::current_exception());
    }
  });
}

std::optional<QImage> pick(const std::unordered_map<std::string, IconPair>& map,
                           const std::string& key, IconSize size) {
  const auto found = map.find(key);
  if (found == map.end()) {
    return std::nullopt;
  }
  return found->second.at(size);
}

}  // namespace

// Watches the application for a new palette or a theme change (Qt sends the latter to every
// window, so one change arrives many times; the store coalesces them).
class IconStore::Watcher final : public QObject {
 public:
  explicit Watcher(IconStore& store) : store_(store) {}

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::ThemeChange || type == QEvent::ApplicationPaletteChange ||
        (type == QEvent::PaletteChange && object == QCoreApplication::instance())) {
      store_.styleChanged();
    }
    return false;
  }

 private:
  IconStore& store_;
};

struct IconStore::Rendered {
  std::vector<std::pair<std::string, Pair>> apps;
  std::vector<std::pair<SymbolKey, QImage>> symbols;
  std::vector<std::pair<std::string, TypeRender>> types;
};

IconStore::IconStore(Executor& executor, std::shared_ptr<const IconSources> sources,
                     size_t typesKept)
    : log([](const std::string& line) { Log::perf.debug("%s", line.c_str()); }),
      executor_(executor),
      sources_(std::move(sources)),
      typesKept_(typesKept),
      lastStyle_(IconStyle::current()),
      pool_(std::make_unique<QThreadPool>()),
      self_(std::make_shared<IconStore*>(this)) {
  pool_->setMaxThreadCount(kRenderThreads);
  pool_->setExpiryTimeout(30000);
  if (QCoreApplication* app = QCoreApplication::instance()) {
    watcher_ = std::make_unique<Watcher>(*this);
    app->installEventFilter(watcher_.get());
  }
}

IconStore::~IconStore() {
  pool_->clear();
  pool_->waitForDone();
}

void IconStore::waitForRenders() {
  pool_->waitForDone();
}

std::string IconStore::typeKey(std::string_view path, bool isFolder) {
  if (isFolder || (!path.empty() && path.back() == '/')) {
    return "folder";
  }
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  // ".zshrc" and "notes." have no extension.
  std::string_view extension;
  if (dot != std::string_view::npos && dot > 0 && dot + 1 < name.size()) {
    extension = name.substr(dot + 1);
  }
  std::string key = "ext:";
  key.reserve(key.size() + extension.size());
  for (const char c : extension) {
    key.push_back(lowered(c));
  }
  if (key == "ext:desktop") {
    // Every application entry has an icon of its own.
    return "path:" + std::string(path);
  }
  return key;
}

void IconStore::load(const std::vector<std::string>& urls) {
  wanted_ = std::unordered_set<std::string>(urls.begin(), urls.end());
  wanted_.insert(extraApps_.begin(), extraApps_.end());
  std::erase_if(apps_, [this](const auto& entry) { return !wanted_.contains(entry.first); });
  std::vector<std::string> missing;
  for (const std::string& url : wanted_) {
    if (!apps_.contains(url) && !rendering_.contains(url)) {
      missing.push_back(url);
    }
  }
  std::vector<SymbolKey> symbols;
  if (!symbolsRequested_) {
    symbolsRequested_ = true;
    symbols = Symbols::rendered();
  }
  render(std::move(missing), std::move(symbols), {});
}

std::optional<QImage> IconStore::icon(const std::string& url, IconSize size) const {
  return pick(apps_, url, size);
}

std::optional<QImage> IconStore::iconForFile(std::string_view path, IconSize size, bool isFolder) {
  const std::string key = typeKey(path, isFolder);
  stamp(key);
  if (auto image = pick(types_, key, size)) {
    return image;
  }
  requestType(key);
  return std::nullopt;
}

std::optional<std::string> IconStore::typeName(std::string_view path, bool isFolder) {
  const std::string key = typeKey(path, isFolder);
  stamp(key);
  if (const auto found = typeNames_.find(key); found != typeNames_.end()) {
    return found->second;
  }
  requestType(key);
  return std::nullopt;
}

void IconStore::stamp(const std::string& key) {
  typeUses_[key] = ++uses_;
}

void IconStore::requestType(const std::string& key) {
  if (types_.contains(key) || renderingTypes_.contains(key)) {
    return;
  }
  if (requestedTypes_.insert(key).second) {
    scheduleBatch();
  }
}

std::optional<QImage> IconStore::symbol(const std::string& name, SymbolTint tint, IconSize size) {
  SymbolKey key{name, tint, size};
  if (const auto found = symbols_.find(key); found != symbols_.end()) {
    return found->second;
  }
  if (!symbolsRequested_) {
    symbolsRequested_ = true;
    for (const SymbolKey& listed : Symbols::rendered()) {
      requestedSymbols_.insert(listed);
    }
  }
  if (!renderingSymbols_.contains(key)) {
    requestedSymbols_.insert(std::move(key));
  }
  scheduleBatch();
  return std::nullopt;
}

void IconStore::scheduleBatch() {
  if (batchScheduled_) {
    return;
  }
  batchScheduled_ = true;
  // One render for everything asked while this turn of the event loop draws its rows.
  executor_.deliver([weak = std::weak_ptr<IconStore*>(self_)] {
    if (const auto self = weak.lock()) {
      (*self)->renderBatch();
    }
  });
}

void IconStore::renderBatch() {
  batchScheduled_ = false;
  std::vector<std::string> keys(requestedTypes_.begin(), requestedTypes_.end());
  std::vector<SymbolKey> symbols(requestedSymbols_.begin(), requestedSymbols_.end());
  requestedTypes_.clear();
  requestedSymbols_.clear();
  render({}, std::move(symbols), std::move(keys));
}

void IconStore::render(std::vector<std::string> urls, std::vector<SymbolKey> symbols,
                       std::vector<std::string> typeKeys) {
  rendering_.insert(urls.begin(), urls.end());
  renderingSymbols_.insert(symbols.begin(), symbols.end());
  renderingTypes_.insert(typeKeys.begin(), typeKeys.end());
  const IconStyle style = IconStyle::current();
  const int64_t generation = style_;
  const auto start = [&](auto work) {
    runOn(*pool_, executor_, std::move(work),
          [weak = std::weak_ptr<IconStore*>(self_), generation](Rendered rendered) {
            if (const auto self = weak.lock()) {
              (*self)->store(generation, std::move(rendered));
            }
          });
  };
  const auto sources = sources_;
  const auto cache = cache_;
  if (!symbols.empty()) {
    start([sources, style, symbols = std::move(symbols)] {
      Rendered rendered;
      for (const SymbolKey& key : symbols) {
        rendered.symbols.emplace_back(key, renderSymbol(*sources, style, key));
      }
      return rendered;
    });
  }
  for (auto& chunk : chunks(std::move(typeKeys))) {
    start([sources, cache, style, keys = std::move(chunk)] {
      Rendered rendered;
      for (const std::string& key : keys) {
        rendered.types.emplace_back(key, renderType(*sources, style, key, cache.get()));
      }
      return rendered;
    });
  }
  for (auto& chunk : chunks(std::move(urls))) {
    start([sources, cache, style, paths = std::move(chunk)] {
      Rendered rendered;
      for (const std::string& path : paths) {
        rendered.apps.emplace_back(path, renderApp(*sources, style, path, cache.get()));
      }
      return rendered;
    });
  }
}

void IconStore::store(int64_t generation, Rendered rendered) {
  if (generation != style_) {
    return;  // Drawn for an appearance or theme that is gone; the restyle renders it again.
  }
  for (auto& [url, pair] : rendered.apps) {
    rendering_.erase(url);
    if (wanted_.contains(url)) {
      apps_[url] = std::move(pair);
    }
  }
  for (auto& [key, image] : rendered.symbols) {
    renderingSymbols_.erase(key);
    symbols_[key] = std::move(image);
  }
  for (auto& [key, type] : rendered.types) {
    renderingTypes_.erase(key);
    types_[key] = std::move(type.icons);
    typeNames_[key] = std::move(type.name);
  }
  if (onChange) {
    onChange();
  }
}

std::optional<QImage> IconStore::iconForBundleID(const std::string& bundleID, IconSize size) {
  if (const auto found = bundleApps_.find(bundleID); found != bundleApps_.end()) {
    return icon(found->second, size);
  }
  requestBundle(bundleID);
  return std::nullopt;
}

std::optional<std::string> IconStore::appName(const std::string& bundleID) {
  if (const auto found = bundleNames_.find(bundleID); found != bundleNames_.end()) {
    return found->second;
  }
  requestBundle(bundleID);
  return std::nullopt;
}

bool IconStore::isMissing(const std::string& bundleID) const {
  return resolvedBundles_.contains(bundleID) && !bundleApps_.contains(bundleID);
}

void IconStore::requestBundle(const std::string& bundleID) {
  if (bundleID.empty() || !requestedBundles_.insert(bundleID).second) {
    return;
  }
  pendingBundles_.push_back(bundleID);
  if (pendingBundles_.size() > 1) {
    return;  // The resolution of this turn is already scheduled.
  }
  executor_.deliver([weak = std::weak_ptr<IconStore*>(self_)] {
    if (const auto self = weak.lock()) {
      (*self)->resolveBundles();
    }
  });
}

void IconStore::resolveBundles() {
  using Found = std::vector<std::pair<std::string, std::optional<IconSources::App>>>;
  std::vector<std::string> ids = std::move(pendingBundles_);
  pendingBundles_.clear();
  ++resolvingBundles_;
  runOn(
      *pool_, executor_,
      [sources = sources_, ids = std::move(ids)] {
        Found found;
        for (const std::string& id : ids) {
          found.emplace_back(id, sources->appForDesktopId(id));
        }
        return found;
      },
      [weak = std::weak_ptr<IconStore*>(self_)](Found found) {
        const auto self = weak.lock();
        if (!self) {
          return;
        }
        IconStore& store = **self;
        --store.resolvingBundles_;
        std::vector<std::string> newApps;
        for (auto& [id, app] : found) {
          store.resolvedBundles_.insert(id);
          if (!app) {
            continue;
          }
          store.bundleApps_[id] = app->path;
          store.bundleNames_[id] = app->name.empty() ? id : app->name;
          store.extraApps_.insert(app->path);
          if (store.wanted_.insert(app->path).second && !store.apps_.contains(app->path) &&
              !store.rendering_.contains(app->path)) {
            newApps.push_back(app->path);
          }
        }
        store.render(std::move(newApps), {}, {});
        if (store.onChange) {
          store.onChange();
        }
      });
}

void IconStore::trimTypes() {
  if (types_.size() <= typesKept_) {
    return;
  }
  std::vector<std::pair<uint64_t, std::string>> byUse;
  byUse.reserve(types_.size());
  for (const auto& [key, pair] : types_) {
    const auto use = typeUses_.find(key);
    byUse.emplace_back(use == typeUses_.end() ? 0 : use->second, key);
  }
  std::sort(byUse.begin(), byUse.end());
  const size_t kept = typesKept_ * 3 / 4;
  for (size_t i = 0; i + kept < byUse.size(); ++i) {
    const std::string& key = byUse[i].second;
    types_.erase(key);
    typeNames_.erase(key);
    typeUses_.erase(key);
  }
  // Stamps of keys whose render was dropped by a restyle and never asked for again.
  std::erase_if(typeUses_, [this](const auto& entry) {
    return !types_.contains(entry.first) && !requestedTypes_.contains(entry.first) &&
           !renderingTypes_.contains(entry.first);
  });
}

void IconStore::styleChanged() {
  if (restylePending_) {
    return;
  }
  restylePending_ = true;
  executor_.deliver([weak = std::weak_ptr<IconStore*>(self_)] {
    const auto self = weak.lock();
    if (!self) {
      return;
    }
    IconStore& store = **self;
    store.restylePending_ = false;
    // Qt sends these events for font and other settings too: only a new look re-renders.
    if (!(IconStyle::current() == store.lastStyle_)) {
      store.restyle();
    }
  });
}

void IconStore::restyle() {
  ++style_;
  log("Appearance or icon style changed: re-rendering " + std::to_string(wanted_.size()) +
      " icons");
  sources_->forgetThemes();
  cache_ = std::make_shared<RenderCache>();
  // Only a restyle moves the style the caches are drawn for: a batch drawn in between would
  // otherwise make a change look already handled.
  lastStyle_ = IconStyle::current();
  // Keys in flight are drawn again too: their rows were drawn without an icon, and only the
  // change that follows the render redraws them.
  std::unordered_set<SymbolKey> symbolSet = std::move(renderingSymbols_);
  if (symbolsRequested_) {
    symbolSet.insert(Symbols::rendered().begin(), Symbols::rendered().end());
  }
  for (const auto& [key, image] : symbols_) {
    symbolSet.insert(key);
  }
  std::unordered_set<std::string> keySet = std::move(renderingTypes_);
  for (const auto& [key, pair] : types_) {
    keySet.insert(key);
  }
  rendering_.clear();
  renderingTypes_.clear();
  renderingSymbols_.clear();
  render({wanted_.begin(), wanted_.end()}, {symbolSet.begin(), symbolSet.end()},
         {keySet.begin(), keySet.end()});
}

}  // namespace vesk
