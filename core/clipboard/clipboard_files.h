#pragma once
// ClipboardFiles: the file-system work of the clipboard store; files are written with
// AtomicFile. Everything it creates is
// private to the user: folders 0700, files 0600, because they hold what was copied.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/base/result.h"

namespace vesk::ClipboardFiles {

// Creates the folder and any missing parents, each new one with mode 0700. Folders that
// already exist keep their mode. Failure: "couldn't create " + path + ": " + error text.
Result<void> createFolder(const std::string& path);

// Takes the group's and others' access away from an existing file or folder (not a link), so
// that it has at most `mode`. True when it was wider; false when it was not, or is missing.
bool narrow(const std::string& path, unsigned mode);

// The mode of every file the store writes (through AtomicFile).
inline constexpr unsigned kFileMode = 0600;

// The whole file; failure: the error text.
Result<std::vector<uint8_t>> read(const std::string& path);

// True when something exists at the path.
bool exists(const std::string& path);

// Removes a file; one that isn't there is no failure. Failure: the error text.
Result<void> remove(const std::string& path);

// Removes a file, ignoring every error (most often: it isn't there).
void removeQuietly(const std::string& path);

// The names in a folder (not "." and ".."); empty when it can't be listed.
std::vector<std::string> names(const std::string& folder);

}  // namespace vesk::ClipboardFiles
