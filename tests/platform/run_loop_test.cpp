#include "orv/run_loop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <future>
#include <thread>
#include <vector>

#include "platform/descriptor_watch.h"
#include "platform/run_loop_impl.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

bool readable(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  return ::poll(&pfd, 1, 0) == 1;
}

// Each test starts from an idle main loop.
class RunLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { loop.processPending(); }
  RunLoop& loop = RunLoop::main();
};

// Posted work runs on a later pass, in posting order, and wakes a host polling pollFd(); what a
// task posts waits for the next pass. runUntil stops at the task that satisfies it and keeps the
// rest; it times out; an earlier stop() does not carry over into the next run.
TEST_F(RunLoopTest, PostedWorkAndRunUntil) {
  std::vector<int> seen;
  EXPECT_FALSE(readable(loop.pollFd()));
  loop.post([&] { seen.push_back(1); });
  loop.post([&] {
    seen.push_back(2);
    loop.post([&] { seen.push_back(3); });
  });
  EXPECT_TRUE(seen.empty());
  EXPECT_TRUE(readable(loop.pollFd()));
  loop.processPending();
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  loop.processPending();
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(readable(loop.pollFd()));
  seen.clear();
  for (int i = 0; i < 4; ++i) loop.post([&, i] { seen.push_back(i); });
  EXPECT_TRUE(loop.runUntil([&] { return seen.size() == 2; }, 5s));
  EXPECT_EQ(seen, (std::vector<int>{0, 1}));
  EXPECT_TRUE(readable(loop.pollFd()));
  loop.processPending();
  loop.stop();
  EXPECT_FALSE(loop.runUntil([] { return false; }, 20ms));
  loop.post([&] { seen.push_back(4); });
  loop.runFor(10ms);
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
}

// A worker's loop is its own: main() stays the main loop there, posts to the worker run on it,
// running it off its thread is refused, and stop() from another thread ends its run().
TEST_F(RunLoopTest, WorkerThreadRunsItsOwnLoop) {
  std::promise<RunLoop*> current;
  std::promise<std::thread::id> ranOn;
  std::thread th([&] {
    EXPECT_EQ(&RunLoop::main(), &loop);
    EXPECT_FALSE(RunLoop::main().isCurrent());
    current.set_value(&RunLoop::current());
    RunLoop::current().run();
  });
  RunLoop* worker = current.get_future().get();
  EXPECT_NE(worker, &RunLoop::main());
  EXPECT_FALSE(worker->runUntil([] { return false; }, 0ms));
  worker->post([&] { ranOn.set_value(std::this_thread::get_id()); });
  EXPECT_EQ(ranOn.get_future().get(), th.get_id());
  worker->stop();
  th.join();
  EXPECT_TRUE(RunLoop::main().isCurrent());
}

TEST_F(RunLoopTest, WatchedDescriptorWakesTheLoopAndTheHost) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string got;
  std::unique_ptr<detail::DescriptorWatch> watch;
  watch = detail::DescriptorWatch::create(fds[0], EPOLLIN, [&](uint32_t) {
    char c;
    if (::read(fds[0], &c, 1) == 1) got += c;
    if (got == "ab") watch.reset();  // a handler may end its own watch
  });
  ASSERT_TRUE(watch);
  EXPECT_FALSE(detail::DescriptorWatch::create(fds[0], EPOLLIN, [](uint32_t) {}));
  std::thread writer([&] { ASSERT_EQ(::write(fds[1], "a", 1), 1); });
  EXPECT_TRUE(loop.runUntil([&] { return got == "a"; }, 5s));
  writer.join();
  EXPECT_FALSE(readable(loop.pollFd()));
  ASSERT_EQ(::write(fds[1], "bc", 2), 2);
  EXPECT_TRUE(readable(loop.pollFd()));  // a host polling pollFd() wakes too
  loop.processPending();
  EXPECT_EQ(got, "ab");
  EXPECT_FALSE(watch);
  loop.processPending();
  EXPECT_FALSE(readable(loop.pollFd()));
  ::close(fds[0]);
  ::close(fds[1]);
}

TEST_F(RunLoopTest, RealTimerEndsRun) {
  auto timer = Timer::scheduled(10ms, false, [&](Timer&) { RunLoop::main().stop(); });
  loop.run();
  EXPECT_FALSE(timer->isValid());
}

// A signal handler may stop the main loop even when the signal interrupts the loop's thread
// while it holds the loop's lock (inside post()): the run ends instead of hanging.
extern "C" void stopMainLoop(int) { RunLoop::main().stop(); }

TEST_F(RunLoopTest, SignalHandlerStopsTheMainLoopInsidePost) {
  struct sigaction action {
  }, previous{};
  action.sa_handler = stopMainLoop;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  loop.post([&] {
    std::lock_guard lock(loop.impl().mutex);  // where post() is when the signal lands
    ::raise(SIGUSR1);
  });
  loop.runFor(std::chrono::hours(1));  // returns at the stop
  ::sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
}  // namespace orv
