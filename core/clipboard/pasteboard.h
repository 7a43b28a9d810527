#pragma once
// Pasteboard: the narrow read-only view of the system clipboard that taking a snapshot of one
// copy needs. The X11 implementation lives in platform/linux; tests use a fake.
//
// Types are the uniform type identifiers Vesk stores ("public.utf8-plain-text", "public.png",
// "org.nspasteboard.ConcealedType", ...); an implementation maps its native formats to them at
// its own boundary. A password manager's KDE hint ("x-kde-passwordManagerHint" holding
// "secret") is reported as "org.nspasteboard.ConcealedType" (the snapshot also recognises the
// hint itself when it is passed through unmapped). Implementations may block (an X11 selection
// transfer does) and are called from one thread at a time, the clipboard watch queue; they never
// throw.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vesk {

class Pasteboard {
 public:
  Pasteboard() = default;
  virtual ~Pasteboard() = default;
  Pasteboard(const Pasteboard&) = delete;
  Pasteboard& operator=(const Pasteboard&) = delete;

  // A counter that changes whenever the clipboard's contents change.
  virtual int64_t changeCount() = 0;

  // The types of every item, item by item in clipboard order, each in the item's own order;
  // none when the list can't be had.
  virtual std::optional<std::vector<std::vector<std::string>>> itemTypes() = 0;

  // The data of one type of the item at `item`; none when it can't be read.
  virtual std::optional<std::vector<uint8_t>> data(size_t item, const std::string& type) = 0;

  // The data of one type of one item as text (UTF-8); none when it can't be read.
  virtual std::optional<std::string> string(size_t item, const std::string& type) = 0;

  // The clipboard's plain string, which the owner may derive from a rich representation;
  // none when there is no string flavour.
  virtual std::optional<std::string> plainString() = 0;

  // Whether reading the copy with change count `changeCount` was given up before it was read
  // whole (its owner took too long); what was read of it is then not recorded.
  virtual bool gaveUp(int64_t /*changeCount*/) { return false; }
};

}  // namespace vesk
