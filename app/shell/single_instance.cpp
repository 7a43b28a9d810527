#include "app/shell/single_instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

#include "core/base/xdg_folders.h"

namespace vesk {

namespace {

// The line each request is sent as; a later start's option is the line's word after "--".
constexpr std::array<std::pair<std::string_view, SingleInstance::Request>, 4> kRequests{{
    {"reopen\n", SingleInstance::Request::reopen},
    {"launcher\n", SingleInstance::Request::launcher},
    {"clipboard\n", SingleInstance::Request::clipboard},
    {"paste-next\n", SingleInstance::Request::pasteNext},
}};
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

std::string_view lineOf(SingleInstance::Request request) {
  for (const auto& [line, known] : kRequests) {
    if (known == request) {
      return line;
    }
  }
  return kRequests.front().first;
}

// "launcher\n" -> "--launcher".
std::string optionOf(std::string_view line) {
  return "--" + std::string(line.substr(0, line.size() - 1));
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

std::optional<SingleInstance::Request> SingleInstance::requestOf(
    const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    return Request::reopen;
  }
  if (arguments.size() > 1) {
    return std::nullopt;
  }
  for (const auto& [line, request] : kRequests) {
    if (request != Request::reopen && arguments.front() == optionOf(line)) {
      return request;
    }
  }
  return std::nullopt;
}

bool SingleInstance::lock() {
  lock_ = std::make_unique<QLockFile>(QString::fromStdString(folder_ + "/vesk.lock"));
  lock_->setStaleLockTime(0);  // Staleness is decided by the holder's process id only.
  return lock_->tryLock(0);
}

SingleInstance::Role SingleInstance::send(Request request) {
  const QString socketPath = QString::fromStdString(folder_ + "/vesk.socket");
  const std::string_view line = lineOf(request);
  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
      problem_ = socket.errorString().toStdString();
      usleep(200 * 1000);
      continue;
    }
    socket.write(line.data(), static_cast<qint64>(line.size()));
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

void SingleInstance::listen(std::function<void(Request)> onRequest) {
  const QString socketPath = QString::fromStdString(folder_ + "/vesk.socket");
  onRequest_ = std::move(onRequest);
  QLocalServer::removeServer(socketPath);  // A socket left by a crashed run.
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  server_->setListenBacklogSize(kListenBacklog);
  server_->setMaxPendingConnections(static_cast<int>(kMaxConnections));
  if (!server_->listen(socketPath)) {
    problem_ =
        "Couldn't listen for a second start of Vesk: " + server_->errorString().toStdString();
    return;
  }
  connect(server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
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
      const std::string line = socket->readLine(64).toStdString();
      const auto known = std::find_if(kRequests.begin(), kRequests.end(),
                                      [&line](const auto& entry) { return entry.first == line; });
      if (known == kRequests.end()) {
        socket->abort();
        return;
      }
      socket->write(kAnswer.data(), static_cast<qint64>(kAnswer.size()));
      socket->flush();
      if (onRequest_) {
        onRequest_(known->second);
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
