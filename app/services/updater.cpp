#include "app/services/updater.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "core/base/atomic_file.h"

namespace vesk {

namespace {

constexpr const char* kSomeNewVersion = "a new version";

}  // namespace

std::string UpdateResult::title() const {
  switch (kind) {
    case Kind::updated:
      return "Vesk updated to " + version;
    case Kind::failed:
      return "Couldn't update Vesk to " + version;
    case Kind::ready:
      return "Vesk " + version + " is ready";
    case Kind::upToDate:
      return "Vesk is up to date";
    case Kind::checkFailed:
      return "Couldn't check for updates";
  }
  return {};
}

std::string UpdateResult::body() const {
  switch (kind) {
    case Kind::updated:
      return {};
    case Kind::failed:
    case Kind::checkFailed:
      return reason;
    case Kind::ready:
      return "Update Vesk in the launcher restarts into it.";
    case Kind::upToDate:
      return version + " is the newest version.";
  }
  return {};
}

Result<void> PendingUpdate::save(const std::string& file, const PendingUpdate& update) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
  if (error) {
    return Failure{error.message()};
  }
  const nlohmann::json record = {
      {"build", update.build}, {"version", update.version}, {"requested", update.requested}};
  return AtomicFile::write(file, record.dump(), 0600);
}

std::optional<PendingUpdate> PendingUpdate::take(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  remove(file);
  const nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
  if (!record.is_object()) {
    return std::nullopt;
  }
  const auto build = record.find("build");
  const auto version = record.find("version");
  if (build == record.end() || !build->is_string() || version == record.end() ||
      !version->is_string()) {
    return std::nullopt;
  }
  const auto requested = record.find("requested");
  return PendingUpdate{
      build->get<std::string>(), version->get<std::string>(),
      requested != record.end() && requested->is_boolean() && requested->get<bool>()};
}

void PendingUpdate::remove(const std::string& file) {
  std::error_code error;
  std::filesystem::remove(file, error);
}

Updater::Updater(Executor& executor, std::shared_ptr<UpdateFramework> framework, Options options)
    : executor_(executor),
      framework_(std::move(framework)),
      options_(std::move(options)),
      self_(std::make_shared<Updater*>(this)) {}

Updater::~Updater() {
  *self_ = nullptr;
}

bool Updater::isEnabled() const {
  return framework_ && framework_->isEnabled();
}

void Updater::checkIfDue(double now) {
  if (!isEnabled() || install_) {
    return;
  }
  if (next_ && now < *next_) {
    return;
  }
  next_ = now + kCheckInterval;
  check();
}

void Updater::check() {
  if (!isEnabled()) {
    return;
  }
  if (!started_) {
    std::weak_ptr<Updater*> weak = self_;
    const auto with = [weak](auto work) {
      return [weak, work](auto&&... arguments) {
        if (const auto self = weak.lock(); self && *self != nullptr) {
          return work(**self, arguments...);
        }
        return decltype(work(std::declval<Updater&>(), arguments...))();
      };
    };
    UpdateFramework::Delegate delegate;
    delegate.didFindValidUpdate = with([](Updater& self, const UpdateFramework::Update& update) {
      self.didFindValidUpdate(update);
    });
    delegate.didNotFindUpdate = with([](Updater& self) { self.didNotFindUpdate(); });
    delegate.willInstallUpdateOnQuit =
        with([](Updater& self, const UpdateFramework::Update& update, std::function<void()> go) {
          return self.willInstallUpdateOnQuit(update, std::move(go));
        });
    delegate.didAbortWithError = with(
        [](Updater& self, const UpdateFramework::Error& error) { self.didAbortWithError(error); });
    if (auto started = framework_->start(std::move(delegate)); !started) {
      const std::string& reason = started.failure().description;
      Log::app.error("Couldn't start the updater: %s", reason.c_str());
      if (takeAsked()) {
        report(UpdateResult::checkFailed(reason));
      }
      return;
    }
    started_ = true;
  }
  if (!framework_->sessionInProgress()) {
    found_.reset();
    framework_->checkForUpdatesInBackground();
  }
}

void Updater::checkForUpdates(double now) {
  if (!isEnabled() || install_) {
    return;
  }
  next_ = now + kCheckInterval;
  asked_ = true;
  check();
}

void Updater::installNow() {
  if (!isEnabled() || !install_ || !pending_) {
    return;
  }
  pending_->requested = true;
  std::weak_ptr<Updater*> weak = self_;
  runInBackground(
      executor_, QoS::userInitiated,
      [file = options_.recordFile, record = *pending_] {
        return PendingUpdate::save(file, record);
      },
      [weak, install = install_](const Result<void>& saved) {
        if (!saved) {
          // The install still goes ahead: the next start just can't tell how it went.
          Log::app.error("Couldn't record the update: %s", saved.failure().description.c_str());
        }
        if (const auto self = weak.lock(); self && *self != nullptr) {
          install();
        }
      });
}

void Updater::reportLastUpdate() {
  if (!isEnabled()) {
    return;
  }
  std::weak_ptr<Updater*> weak = self_;
  runInBackground(
      executor_, QoS::utility, [file = options_.recordFile] { return PendingUpdate::take(file); },
      [weak, build = options_.runningBuild,
       version = options_.runningVersion](const std::optional<PendingUpdate>& record) {
        const auto self = weak.lock();
        if (!self || *self == nullptr || !record) {
          return;
        }
        if (record->build == build) {
          (*self)->report(UpdateResult::updated(record->version));
        } else if (record->requested) {
          (*self)->report(UpdateResult::failed(
              record->version,
              "Vesk is still " + version + ", and tries again on its next check."));
        }
      });
}

void Updater::applicationWillTerminate() {
  if (started_) {
    framework_->applicationWillTerminate();
  }
}

void Updater::didFindValidUpdate(const UpdateFramework::Update& update) {
  found_ = update.displayVersion;
}

void Updater::didNotFindUpdate() {
  if (takeAsked()) {
    report(UpdateResult::upToDate(options_.runningVersion));
  }
}

bool Updater::willInstallUpdateOnQuit(const UpdateFramework::Update& update,
                                      std::function<void()> install) {
  install_ = std::move(install);
  pending_ = PendingUpdate{update.version, update.displayVersion, false};
  runInBackground(executor_, QoS::utility, [file = options_.recordFile, record = *pending_] {
    if (auto saved = PendingUpdate::save(file, record); !saved) {
      Log::app.error("Couldn't record the update: %s", saved.failure().description.c_str());
    }
  });
  Log::app.info("Vesk %s is downloaded and ready to install", update.displayVersion.c_str());
  if (onReady) {
    onReady(update.displayVersion);
  }
  if (takeAsked()) {
    report(UpdateResult::ready(update.displayVersion));
  }
  return true;
}

void Updater::didAbortWithError(const UpdateFramework::Error& error) {
  if (error.ownDomain && error.code == UpdateFramework::noUpdateFound) {
    return;
  }
  Log::app.error("Couldn't update: %s", error.description.c_str());
  next_ = options_.now() + kRetryInterval;
  const bool updateProblem = error.ownDomain && error.code >= UpdateFramework::downloadFailed &&
                             error.code != UpdateFramework::installCancelled &&
                             error.code != UpdateFramework::installPutOff;
  if (!updateProblem) {
    if (takeAsked()) {
      report(UpdateResult::checkFailed(error.underlying.value_or(error.description)));
    }
    return;
  }
  asked_ = false;
  if (install_) {
    install_ = nullptr;
    if (onReady) {
      onReady(std::nullopt);
    }
  }
  pending_.reset();
  runInBackground(executor_, QoS::utility,
                  [file = options_.recordFile] { PendingUpdate::remove(file); });
  report(UpdateResult::failed(found_.value_or(kSomeNewVersion), error.description));
}

void Updater::report(const UpdateResult& result) const {
  if (onResult) {
    onResult(result);
  }
}

bool Updater::takeAsked() {
  const bool was = asked_;
  asked_ = false;
  return was;
}

}  // namespace vesk
