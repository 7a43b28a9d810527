#include "platform/linux/feed_update_framework.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "core/base/atomic_file.h"
#include "core/base/xdg_folders.h"

namespace vesk {

namespace {

namespace fs = std::filesystem;
using namespace FeedUpdateSteps;  // NOLINT(google-build-using-namespace)

constexpr size_t kMaxFeedBytes = size_t{64} * 1024;
constexpr uint64_t kMaxArchiveBytes = uint64_t{512} * 1024 * 1024;

UpdateFramework::Error error(int32_t code, std::string description,
                             std::optional<std::string> underlying = std::nullopt) {
  return {code, std::move(description), std::move(underlying), true};
}

struct OpenFile {
  explicit OpenFile(int fd) : fd(fd) {}
  ~OpenFile() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  OpenFile(OpenFile&&) = delete;
  OpenFile& operator=(OpenFile&&) = delete;

  const int fd;
};

// Waits for this process to end (or to be a zombie, or 30 seconds at most), then starts
// `program`: the single-instance socket is free by then, so the new copy doesn't hand itself to
// the old one.
void relaunchAfterExit(const std::string& program) {
  const QString script = QStringLiteral(
      "n=0; while [ -e /proc/\"$1\" ] && ! grep -q ') Z ' /proc/\"$1\"/stat 2>/dev/null &&"
      " [ $n -lt 150 ]; do n=$((n+1)); sleep 0.2; done; exec \"$2\"");
  QProcess::startDetached(QStringLiteral("/bin/sh"),
                          {QStringLiteral("-c"), script, QStringLiteral("vesk-relaunch"),
                           QString::number(::getpid()), QString::fromStdString(program)});
  QCoreApplication::quit();
}

}  // namespace

struct FeedUpdateFramework::Outcome {
  std::optional<Update> found;
  std::optional<std::string> staged;  // the unpacked folder, when the update is ready
  std::optional<Error> error;
  bool notFound = false;
};

FeedUpdateFramework::Options FeedUpdateFramework::standard(std::string feedUrl,
                                                           std::string publicKey,
                                                           std::string runningBuild) {
  Options options;
  options.feedUrl = std::move(feedUrl);
  options.publicKey = std::move(publicKey);
  options.runningBuild = std::move(runningBuild);
  std::error_code error;
  options.executable = fs::canonical("/proc/self/exe", error).string();
  const XDGFolders folders;
  options.home = folders.home();
  options.cacheFolder = folders.cacheHome() + "/vesk/updates";
  options.stateFile = folders.stateHome() + "/vesk/update-state.json";
  options.relaunch = relaunchAfterExit;
  return options;
}

FeedUpdateFramework::FeedUpdateFramework(Options options)
    : options_(std::move(options)), self_(std::make_shared<FeedUpdateFramework*>(this)) {
  options_.transfer.cancel = &stopping_;
  prefix_ = userLocalPrefix(options_.executable, options_.home);
}

FeedUpdateFramework::~FeedUpdateFramework() {
  *self_ = nullptr;
  stopSession();
}

bool FeedUpdateFramework::isEnabled() const {
  return !options_.feedUrl.empty() && !options_.publicKey.empty() && prefix_.has_value();
}

Result<void> FeedUpdateFramework::start(Delegate delegate) {
  if (!isEnabled()) {
    return Failure{"This copy of Vesk isn't one it can update itself."};
  }
  const auto key = decodeBase64(options_.publicKey);
  if (!key || key->size() != 32) {
    return Failure{"The update key of this build isn't a valid Ed25519 key."};
  }
  const bool secure = options_.feedUrl.rfind("https://", 0) == 0;
  if (!secure && !(options_.transfer.allowPlainHttp && options_.feedUrl.rfind("http://", 0) == 0)) {
    return Failure{"The update feed of this build isn't an https address."};
  }
  initializeNetwork();
  key_ = *key;
  delegate_ = std::move(delegate);
  started_ = true;
  return {};
}

void FeedUpdateFramework::checkForUpdatesInBackground() {
  if (!started_ || inSession_ || staged_ || installed_) {
    return;
  }
  if (session_.joinable()) {
    session_.join();  // finished: its outcome was delivered
  }
  inSession_ = true;
  std::weak_ptr<FeedUpdateFramework*> weak = self_;
  session_ = std::thread([this, weak] {
    auto outcome = std::make_shared<Outcome>(runSession());
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [weak, outcome] {
          if (const auto self = weak.lock(); self && *self != nullptr) {
            (*self)->finish(std::move(*outcome));
          }
        },
        Qt::QueuedConnection);
  });
}

std::optional<std::string> FeedUpdateFramework::newestInstalled(const std::string& stateFile) {
  std::ifstream in(stateFile, std::ios::binary);
  std::string text;
  if (!in || !std::getline(in, text, '\0') || text.size() > kMaxFeedBytes) {
    return std::nullopt;
  }
  const nlohmann::json state = nlohmann::json::parse(text, nullptr, false);
  const auto build = state.is_object() ? state.find("newestBuild") : state.end();
  if (build == state.end() || !build->is_string() || build->get<std::string>().empty()) {
    return std::nullopt;
  }
  return build->get<std::string>();
}

void FeedUpdateFramework::recordInstalled(const std::string& build) const {
  const auto newest = newestInstalled(options_.stateFile);
  if ((newest && compareVersions(build, *newest) <= 0) || options_.stateFile.empty()) {
    return;
  }
  std::error_code ignored;
  fs::create_directories(fs::path(options_.stateFile).parent_path(), ignored);
  const nlohmann::json state = {{"newestBuild", build}};
  if (auto written = AtomicFile::write(options_.stateFile, state.dump() + "\n", 0600);
      !written && options_.log) {
    options_.log("Couldn't record the installed build " + build + ": " +
                 written.failure().description);
  }
}

FeedUpdateFramework::Outcome FeedUpdateFramework::runSession() const {
  Outcome outcome;
  auto text = fetchText(options_.feedUrl, kMaxFeedBytes, options_.transfer);
  if (!text) {
    outcome.error =
        error(feedUnreachable, "The update feed can't be fetched.", text.failure().description);
    return outcome;
  }
  auto parsed = Feed::parse(text.value(), key_);
  if (!parsed) {
    outcome.error =
        error(feedUnreadable, "The update feed isn't valid: " + parsed.failure().description + ".");
    return outcome;
  }
  const Feed& feed = parsed.value();
  // The running build counts as installed: a copy put in place by hand raises the floor too.
  recordInstalled(options_.runningBuild);
  std::string newest = options_.runningBuild;
  if (auto stored = newestInstalled(options_.stateFile);
      stored && compareVersions(*stored, newest) > 0) {
    newest = std::move(*stored);
  }
  if (compareVersions(feed.build, options_.runningBuild) == 0) {
    outcome.notFound = true;
    outcome.error = error(noUpdateFound, "Vesk is up to date.");
    return outcome;
  }
  if (compareVersions(feed.build, newest) <= 0) {
    outcome.error =
        error(feedOutdated, "The update feed offers build " + feed.build +
                                ", which isn't newer than build " + newest + " installed before.");
    return outcome;
  }
  outcome.found = Update{feed.build, feed.version};
  const std::string name = "Vesk " + feed.version;
  if (feed.size > kMaxArchiveBytes) {
    outcome.error = error(downloadFailed, name + " is larger than an update may be.");
    return outcome;
  }
  std::error_code failure;
  fs::create_directories(options_.cacheFolder, failure);
  const OpenFile archive(openNamelessFile(options_.cacheFolder));
  if (archive.fd < 0) {
    outcome.error = error(downloadFailed, "The download of " + name + " failed: the folder " +
                                              options_.cacheFolder + " can't be written.");
    return outcome;
  }
  auto fetched = fetchFile(feed.url, archive.fd, feed.size, options_.transfer);
  if (!fetched) {
    outcome.error = error(downloadFailed, "The download of " + name +
                                              " failed: " + fetched.failure().description + ".");
    return outcome;
  }
  if (fetched.value() != feed.sha256) {
    outcome.error = error(signatureInvalid,
                          "The download of " + name + " isn't the archive Vesk's key signed.");
    return outcome;
  }
  const std::string staged = *prefix_ + "/lib/vesk/.staged-" + feed.version;
  fs::remove_all(staged, failure);
  if (auto unpacked = unpack(archive.fd, staged, feed.sha256); !unpacked) {
    outcome.error =
        error(unpackFailed, name + " can't be unpacked: " + unpacked.failure().description + ".");
    return outcome;
  }
  if (const auto build = buildOf(staged); build != feed.build) {
    fs::remove_all(staged, failure);
    outcome.error = error(unpackFailed, name + " isn't the build the feed names: it is build " +
                                            build.value_or("?") + ", not " + feed.build + ".");
    return outcome;
  }
  outcome.staged = staged;
  return outcome;
}

void FeedUpdateFramework::finish(Outcome outcome) {
  inSession_ = false;
  if (outcome.found && delegate_.didFindValidUpdate) {
    delegate_.didFindValidUpdate(*outcome.found);
  }
  if (outcome.notFound && delegate_.didNotFindUpdate) {
    delegate_.didNotFindUpdate();
  }
  if (outcome.error) {
    if (delegate_.didAbortWithError) {
      delegate_.didAbortWithError(*outcome.error);
    }
    return;
  }
  if (!outcome.staged || !outcome.found) {
    return;
  }
  staged_ = Staged{*outcome.found, *outcome.staged};
  std::weak_ptr<FeedUpdateFramework*> weak = self_;
  auto installNow = [weak] {
    const auto self = weak.lock();
    if (!self || *self == nullptr || !(*self)->staged_) {
      return;
    }
    FeedUpdateFramework& framework = **self;
    const std::string version = framework.staged_->update.displayVersion;
    if (auto installed = framework.installStaged(); !installed) {
      if (framework.delegate_.didAbortWithError) {
        framework.delegate_.didAbortWithError(error(
            installFailed,
            "Vesk " + version + " can't be installed: " + installed.failure().description + "."));
      }
      return;
    }
    if (framework.options_.relaunch) {
      framework.options_.relaunch(*framework.prefix_ + "/bin/vesk");
    }
  };
  if (delegate_.willInstallUpdateOnQuit) {
    delegate_.willInstallUpdateOnQuit(staged_->update, std::move(installNow));
  }
}

Result<void> FeedUpdateFramework::installStaged() {
  const Staged staged = *staged_;
  staged_.reset();
  auto installed = install(*prefix_, staged.update.displayVersion, staged.folder);
  if (!installed) {
    std::error_code ignored;
    fs::remove_all(staged.folder, ignored);
    return installed;
  }
  installed_ = true;
  recordInstalled(staged.update.version);
  const std::string running = fs::path(options_.executable).parent_path().parent_path().filename();
  if (auto removed = removeOtherVersions(*prefix_, running); !removed && options_.log) {
    options_.log("Couldn't remove the old versions of Vesk: " + removed.failure().description);
  }
  return {};
}

void FeedUpdateFramework::applicationWillTerminate() {
  stopSession();
  if (!staged_) {
    return;
  }
  const std::string version = staged_->update.displayVersion;
  if (auto installed = installStaged(); !installed && options_.log) {
    options_.log("Couldn't install Vesk " + version + ": " + installed.failure().description);
  }
}

void FeedUpdateFramework::stopSession() {
  stopping_ = true;
  if (session_.joinable()) {
    session_.join();
  }
  stopping_ = false;
}

}  // namespace vesk
