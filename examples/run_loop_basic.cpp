// The simplest host: its main thread runs the library's main run loop. Timers fire there, and
// work finished on other threads is posted there.
#include <orv/run_loop.h>

#include <chrono>
#include <cstdio>
#include <thread>

int main() {
  using namespace std::chrono_literals;
  orv::RunLoop& loop = orv::RunLoop::main();

  int ticks = 0;
  auto timer = orv::Timer::scheduled(200ms, true, [&](orv::Timer& t) {
    std::printf("tick %d\n", ++ticks);
    if (ticks == 3) t.invalidate();
  });

  std::thread worker([&loop] { loop.post([] { std::puts("posted from a worker thread"); }); });

  // Either run for a while...
  loop.runFor(300ms);
  // ...or until something has happened (with a timeout as a safety net).
  const bool done = loop.runUntil([&] { return ticks == 3; }, 2s);
  worker.join();
  std::printf("%s after %d ticks\n", done ? "done" : "timed out", ticks);
  return done ? 0 : 1;
}
