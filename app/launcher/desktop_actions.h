#pragma once
// DesktopActions: what the launcher's actions do to the desktop: launch or bring forward an
// app, open files and links with their app, reveal files in the file manager, put a path or a
// file on the clipboard, open a folder in the terminal, move to the trash, quit apps and save
// a clip as a file. Each failure goes to `failed` with the title the user sees.
//
// Main thread: the members and `failed`. Blocking work (launching, D-Bus, the clipboard
// hand-over, the file system) runs in the background; its outcome comes back to the main
// thread and is dropped when the object is gone by then.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/base/executor.h"
#include "core/clipboard/clip.h"
#include "core/search/item.h"
#include "platform/workspace.h"

namespace vesk {

class AppCatalog;
class ClipboardStore;
class FileManager;
class PasteboardWriter;

struct DesktopServices {
  std::shared_ptr<AppCatalog> catalog;
  std::shared_ptr<FileManager> fileManager;
  std::shared_ptr<PasteboardWriter> writer;  // none: nothing can be copied
  std::shared_ptr<Workspace> workspace;      // none: no app is known to run
};

class DesktopActions final {
 public:
  using Failed = std::function<void(
      const std::string& title, const std::optional<std::string>& path, const std::string& reason)>;

  explicit DesktopActions(Executor& executor, DesktopServices services);
  ~DesktopActions();
  DesktopActions(const DesktopActions&) = delete;
  DesktopActions& operator=(const DesktopActions&) = delete;
  DesktopActions(DesktopActions&&) = delete;
  DesktopActions& operator=(DesktopActions&&) = delete;

  const DesktopServices& services() const { return services_; }
  std::string configuredTerminal() const;

  // Every failure, on the main thread.
  Failed failed;
  // The configured terminal's entry (its owner's setting, read at each launch; null or none:
  // not set): apps whose entry asks for a terminal run in it.
  const std::optional<std::string>* terminalApp = nullptr;

  // Brings the running app forward, else launches it; `userTime` is the X server time of the
  // key press (0 when unknown).
  void openApp(const Item& app, const std::optional<RunningApp>& running, uint32_t userTime);
  // Opens the targets with the app, or each with its default handler without one.
  void open(const std::vector<std::string>& targets, const std::optional<std::string>& app,
            uint32_t userTime);
  // Opens a file with its configured app (the open_with table), else its default one.
  void openFile(const std::string& path, const std::map<std::string, std::string>& openWith,
                uint32_t userTime);
  // Starts the terminal in the folder.
  void openInTerminal(const std::string& folder, const std::optional<std::string>& terminal,
                      uint32_t userTime);
  void reveal(const std::vector<std::string>& paths);
  // The paths of a files clip that still exist, revealed; a failure when none does.
  void revealExisting(const std::vector<std::string>& paths);
  // The path as text, or the file as a file the file managers paste (with its path as text).
  void copyPath(const std::string& path);
  void copyItem(const std::string& path);
  // `done(true)` on the main thread once the item is in the trash.
  void trash(const Item& item, std::function<void()> trashed);
  void quit(const RunningApp& app, bool force);

  // Writes the clip's text (".txt") or image (".png") into `folder` under a name no file has
  // (" 2", " 3", … added), never over an existing file; `saved(path)` on success.
  void save(const Clip& clip, std::shared_ptr<ClipboardStore> store, const std::string& folder,
            double now, std::function<void(const std::string&)> saved);

 private:
  Executor& executor_;
  void report(const std::string& title, const std::optional<std::string>& path,
              const std::string& reason) const;
  template <class Work>
  void reporting(std::string title, std::optional<std::string> path, Work work);

  DesktopServices services_;
  std::shared_ptr<DesktopActions*> self_;
};

}  // namespace vesk
