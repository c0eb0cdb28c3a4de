// Descriptor readiness on a run loop: the loop wakes when a watched descriptor is ready and runs
// its handler on the loop's thread, so sockets and devices are read without threads or polling.
// Also wakes hosts that drive the loop through RunLoop::pollFd().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace orv {
class RunLoop;
}

namespace orv::detail {

class DescriptorWatch {
 public:
  // Receives the ready events (EPOLLIN, EPOLLOUT, EPOLLERR, EPOLLHUP, ...).
  using Handler = std::function<void(uint32_t events)>;

  // Watches `fd` for `events` (epoll flags, level-triggered) on the calling thread's run loop.
  // Null when the descriptor cannot be watched (closed, a regular file, already watched on this
  // loop). The handler may destroy the watch.
  static std::unique_ptr<DescriptorWatch> create(int fd, uint32_t events, Handler handler);
  // Owner thread only; false when the kernel refuses.
  bool setEvents(uint32_t events);
  // Stops watching; must run on the loop's thread, before the descriptor is closed.
  ~DescriptorWatch();

  DescriptorWatch(const DescriptorWatch&) = delete;
  DescriptorWatch& operator=(const DescriptorWatch&) = delete;

 private:
  DescriptorWatch(RunLoop& loop, int fd, uint64_t id) : loop_(loop), fd_(fd), id_(id) {}
  RunLoop& loop_;
  int fd_;
  uint64_t id_;
};

}  // namespace orv::detail
