#include "platform/wayland/wayland_selection_reader.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <wlr-data-control-unstable-v1-client-protocol.h>

#include "platform/linux/x11_pasteboard.h"

namespace vesk {
namespace {

constexpr size_t kChunk = size_t{64} * 1024;

}  // namespace

WaylandSelectionReader::WaylandSelectionReader(std::chrono::milliseconds stepTimeout,
                                               std::chrono::milliseconds copyTimeout,
                                               uint64_t maxBytes, Pump pump, Log log)
    : stepTimeout_(stepTimeout),
      copyTimeout_(copyTimeout),
      maxBytes_(maxBytes),
      pump_(std::move(pump)),
      log_(std::move(log)) {}

void WaylandSelectionReader::newCopy() {
  gaveUp_ = false;
  tooLargeLogged_ = false;
  deadline_ = Clock::now() + copyTimeout_;
}

std::optional<Bytes> WaylandSelectionReader::receive(zwlr_data_control_offer_v1* offer,
                                                     const std::string& mimeType,
                                                     const std::function<bool()>& ended) {
  if (offer == nullptr || gaveUp_ || ended()) {
    return std::nullopt;
  }
  std::array<int, 2> pipe{-1, -1};
  if (::pipe2(pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
    return std::nullopt;
  }
  zwlr_data_control_offer_v1_receive(offer, mimeType.c_str(), pipe[1]);
  ::close(pipe[1]);
  const int fd = pipe[0];
  Bytes bytes;
  auto quiet = Clock::now() + stepTimeout_;
  for (;;) {
    if (ended()) {
      break;
    }
    const auto now = Clock::now();
    if (now >= deadline_) {
      giveUp();
      break;
    }
    if (now >= quiet) {
      break;
    }
    if ((pump_(fd, std::min(quiet, deadline_)) & (POLLIN | POLLHUP | POLLERR)) == 0) {
      continue;
    }
    std::array<uint8_t, kChunk> chunk{};
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got == 0) {
      ::close(fd);
      return bytes;
    }
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) {
        continue;
      }
      break;
    }
    if (bytes.size() + static_cast<size_t>(got) > maxBytes_) {
      tooLarge(mimeType);
      break;
    }
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    quiet = Clock::now() + stepTimeout_;
  }
  ::close(fd);
  return std::nullopt;
}

// The copy took longer than copyTimeout: nothing more of it is read.
void WaylandSelectionReader::giveUp() {
  gaveUp_ = true;
  log_(X11Pasteboard::gaveUpLine(copyTimeout_));
}

// Said once per copy: a type of it is larger than maxBytes.
void WaylandSelectionReader::tooLarge(const std::string& mimeType) {
  if (!tooLargeLogged_) {
    tooLargeLogged_ = true;
    log_("Couldn't read a copy of " + mimeType + ": it is larger than " +
         std::to_string(maxBytes_ >> 20) + " MiB");
  }
}

}  // namespace vesk
