#pragma once
// DBusFileManager: FileManager over the freedesktop file-manager interface
// (org.freedesktop.FileManager1.ShowItems on the session bus), falling back to opening the
// first path's folder with its default application when no file manager serves it (one that
// answers late is still starting and shows the file itself), and GIO's trash (g_file_trash, the
// freedesktop trash of the file's volume).

#include <string>
#include <utility>

#include "platform/file_manager.h"

namespace vesk {

class DBusFileManager final : public FileManager {
 public:
  // How long a reveal waits for the file manager's answer; without one by then the reveal
  // counts as done.
  static constexpr int kRevealTimeoutMs = 2000;

  // `busAddress` empty: the session bus; otherwise the bus at that D-Bus address.
  explicit DBusFileManager(std::string busAddress = "") : busAddress_(std::move(busAddress)) {}

  Result<void> reveal(const std::vector<std::string>& paths) override;
  Result<void> trash(const std::string& path) override;

 private:
  std::string busAddress_;
};

}  // namespace vesk
