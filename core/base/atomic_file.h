#pragma once
// AtomicFile: replaces a file so that a reader, or the next start after a crash, finds either
// the old file or the whole new one, never a part.
//
// The bytes go to a temporary file in the same folder ("." + name + ".partial-XXXXXX"), which
// gets the given mode (set explicitly, so the umask doesn't change it), is flushed to disk and
// is then renamed over the file; the folder is flushed after. On any failure the temporary is
// removed and the old file is left as it was. Callable from any thread; the folder must exist.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "core/base/result.h"

namespace vesk {

// The system's text for an errno value.
std::string errnoText(int error);

namespace AtomicFile {

// Failure: the system's text for what went wrong.
Result<void> write(const std::string& path, std::span<const uint8_t> bytes, mode_t mode);
Result<void> write(const std::string& path, std::string_view text, mode_t mode);

}  // namespace AtomicFile
}  // namespace vesk
