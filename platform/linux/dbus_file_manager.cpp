// GIO names a field "signals", which is a macro unless Qt keeps its keywords to itself.
#define QT_NO_KEYWORDS

#include "platform/linux/dbus_file_manager.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <filesystem>
#include <memory>

#include <gio/gio.h>

#include "platform/linux/gio_owned.h"

namespace vesk {

namespace {

Result<void> openFolder(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  char* uri = g_filename_to_uri(folder.empty() ? "/" : folder.c_str(), nullptr, nullptr);
  if (uri == nullptr) {
    return Failure{"the folder's name isn't valid"};
  }
  GError* error = nullptr;
  const gboolean opened = g_app_info_launch_default_for_uri(uri, nullptr, &error);
  g_free(uri);
  if (opened == FALSE) {
    return failureFrom(error, "no app opens folders");
  }
  return {};
}

// Whether the failed call says that no file manager serves the interface (rather than that one
// is slow to answer).
bool isMissingFileManager(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ErrorMessage) {
    return true;
  }
  const QString name = reply.errorName();
  return name != QLatin1String("org.freedesktop.DBus.Error.NoReply") &&
         name != QLatin1String("org.freedesktop.DBus.Error.Timeout") &&
         name != QLatin1String("org.freedesktop.DBus.Error.TimedOut");
}

}  // namespace

Result<void> DBusFileManager::reveal(const std::vector<std::string>& paths) {
  if (paths.empty()) {
    return {};
  }
  QStringList uris;
  for (const std::string& path : paths) {
    // GLib escapes the name's bytes as they are; a QString would repair a name that isn't
    // UTF-8 into another file's.
    char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    if (uri == nullptr) {
      return Failure{"the file's name isn't valid"};
    }
    uris << QString::fromLatin1(uri);
    g_free(uri);
  }
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                     "/org/freedesktop/FileManager1",
                                                     "org.freedesktop.FileManager1", "ShowItems");
  call << uris << QString();
  QDBusConnection bus =
      busAddress_.empty()
          ? QDBusConnection::sessionBus()
          : QDBusConnection::connectToBus(QString::fromStdString(busAddress_),
                                          "vesk.files." + QString::fromStdString(busAddress_));
  const QDBusMessage reply = bus.call(call, QDBus::Block, kRevealTimeoutMs);
  if (reply.type() == QDBusMessage::ReplyMessage || !isMissingFileManager(reply)) {
    // A reply that doesn't come in time is a file manager still starting: it will show the
    // file, and a second window opened now would be one too many.
    return {};
  }
  return openFolder(paths.front());
}

Result<void> DBusFileManager::trash(const std::string& path) {
  const std::unique_ptr<GFile, ObjectUnref> file(g_file_new_for_path(path.c_str()));
  GError* error = nullptr;
  if (g_file_trash(file.get(), nullptr, &error) == FALSE) {
    return failureFrom(error, "the file couldn't be moved");
  }
  return {};
}

}  // namespace vesk
