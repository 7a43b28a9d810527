#pragma once
// WaylandSelectionReader: reads the Wayland clipboard's current offer, one MIME type at a time,
// through a pipe the owner writes into until it closes it. Each wait for a byte lasts at most
// `stepTimeout`, so an owner that stops answering costs one step; a type larger than `maxBytes`
// is not read (one log line per copy). All the reads of one copy end by the copy's deadline,
// `copyTimeout` after `newCopy`: then the copy is given up (one log line) and reads of it give
// nothing.
//
// Runs on the clipboard thread only. While it waits, `pump` serves the connection's other
// duties (the compositor's events, Vesk's own sources).

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/clipboard/clip.h"

struct zwlr_data_control_offer_v1;

namespace vesk {

class WaylandSelectionReader final {
 public:
  using Clock = std::chrono::steady_clock;
  // One round of the clipboard thread's waiting, until `until` or until `fd` is ready; the
  // events of `fd`.
  using Pump = std::function<short(int fd, Clock::time_point until)>;
  using Log = std::function<void(const std::string&)>;

  WaylandSelectionReader(std::chrono::milliseconds stepTimeout,
                         std::chrono::milliseconds copyTimeout, uint64_t maxBytes, Pump pump,
                         Log log);

  // Starts reading a new copy: its deadline is `copyTimeout` from now, and its size problem is
  // logged again.
  void newCopy();

  // `mimeType` of `offer`; none when `ended` comes to hold meanwhile (the copy was replaced),
  // the owner stalled, closed the pipe with an error or sent more than `maxBytes`, or the copy
  // was given up.
  std::optional<Bytes> receive(zwlr_data_control_offer_v1* offer, const std::string& mimeType,
                               const std::function<bool()>& ended);

  // Whether reading the current copy was given up at its deadline.
  bool gaveUp() const { return gaveUp_; }

 private:
  void giveUp();
  void tooLarge(const std::string& mimeType);

  const std::chrono::milliseconds stepTimeout_;
  const std::chrono::milliseconds copyTimeout_;
  const uint64_t maxBytes_;
  const Pump pump_;
  const Log log_;
  Clock::time_point deadline_{};
  bool gaveUp_ = false;
  bool tooLargeLogged_ = false;
};

}  // namespace vesk
