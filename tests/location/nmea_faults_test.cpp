// The NMEA provider against sources that misbehave: ones that open but never send, and one that
// sends faster than we parse.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "fake_gpsd.h"
#include "manager_fixture.h"
#include "manual_clock.h"
#include "nmea_logs.h"
#include "orv/run_loop.h"
#include "test_server.h"

namespace orv::detail {
namespace {

using namespace std::chrono_literals;

// A FIFO in a scratch folder of its own.
struct Fifo {
  Fifo() {
    std::string dir = (std::filesystem::temp_directory_path() / "orv-nmea-XXXXXX").string();
    EXPECT_NE(::mkdtemp(dir.data()), nullptr);
    folder = dir;
    path = dir + "/receiver";
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
  }
  ~Fifo() { std::filesystem::remove_all(folder); }
  std::string folder;
  std::string path;
};

// A loopback listener whose accept queue is full (backlog 0, one connection never accepted): a
// further connect is never answered.
struct FullListener {
  FullListener() {
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof a;
    EXPECT_EQ(::bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(listenFd, 0), 0);
    EXPECT_EQ(::getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &length), 0);
    port = ntohs(a.sin_port);
    filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  ~FullListener() {
    ::close(filler);
    ::close(listenFd);
  }
  int listenFd = -1;
  int filler = -1;
  uint16_t port = 0;
};

class NmeaFaultTest : public ManagerTest {};

// A source counts as working only once bytes arrive: one that opens and then ends, stays silent
// or never completes its connect is reported, once, while the attempts go on.
TEST_F(NmeaFaultTest, ASourceThatNeverSendsIsReportedOnce) {
  test::FakeGpsd server;  // any loopback TCP server will do
  const std::string closing = "127.0.0.1:" + std::to_string(server.port());
  FullListener full;
  const std::string unanswered = "127.0.0.1:" + std::to_string(full.port);
  Fifo fifo;
  const std::string udp = std::to_string(test::unusedLoopbackPort());
  struct Case {
    const char* name;
    std::string source;
    std::string text;
    RunLoop::Duration reportedAfter;  // on the manual clock; zero: once the loop sees the end
    std::function<void()> serve = {};
  };
  const Case cases[] = {
      {"accepts_and_closes", "tcp:" + closing,
       "NMEA source at " + closing + " failed before sending any data: connection closed", 0s,
       [&] {
         ASSERT_TRUE(server.accept());
         server.disconnect();
       }},
      {"full_backlog", "tcp:" + unanswered,
       "cannot connect to NMEA source at " + unanswered + ": Connection timed out", 5s},
      {"fifo_without_writer", fifo.path, "NMEA device " + fifo.path + " sent no data within 10 s",
       10s},
      {"pty_without_terminal", "/dev/ptmx", "NMEA device /dev/ptmx sent no data within 10 s", 10s},
      {"udp_without_sender", "udp:" + udp,
       "NMEA source at UDP port " + udp + " sent no data within 10 s", 10s},
  };
  ManualClock clock(loop);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    delegate->errors.clear();
    ASSERT_TRUE(LocationService::useNmea({c.source}).ok());
    manager->startUpdatingLocation();
    if (c.serve) c.serve();
    if (c.reportedAfter == RunLoop::Duration::zero()) {
      ASSERT_TRUE(waitForError());
    } else {
      clock.advance(c.reportedAfter - 10ms);
      EXPECT_TRUE(delegate->errors.empty());
      clock.advance(20ms);
    }
    ASSERT_EQ(delegate->errors.size(), 1u);
    EXPECT_EQ(delegate->errors[0], c.text);
    clock.advance(60s);
    EXPECT_EQ(delegate->errors.size(), 1u);
    manager->stopUpdatingLocation();
  }
}

// Epoch `i` of a 1 Hz receiver.
std::string epoch(int i) {
  char t[16];
  std::snprintf(t, sizeof t, "%02d%02d%02d.00", i / 3600 % 24, i / 60 % 60, i % 60);
  return test::nmeaLines(
      {std::string("GPGGA,") + t + ",3954.0000,N,11624.0000,E,1,08,0.9,50.0,M,0.0,M,,",
       std::string("GPRMC,") + t + ",A,3954.0000,N,11624.0000,E,0.5,90.0,071226,,,A"});
}

// A source that always has more: each readiness event reads a bounded amount and hands its fixes
// over, so the loop's timers still fire and its runs still return while the flood goes on.
TEST_F(NmeaFaultTest, AFloodingSourceLeavesTheLoopResponsive) {
  Fifo fifo;
  ASSERT_TRUE(LocationService::useNmea({fifo.path}).ok());
  manager->startUpdatingLocation();
  const int writer = ::open(fifo.path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  // Fill the FIFO to the brim, one epoch per write (atomic: smaller than PIPE_BUF).
  int written = 0;
  for (std::string bytes;
       bytes = epoch(written), ::write(writer, bytes.data(), bytes.size()) > 0;) {
    ++written;
  }
  const int filled = written;
  ASSERT_GT(filled, 100);

  const int stop = ::eventfd(0, EFD_CLOEXEC);
  std::thread flood([&] {
    for (;;) {
      pollfd fds[2] = {{stop, POLLIN, 0}, {writer, POLLOUT, 0}};
      if (::poll(fds, 2, -1) < 0 || fds[0].revents != 0) return;
      const std::string bytes = epoch(written);
      if (::write(writer, bytes.data(), bytes.size()) > 0) ++written;
    }
  });
  ASSERT_TRUE(waitForFixes(1));
  // The first delivery holds a bounded part of what was waiting, not all of it.
  EXPECT_LT(delegate->fixes.size(), static_cast<size_t>(filled / 2));
  bool fired = false;
  auto timer = Timer::scheduled(0s, false, [&](Timer&) { fired = true; });
  EXPECT_TRUE(loop.runUntil([&] { return fired; }, 15s));
  const size_t before = delegate->fixes.size();
  EXPECT_TRUE(waitForFixes(before + 1));
  loop.runFor(1ms);  // returns although the source is never drained

  const uint64_t one = 1;
  ASSERT_EQ(::write(stop, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  flood.join();
  manager->stopUpdatingLocation();
  ::close(writer);
  ::close(stop);
}

}  // namespace
}  // namespace orv::detail
