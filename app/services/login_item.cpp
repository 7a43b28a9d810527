#include "app/services/login_item.h"

#include <QByteArray>
#include <QFileDevice>
#include <QSaveFile>
#include <QString>
#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>

#include "app/base/log.h"
#include "app/base/run_in_background.h"
#include "core/base/result.h"
#include "core/base/xdg_folders.h"

namespace vesk {

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A CMake build folder holds its cache at its top.
bool isInBuildTree(const std::filesystem::path& executable) {
  std::error_code error;
  for (std::filesystem::path folder = executable.parent_path();
       !folder.empty() && folder != folder.root_path(); folder = folder.parent_path()) {
    if (std::filesystem::exists(folder / "CMakeCache.txt", error)) {
      return true;
    }
  }
  return false;
}

// A desktop entry's Exec argument: quoted when it holds anything but plain characters, with
// the characters that are special inside quotes escaped (and each backslash doubled once more,
// since the value itself is an escaped string).
std::string execArgument(const std::string& path) {
  bool plain = true;
  for (const char c : path) {
    if (std::string_view(" \t\n\"'\\><~|&;$*?#()`%=").find(c) != std::string_view::npos) {
      plain = false;
    }
  }
  if (plain) {
    return path;
  }
  std::string quoted = "\"";
  for (const char c : path) {
    if (c == '"' || c == '`' || c == '$') {
      quoted += "\\\\";
    } else if (c == '\\') {
      quoted += R"(\\\)";
    } else if (c == '%') {
      quoted += '%';
    }
    quoted += c;
  }
  return quoted + "\"";
}

Result<void> writeEntry(const std::string& file, const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
  if (error) {
    return Failure{error.message()};
  }
  QSaveFile save(QString::fromStdString(file));
  if (!save.open(QIODevice::WriteOnly)) {
    return Failure{save.errorString().toStdString()};
  }
  save.write(QByteArray::fromStdString(text));
  save.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                      QFileDevice::ReadOther);
  if (!save.commit()) {
    return Failure{save.errorString().toStdString()};
  }
  return {};
}

std::string readAll(const std::string& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) {
    return {};
  }
  std::string text;
  if (FILE* in = std::fopen(file.c_str(), "rb")) {
    std::array<char, 4096> block{};
    size_t size = 0;
    while ((size = std::fread(block.data(), 1, block.size(), in)) > 0) {
      text.append(block.data(), size);
    }
    std::fclose(in);
  }
  return text;
}

Result<void> apply(const std::string& file, const std::string& executable, bool enabled) {
  if (enabled) {
    const std::string text = LoginItem::entryText(executable);
    if (readAll(file) == text) {
      return {};
    }
    return writeEntry(file, text);
  }
  std::error_code error;
  std::filesystem::remove(file, error);
  if (error) {
    return Failure{error.message()};
  }
  return {};
}

}  // namespace

LoginItem::Paths LoginItem::standard() {
  Paths paths;
  std::error_code error;
  paths.executable = launcherFor(std::filesystem::read_symlink("/proc/self/exe", error).string());
  const XDGFolders folders;
  paths.home = folders.home();
  paths.autostartFile = folders.configHome() + "/autostart/vesk.desktop";
  return paths;
}

std::string LoginItem::launcherFor(const std::string& executable) {
  const std::filesystem::path path(executable);
  const std::filesystem::path lib = path.parent_path().parent_path().parent_path();
  if (path.parent_path().filename() != "bin" || lib.filename() != "vesk" ||
      lib.parent_path().filename() != "lib") {
    return executable;
  }
  const std::filesystem::path link = lib.parent_path().parent_path() / "bin" / path.filename();
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(link, error)) ? link.string()
                                                                               : executable;
}

LoginItem::LoginItem(Executor& executor, Paths paths, LogLine log)
    : executor_(executor),
      paths_(std::move(paths)),
      log_(log ? std::move(log) : [](bool isError, const std::string& line) {
        if (isError) {
          Log::app.error("%s", line.c_str());
        } else {
          Log::app.debug("%s", line.c_str());
        }
      }) {}

bool LoginItem::isInApplicationsFolder() const {
  const std::string& executable = paths_.executable;
  const bool installed = startsWith(executable, "/usr/") || startsWith(executable, "/opt/") ||
                         (!paths_.home.empty() && paths_.home != "/" &&
                          startsWith(executable, paths_.home + "/.local/"));
  return installed && !isInBuildTree(executable);
}

void LoginItem::update(bool enabled, std::function<void()> done) const {
  if (!isInApplicationsFolder() || paths_.autostartFile.empty()) {
    log_(false, "Not an installed copy, launch at login left alone: " + paths_.executable);
    if (done) {
      done();
    }
    return;
  }
  runInBackground(
      executor_, QoS::utility,
      [file = paths_.autostartFile, executable = paths_.executable, enabled] {
        return apply(file, executable, enabled);
      },
      [log = log_, done = std::move(done)](const Result<void>& applied) {
        if (!applied) {
          log(true, "Couldn't update launch at login: " + applied.failure().description);
        }
        if (done) {
          done();
        }
      });
}

std::string LoginItem::entryText(const std::string& executable) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Vesk\n"
         "Comment=Keyboard launcher and clipboard history\n"
         "Exec=" +
         execArgument(executable) +
         "\n"
         "Icon=vesk\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace vesk
