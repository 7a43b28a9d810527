#pragma once
// WaylandClipboard: the Wayland clipboard (the seat's selection), read as Vesk's Pasteboard and
// written as its PasteboardWriter, through the data-control protocol: ext_data_control_manager_v1
// when the compositor offers it, else zwlr_data_control_manager_v1 (the same requests). It has
// its own connection and its own thread, which waits for the compositor's events: each new
// selection raises the change count, requests for Vesk's own writes are served at once (through
// non-blocking pipes, so a reader that stalls holds up nothing), and reads and writes from other
// threads are run there one at a time (the calling thread waits for the result).
//
// Reading asks the owner for each wanted MIME type through a pipe and takes what it writes until
// it closes the pipe, with the X11 clipboard's limits: at most `stepTimeout` without a byte, at
// most `copyTimeout` for all the reads of one copy (then the copy is given up, logged once), and
// a representation larger than `maxBytes` is not read (logged once per copy). A newer copy ends
// the reads of the one before at once. The types and markers map as on X11 (X11ClipboardTypes);
// a copy marked as concealed, transient or generated, or with KDE's password hint, is seen as
// such before any of its data is read, and of an owner offering thousands of types only the
// first few hundred names are kept (the markers always).
//
// With `manageClipboard`, a copy whose owner quits (the selection is cleared) is offered again
// by Vesk, with the representations the history read of it; concealed and transient copies,
// never read, are not.
//
// Every member may be called from any thread. Destruction stops the thread; calls still
// waiting then give nothing.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/base/result.h"
#include "core/clipboard/pasteboard.h"
#include "platform/linux/x11_pasteboard.h"
#include "platform/pasteboard_writer.h"

namespace vesk {

class WaylandClipboard final : public Pasteboard, public PasteboardWriter {
 public:
  // The X11 clipboard's options, limits included; `display` "" is $WAYLAND_DISPLAY.
  using Options = X11Pasteboard::Options;

  // Fails, naming what is missing, when there is no compositor or it offers neither protocol.
  static Result<std::unique_ptr<WaylandClipboard>> open(Options options);
  ~WaylandClipboard() override;

  // The global in use: "ext_data_control_manager_v1" or "zwlr_data_control_manager_v1".
  const std::string& protocol() const { return protocol_; }

  int64_t changeCount() override;
  std::optional<std::vector<std::vector<std::string>>> itemTypes() override;
  std::optional<std::vector<uint8_t>> data(size_t item, const std::string& type) override;
  std::optional<std::string> string(size_t item, const std::string& type) override;
  std::optional<std::string> plainString() override;
  bool gaveUp(int64_t changeCount) override;

  Result<int64_t> write(const ClipItems& items) override;

  // Whether the selection is Vesk's now (its last write, or a copy it offers again for an
  // application that quit, was not replaced yet).
  bool ownsClipboard();

 private:
  class Worker;
  WaylandClipboard(std::unique_ptr<Worker> worker, std::string protocol);

  std::unique_ptr<Worker> worker_;
  std::string protocol_;
};

}  // namespace vesk
