#include "platform/wayland/wayland_pipe_sends.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace vesk {
namespace {

constexpr size_t kChunk = size_t{64} * 1024;

}  // namespace

WaylandPipeSends::~WaylandPipeSends() {
  for (const Send& send : sends_) {
    ::close(send.fd);
  }
}

void WaylandPipeSends::add(int fd, std::shared_ptr<const Bytes> data) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  sends_.push_back({fd, std::move(data), 0, Clock::now()});
}

WaylandPipeSends::Clock::time_point WaylandPipeSends::prepare(std::vector<pollfd>& descriptors,
                                                              Clock::time_point until) const {
  for (const Send& send : sends_) {
    descriptors.push_back({send.fd, POLLOUT, 0});
    until = std::min(until, send.progressed + timeout_);
  }
  return until;
}

void WaylandPipeSends::progress(const pollfd* ready) {
  const auto now = Clock::now();
  for (size_t i = 0; i < sends_.size(); ++i) {
    Send& send = sends_[i];
    if ((ready[i].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t written = ::write(send.fd, send.data->data() + send.written,
                                      std::min(kChunk, send.data->size() - send.written));
      if (written > 0) {
        send.written += static_cast<size_t>(written);
        send.progressed = now;
      } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
        send.written = send.data->size();  // the reader went away
      }
    }
  }
  std::erase_if(sends_, [&](const Send& send) {
    const bool done = send.written >= send.data->size() || now >= send.progressed + timeout_;
    if (done) {
      ::close(send.fd);
    }
    return done;
  });
}

}  // namespace vesk
