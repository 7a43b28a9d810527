#pragma once
// WaylandPipeSends: Vesk's own data being written to the readers of its sources, each through
// the non-blocking pipe the compositor handed over, so that a reader that stalls holds up
// nothing. A send ends when all is written, when its reader goes away, or when it made no
// progress for `timeout`; its pipe is closed then.
//
// Runs on the clipboard thread only: its poll waits for the pipes too.

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>

#include <poll.h>

#include "core/clipboard/clip.h"

namespace vesk {

class WaylandPipeSends final {
 public:
  using Clock = std::chrono::steady_clock;

  explicit WaylandPipeSends(std::chrono::milliseconds timeout) : timeout_(timeout) {}
  ~WaylandPipeSends();
  WaylandPipeSends(const WaylandPipeSends&) = delete;
  WaylandPipeSends& operator=(const WaylandPipeSends&) = delete;
  WaylandPipeSends(WaylandPipeSends&&) = delete;
  WaylandPipeSends& operator=(WaylandPipeSends&&) = delete;

  // Starts writing `data` to `fd`, which it then owns.
  void add(int fd, std::shared_ptr<const Bytes> data);

  // Appends a descriptor a send (in order) waits for, and returns `until`, or earlier when a
  // send's time runs out first.
  Clock::time_point prepare(std::vector<pollfd>& descriptors, Clock::time_point until) const;
  // After the poll: writes to the pipes that are ready, `ready` being the first of the
  // descriptors `prepare` appended, and ends the sends that are done.
  void progress(const pollfd* ready);

 private:
  struct Send {
    int fd = -1;
    std::shared_ptr<const Bytes> data;
    size_t written = 0;
    Clock::time_point progressed;
  };

  const std::chrono::milliseconds timeout_;
  std::vector<Send> sends_;
};

}  // namespace vesk
