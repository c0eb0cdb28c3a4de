// A host with its own event loop (epoll here; Qt's QSocketNotifier or GLib's g_unix_fd_add work
// the same way). It watches the library's pollFd(), sleeps no longer than timeUntilNextTimer(),
// and calls processPending() after each wake-up.
#include <orv/run_loop.h>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

int main() {
  using namespace std::chrono_literals;
  orv::RunLoop& orvLoop = orv::RunLoop::main();

  const int epfd = epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.fd = orvLoop.pollFd();
  epoll_ctl(epfd, EPOLL_CTL_ADD, orvLoop.pollFd(), &ev);

  // One of the host's own event sources: a timer every 300 ms.
  const int hostTimer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  const itimerspec every300ms{{0, 300'000'000}, {0, 300'000'000}};
  timerfd_settime(hostTimer, 0, &every300ms, nullptr);
  ev.data.fd = hostTimer;
  epoll_ctl(epfd, EPOLL_CTL_ADD, hostTimer, &ev);

  bool quit = false;
  int ticks = 0;
  auto timer = orv::Timer::scheduled(250ms, true, [&](orv::Timer& t) {
    std::printf("library timer tick %d\n", ++ticks);
    if (ticks == 4) {
      t.invalidate();
      orvLoop.post([&quit] { quit = true; });
    }
  });

  while (!quit) {
    int timeoutMs = -1;
    if (auto due = orvLoop.timeUntilNextTimer()) {
      timeoutMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*due).count());
    }
    epoll_event events[4];
    const int n = epoll_wait(epfd, events, 4, timeoutMs);
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd == hostTimer) {
        uint64_t expirations = 0;
        if (read(hostTimer, &expirations, sizeof expirations) > 0) std::puts("host event");
      }
    }
    orvLoop.processPending();  // posted tasks and due timers; never blocks
  }

  close(hostTimer);
  close(epfd);
  return 0;
}
