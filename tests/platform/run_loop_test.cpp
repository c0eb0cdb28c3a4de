#include "orv/run_loop.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/descriptor_watch.h"
#include "platform/manual_clock.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

bool readable(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  return ::poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLIN);
}

// Drain whatever earlier tests left behind so each test starts from an idle main loop.
class RunLoopTest : public ::testing::Test {
 protected:
  void SetUp() override { RunLoop::main().processPending(); }
  RunLoop& loop = RunLoop::main();
};

// Posted work runs on a later pass, in posting order, and wakes a host polling pollFd(); what a
// task posts waits for the next pass.
TEST_F(RunLoopTest, PostRunsLaterInPostingOrderAndSignalsPollFd) {
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
}

TEST_F(RunLoopTest, MainIsTheSameLoopFromEveryThread) {
  EXPECT_EQ(&RunLoop::current(), &RunLoop::main());
  EXPECT_TRUE(RunLoop::main().isCurrent());
  RunLoop* mainSeenThere = nullptr;
  RunLoop* currentThere = nullptr;
  bool mainIsCurrentThere = true;
  std::thread([&] {
    mainSeenThere = &RunLoop::main();
    currentThere = &RunLoop::current();
    mainIsCurrentThere = RunLoop::main().isCurrent();
  }).join();
  EXPECT_EQ(mainSeenThere, &RunLoop::main());
  EXPECT_NE(currentThere, &RunLoop::main());
  EXPECT_FALSE(mainIsCurrentThere);
}

// Many threads post at once: nothing lost, each thread's tasks in its own order.
TEST_F(RunLoopTest, ConcurrentPostsKeepPerThreadOrder) {
  constexpr int kThreads = 8;
  constexpr int kPerThread = 2000;
  std::vector<std::vector<int>> seen(kThreads);
  int total = 0;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kPerThread; ++i) {
        RunLoop::main().post([&, t, i] {
          seen[t].push_back(i);
          ++total;
        });
      }
    });
  }
  go = true;
  EXPECT_TRUE(loop.runUntil([&] { return total == kThreads * kPerThread; }, 60s));
  for (auto& th : threads) th.join();
  loop.processPending();
  EXPECT_EQ(total, kThreads * kPerThread);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<size_t>(kPerThread));
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST_F(RunLoopTest, RunUntilStopsAtTheTaskThatSatisfiesItAndKeepsTheRest) {
  std::vector<int> seen;
  for (int i = 0; i < 4; ++i) loop.post([&, i] { seen.push_back(i); });
  EXPECT_TRUE(loop.runUntil([&] { return seen.size() == 2; }, 5s));
  EXPECT_EQ(seen, (std::vector<int>{0, 1}));
  EXPECT_TRUE(readable(loop.pollFd()));
  loop.processPending();
  EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(RunLoopTest, RunUntilTimesOutAndAnEarlierStopDoesNotCarryOver) {
  loop.stop();
  EXPECT_FALSE(loop.runUntil([] { return false; }, 20ms));
  EXPECT_TRUE(loop.runUntil([] { return true; }, 0ms));
  int ran = 0;
  loop.post([&] { ++ran; });
  loop.runFor(10ms);
  EXPECT_EQ(ran, 1);
}

TEST_F(RunLoopTest, StopFromAnotherThreadEndsRun) {
  std::atomic<bool> started{false};
  loop.post([&] { started = true; });
  std::thread stopper([&] {
    while (!started) std::this_thread::yield();
    RunLoop::main().stop();
  });
  loop.run();
  stopper.join();
  EXPECT_TRUE(started);
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

TEST_F(RunLoopTest, TimeUntilNextTimerFollowsTheEarliestValidTimer) {
  detail::ManualClock clock(loop);
  EXPECT_FALSE(loop.timeUntilNextTimer().has_value());
  auto late = Timer::scheduled(2s, false, [](Timer&) {});
  auto soon = Timer::scheduled(500ms, false, [](Timer&) {});
  EXPECT_EQ(loop.timeUntilNextTimer(), RunLoop::Duration(500ms));
  soon->invalidate();
  EXPECT_EQ(loop.timeUntilNextTimer(), RunLoop::Duration(2s));
  clock.jump(3s);
  EXPECT_EQ(loop.timeUntilNextTimer(), RunLoop::Duration::zero());
  late->invalidate();
  EXPECT_FALSE(loop.timeUntilNextTimer().has_value());
}

TEST_F(RunLoopTest, WorkerThreadRunsItsOwnLoop) {
  RunLoop* worker = nullptr;
  std::atomic<bool> ready{false};
  std::thread::id ranOn, workerId;
  std::thread th([&] {
    workerId = std::this_thread::get_id();
    worker = &RunLoop::current();
    ready = true;
    worker->run();
  });
  while (!ready) std::this_thread::yield();
  // Off its thread, running the worker's loop is refused rather than racing it.
  EXPECT_FALSE(worker->runUntil([] { return false; }, 0ms));
  worker->post([&] {
    ranOn = std::this_thread::get_id();
    worker->stop();
  });
  th.join();
  EXPECT_EQ(ranOn, workerId);
}

TEST_F(RunLoopTest, RealTimerEndsRun) {
  int fired = 0;
  auto timer = Timer::scheduled(10ms, false, [&](Timer&) {
    ++fired;
    RunLoop::main().stop();
  });
  loop.run();
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timer->isValid());
}

}  // namespace
}  // namespace orv
