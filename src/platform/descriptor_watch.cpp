#include "platform/descriptor_watch.h"

#include <sys/epoll.h>

#include <array>

#include "orv/run_loop.h"
#include "platform/run_loop_impl.h"

namespace orv {

bool RunLoop::Impl::dispatchDescriptors() {
  if (watches.empty()) return false;
  std::array<epoll_event, 16> ready{};
  const int n = ::epoll_wait(epollFd, ready.data(), static_cast<int>(ready.size()), 0);
  bool ran = false;
  for (int i = 0; i < n; ++i) {
    // epoll_event is packed: copy the id rather than bind a reference to it.
    const uint64_t id = ready[static_cast<size_t>(i)].data.u64;
    const auto it = watches.find(id);
    if (it == watches.end()) continue;  // the event descriptor, or a watch ended meanwhile
    const auto handler = it->second;    // kept alive while it runs, even if it ends the watch
    (*handler)(ready[static_cast<size_t>(i)].events);
    ran = true;
  }
  return ran;
}

namespace detail {

std::unique_ptr<DescriptorWatch> DescriptorWatch::create(int fd, uint32_t events, Handler handler) {
  RunLoop& loop = RunLoop::current();
  RunLoop::Impl& impl = loop.impl();
  const uint64_t id = impl.nextWatchId++;
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = id;
  if (!handler || ::epoll_ctl(impl.epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) return nullptr;
  impl.watches.emplace(id, std::make_shared<Handler>(std::move(handler)));
  return std::unique_ptr<DescriptorWatch>(new DescriptorWatch(loop, fd, id));
}

bool DescriptorWatch::setEvents(uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.u64 = id_;
  return ::epoll_ctl(loop_.impl().epollFd, EPOLL_CTL_MOD, fd_, &ev) == 0;
}

DescriptorWatch::~DescriptorWatch() {
  RunLoop::Impl& impl = loop_.impl();
  ::epoll_ctl(impl.epollFd, EPOLL_CTL_DEL, fd_, nullptr);
  impl.watches.erase(id_);
}

}  // namespace detail
}  // namespace orv
