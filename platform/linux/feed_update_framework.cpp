#include "platform/linux/feed_update_framework.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include <unistd.h>

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

std::optional<std::vector<uint8_t>> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

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

FeedUpdateFramework::Outcome FeedUpdateFramework::runSession() const {
  Outcome outcome;
  auto text = fetchText(options_.feedUrl, kMaxFeedBytes, options_.transfer);
  if (!text) {
    outcome.error =
        error(feedUnreachable, "The update feed can't be fetched.", text.failure().description);
    return outcome;
  }
  auto parsed = Feed::parse(text.value());
  if (!parsed) {
    outcome.error =
        error(feedUnreadable, "The update feed isn't valid: " + parsed.failure().description + ".");
    return outcome;
  }
  const Feed& feed = parsed.value();
  if (compareVersions(feed.build, options_.runningBuild) <= 0) {
    outcome.notFound = true;
    outcome.error = error(noUpdateFound, "Vesk is up to date.");
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
  const std::string archive = options_.cacheFolder + "/vesk-" + feed.version + ".tar.gz";
  if (auto fetched = fetchFile(feed.url, archive, feed.size, options_.transfer); !fetched) {
    outcome.error = error(downloadFailed, "The download of " + name +
                                              " failed: " + fetched.failure().description + ".");
    return outcome;
  }
  const auto removeArchive = [&archive] {
    std::error_code ignored;
    fs::remove(archive, ignored);
  };
  const auto bytes = readAll(archive);
  if (!bytes || !verify(key_, *bytes, feed.signature)) {
    removeArchive();
    outcome.error =
        error(signatureInvalid, "The download of " + name + " isn't signed with Vesk's key.");
    return outcome;
  }
  const std::string staged = *prefix_ + "/lib/vesk/.staged-" + feed.version;
  fs::remove_all(staged, failure);
  auto unpacked = unpack(archive, staged);
  removeArchive();
  if (!unpacked) {
    outcome.error =
        error(unpackFailed, name + " can't be unpacked: " + unpacked.failure().description + ".");
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
