#include "app/shell/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include <sys/stat.h>
#include <unistd.h>

#include "core/base/xdg_folders.h"

namespace vesk {

namespace {

constexpr std::string_view kRequest = "reopen\n";
constexpr std::string_view kAnswer = "ok\n";
constexpr int kConnectTimeoutMs = 1000;
constexpr int kAnswerTimeoutMs = 2000;
// A starting primary may hold the lock a moment before it listens.
constexpr int kConnectAttempts = 5;
// A second start writes its request at once: a connection that doesn't is dropped after this,
// and no more than this many are served at a time (a new one displaces the oldest), so that
// a flood of idle connections costs the main thread nothing.
constexpr int kIdleMs = 2000;
constexpr size_t kMaxConnections = 8;
constexpr int kListenBacklog = 16;

std::string environment(const char* name) {
  const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe): main thread at start
  return value == nullptr ? std::string() : std::string(value);
}

// A directory, not a link, owned by this user, with mode 0700.
bool isPrivateFolder(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
         status.st_uid == ::getuid() && (status.st_mode & 07777) == 0700;
}

}  // namespace

SingleInstance::SingleInstance(std::string folder) : folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() {
  if (server_ != nullptr) {
    server_->close();
  }
}

Result<std::string> SingleInstance::defaultFolder() {
  if (auto runtime = XDGFolders().runtimeDir()) {
    return std::move(*runtime);
  }
  // Anyone may create names in the temporary folder: the folder is used only when it is a
  // directory (not a link) of this user that nobody else can enter.
  const std::string shared = QDir::tempPath().toStdString() + "/vesk-" + std::to_string(getuid());
  ::mkdir(shared.c_str(), 0700);
  if (isPrivateFolder(shared)) {
    return shared;
  }
  std::string cache = environment("XDG_CACHE_HOME");
  if (!cache.starts_with('/')) {
    const std::string home = environment("HOME");
    if (!home.starts_with('/')) {
      return Failure{"Vesk can't start: " + shared +
                     " belongs to someone else or is open to others, and without HOME there is "
                     "no private folder for its lock."};
    }
    cache = home + "/.cache";
  }
  const std::string own = cache + "/vesk/run";
  std::error_code error;
  std::filesystem::create_directories(own, error);
  ::chmod(own.c_str(), 0700);
  if (!isPrivateFolder(own)) {
    return Failure{"Vesk can't start: neither " + shared + " nor " + own +
                   " is a folder that only you can use, for its lock."};
  }
  return own;
}

SingleInstance::Role SingleInstance::claim(std::function<void()> onReopen) {
  const QString lockPath = QString::fromStdString(folder_ + "/vesk.lock");
  const QString socketPath = QString::fromStdString(folder_ + "/vesk.socket");
  lock_ = std::make_unique<QLockFile>(lockPath);
  lock_->setStaleLockTime(0);  // Staleness is decided by the holder's process id only.

  if (lock_->tryLock(0)) {
    onReopen_ = std::move(onReopen);
    QLocalServer::removeServer(socketPath);  // A socket left by a crashed run.
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    server_->setListenBacklogSize(kListenBacklog);
    server_->setMaxPendingConnections(static_cast<int>(kMaxConnections));
    if (!server_->listen(socketPath)) {
      problem_ =
          "Couldn't listen for a second start of Vesk: " + server_->errorString().toStdString();
      return Role::primary;
    }
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return Role::primary;
  }

  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
      problem_ = socket.errorString().toStdString();
      usleep(200 * 1000);
      continue;
    }
    socket.write(kRequest.data(), static_cast<qint64>(kRequest.size()));
    socket.flush();
    while (socket.bytesAvailable() < static_cast<qint64>(kAnswer.size()) &&
           socket.waitForReadyRead(kAnswerTimeoutMs)) {
    }
    if (socket.readAll().toStdString() == kAnswer) {
      return Role::notified;
    }
    problem_ = "the running Vesk didn't answer";
  }
  problem_ = "Vesk is already running but couldn't be reached (" + problem_ + ")";
  return Role::failed;
}

void SingleInstance::accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    std::erase_if(connections_, [](const QPointer<QLocalSocket>& open) { return open.isNull(); });
    if (connections_.size() >= kMaxConnections) {
      drop(connections_.front());
      connections_.erase(connections_.begin());
    }
    connections_.emplace_back(socket);
    QTimer::singleShot(kIdleMs, socket, [socket] { drop(socket); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > 64) {
          socket->abort();  // Not one of ours.
        }
        return;
      }
      const QByteArray line = socket->readLine(64);
      if (line.toStdString() != kRequest) {
        socket->abort();
        return;
      }
      socket->write(kAnswer.data(), static_cast<qint64>(kAnswer.size()));
      socket->flush();
      if (onReopen_) {
        onReopen_();
      }
    });
  }
}

void SingleInstance::drop(QLocalSocket* socket) {
  if (socket != nullptr) {
    socket->abort();
    socket->deleteLater();
  }
}

size_t SingleInstance::openConnections() const {
  return static_cast<size_t>(
      std::count_if(connections_.begin(), connections_.end(),
                    [](const QPointer<QLocalSocket>& open) { return !open.isNull(); }));
}

}  // namespace vesk
