#pragma once
// A private D-Bus message bus for one test, stopped with it, and desktop services of the
// test's own registered on it.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <sys/types.h>

namespace vesk::test {

class PrivateBus {
 public:
  PrivateBus() {
    FILE* pipe = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1", "r");
    if (pipe == nullptr) {
      return;
    }
    std::string output;
    char block[256];
    size_t size = 0;
    while ((size = std::fread(block, 1, sizeof block, pipe)) > 0) {
      output.append(block, size);
    }
    ::pclose(pipe);
    std::istringstream lines(output);
    std::getline(lines, address_);
    lines >> pid_;
  }
  ~PrivateBus() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
    }
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  bool ok() const { return pid_ > 0 && !address_.empty(); }
  const std::string& address() const { return address_; }

  QDBusConnection connect(const QString& name) const {
    return QDBusConnection::connectToBus(QString::fromStdString(address_), name);
  }

 private:
  std::string address_;
  pid_t pid_ = 0;
};

// Keeps every method call it receives and answers it with `reply` (or an empty reply).
// The bus may deliver on its own thread: read `calls()` under the lock it takes.
class RecordingService : public QDBusVirtualObject {
 public:
  explicit RecordingService(std::function<QVariantList(const QDBusMessage&)> reply = {})
      : reply_(std::move(reply)) {}

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    const QVariantList answer = reply_ ? reply_(message) : QVariantList{};
    {
      const std::lock_guard lock(mutex_);
      calls_.push_back(message);
    }
    connection.send(message.createReply(answer));
    return true;
  }
  QString introspect(const QString& /*path*/) const override { return {}; }

  std::vector<QDBusMessage> calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
  }

 private:
  std::function<QVariantList(const QDBusMessage&)> reply_;
  mutable std::mutex mutex_;
  std::vector<QDBusMessage> calls_;
};

}  // namespace vesk::test
