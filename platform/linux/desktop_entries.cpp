#include "platform/linux/desktop_entries.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include <gio/gdesktopappinfo.h>

#include "core/base/regular_file.h"
#include "core/base/xdg_folders.h"

namespace vesk {

namespace {

namespace fs = std::filesystem;

// Deeper folders than this hold no entries on any real system; a loop of links ends here too.
constexpr int kMaxDepth = 4;

// An app info made from the key file keeps a reference to it and reads its actions from it
// later: g_key_file_free would empty it under the app info.
struct KeyFileFree {
  void operator()(GKeyFile* file) const { g_key_file_unref(file); }
};

std::vector<std::string> standardFolders() {
  const XDGFolders xdg;
  std::vector<std::string> folders{xdg.dataHome() + "/applications"};
  for (const std::string& dir : xdg.dataDirs()) {
    std::string folder = dir + "/applications";
    if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
      folders.push_back(std::move(folder));
    }
  }
  return folders;
}

// The entries below `folder` as (desktop id, path), in the folder's sorted order.
std::vector<std::pair<std::string, std::string>> entriesIn(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> entries;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (const fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    const std::string name = path.filename().string();
    std::error_code typeError;
    if (it->is_directory(typeError)) {
      if (it.depth() + 1 >= kMaxDepth) {
        it.disable_recursion_pending();
      }
      continue;
    }
    if (!name.ends_with(".desktop")) {
      continue;
    }
    std::string id = path.lexically_relative(folder).generic_string();
    std::replace(id.begin(), id.end(), '/', '-');
    entries.emplace_back(std::move(id), path.string());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace

void DesktopEntries::Unref::operator()(GDesktopAppInfo* app) const {
  g_object_unref(app);
}

DesktopEntries::DesktopEntries() : DesktopEntries(standardFolders()) {}

DesktopEntries::DesktopEntries(std::vector<std::string> folders) : folders_(std::move(folders)) {}

DesktopEntries::App DesktopEntries::read(const std::string& path) {
  const RegularFile file = RegularFile::read(path, kMaxEntryBytes);
  if (file.problem != RegularFile::Problem::none) {
    return nullptr;
  }
  const std::unique_ptr<GKeyFile, KeyFileFree> keys(g_key_file_new());
  if (g_key_file_load_from_data(keys.get(), file.bytes.data(), file.bytes.size(), G_KEY_FILE_NONE,
                                nullptr) == FALSE) {
    return nullptr;
  }
  return App(g_desktop_app_info_new_from_keyfile(keys.get()));
}

std::vector<DesktopEntries::Listed> DesktopEntries::all() const {
  std::vector<Listed> listed;
  std::set<std::string> seen;
  for (const std::string& folder : folders_) {
    for (auto& [id, path] : entriesIn(folder)) {
      if (!seen.insert(id).second) {
        continue;
      }
      if (App app = read(path)) {
        listed.push_back({std::move(id), std::move(path), std::move(app)});
      }
    }
  }
  return listed;
}

std::optional<std::string> DesktopEntries::pathForId(const std::string& id) const {
  for (const std::string& folder : folders_) {
    for (auto& [found, path] : entriesIn(folder)) {
      if (found == id) {
        return std::move(path);
      }
    }
  }
  return std::nullopt;
}

}  // namespace vesk
