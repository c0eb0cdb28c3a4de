#include "location/gpsd_provider.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "location/gpsd_protocol.h"
#include "location/retry_backoff.h"
#include "platform/log.h"

namespace orv::detail {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::string_view kWatch = "?WATCH={\"enable\":true,\"json\":true}\n";

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

int msUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(left, 0, 24 * 3600 * 1000));
}

// Waits until `fd` is ready for `events`, `wakeFd` is readable or `deadline` passes (none: no
// limit). Returns the revents of `fd`; 0 on time-out; -1 when woken.
int waitFor(int fd, short events, int wakeFd, std::optional<Clock::time_point> deadline) {
  for (;;) {
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, events, 0}};
    const int n = ::poll(fds, fd >= 0 ? 2 : 1, deadline ? msUntil(*deadline) : -1);
    if (n < 0 && errno == EINTR) continue;
    if (fds[0].revents != 0) return -1;
    if (n <= 0) return 0;
    return fds[1].revents;
  }
}

std::string errnoText(int error) { return std::system_category().message(error); }

// A connected socket, or -1 with `why` set ("Connection refused"). Woken: -1 and `why` empty.
int connectTcp(const GpsdOptions& options, int wakeFd, Clock::time_point deadline,
               std::string& why) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(options.port);
  if (const int rc = ::getaddrinfo(options.host.c_str(), port.c_str(), &hints, &found)) {
    why = ::gai_strerror(rc);
    return -1;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);
  why = "no address";
  for (const addrinfo* a = found; a; a = a->ai_next) {
    Fd fd(::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (fd.get() < 0) {
      why = errnoText(errno);
      continue;
    }
    int error = ::connect(fd.get(), a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
      const int ready = waitFor(fd.get(), POLLOUT, wakeFd, deadline);
      if (ready < 0) {
        why.clear();
        return -1;
      }
      socklen_t len = sizeof error;
      if (ready == 0) {
        error = ETIMEDOUT;
      } else if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        error = errno;
      }
    }
    if (error == 0) return fd.release();
    why = errnoText(error);
  }
  return -1;
}

void logSkipped(std::string_view address, std::string_view why) {
  if (logEnabled())
    sdkLog("gpsd " + std::string(address) + ": skipped a line: " + std::string(why));
}

}  // namespace

std::string gpsdAddress(const GpsdOptions& options) {
  const bool v6 = options.host.find(':') != std::string::npos;
  return (v6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(options.port);
}

std::optional<std::string> probeTcp(const GpsdOptions& options, GpsdTiming::Seconds timeout) {
  Fd never(::eventfd(0, EFD_CLOEXEC));
  std::string why;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(timeout);
  Fd fd(connectTcp(options, never.get(), deadline, why));
  if (fd.get() >= 0) return std::nullopt;
  return why;
}

class GpsdProvider::Stream {
 public:
  Stream(GpsdOptions options, GpsdTiming timing, std::shared_ptr<LocationSink> sink)
      : options_(std::move(options)),
        address_(gpsdAddress(options_)),
        timing_(timing),
        sink_(std::move(sink)),
        wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_.get() < 0) {
      sink_->deliverError(LocationFailure::sourceUnreachable,
                          "cannot read from gpsd at " + address_ + ": " + errnoText(errno));
      return;
    }
    try {
      startThread();
    } catch (const std::system_error& e) {
      sink_->deliverError(LocationFailure::sourceUnreachable,
                          "cannot read from gpsd at " + address_ + ": " + e.what());
    }
  }
  ~Stream() {
    if (!thread_.joinable()) return;
    const uint64_t one = 1;
    while (::write(wake_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  const LocationSink* sink() const { return sink_.get(); }

 private:
  // How a session ended: `why` says more for all but `stopped`.
  enum class End { stopped, unreachable, failed, lost };

  void startThread();
  void run() {
    std::string why;
    End end = session(why);
    if (end == End::unreachable) {
      // A gpsd that answered and then went away was reached: the connection was lost.
      sink_->deliverError(
          answered_ ? LocationFailure::sourceLost : LocationFailure::sourceUnreachable,
          (answered_ ? "lost the connection to gpsd at " : "cannot connect to gpsd at ") +
              address_ + ": " + why);
      return;
    }
    while (end == End::lost) end = recover(why);
    if (end == End::failed) sink_->deliverError(failedKind_, why);
  }

  // After a loss: reconnects with backoff until a session ends other than by being unreachable.
  // Reports once when the outage passes giveUpAfter.
  End recover(std::string& why) {
    const auto lostAt = Clock::now();
    const auto giveUpAt = lostAt + std::chrono::duration_cast<Clock::duration>(timing_.giveUpAfter);
    RetryBackoff backoff(timing_.firstRetry, timing_.maxRetry);
    auto nextTry = lostAt + std::chrono::duration_cast<Clock::duration>(backoff.next());
    bool reported = false;
    for (;;) {
      if (waitFor(-1, 0, wake_.get(), reported ? nextTry : std::min(nextTry, giveUpAt)) < 0) {
        return End::stopped;
      }
      if (!reported && Clock::now() >= giveUpAt) {
        reported = true;
        sink_->deliverError(
            LocationFailure::sourceLost,
            "lost the connection to gpsd at " + address_ + " and could not reconnect: " + why);
      }
      if (Clock::now() < nextTry) continue;
      const End end = session(why);
      if (end != End::unreachable) return end;
      nextTry = Clock::now() + std::chrono::duration_cast<Clock::duration>(backoff.next());
    }
  }

  // One connection: handshake, then fixes until it ends.
  End session(std::string& why) {
    const auto answerBy =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(timing_.answerWithin);
    Fd fd(connectTcp(options_, wake_.get(), answerBy, why));
    if (fd.get() < 0) return why.empty() ? End::stopped : End::unreachable;
    splitter_.reset();
    answered_ = false;
    bool versionSeen = false;
    bool watching = false;
    char buffer[16 * 1024];
    for (;;) {
      const auto deadline = watching ? std::nullopt : std::optional(answerBy);
      const int ready = waitFor(fd.get(), POLLIN, wake_.get(), deadline);
      if (ready < 0) return End::stopped;
      if (ready == 0) {
        char within[32];
        std::snprintf(within, sizeof within, "%g", timing_.answerWithin.count());
        why = "gpsd at " + address_ + " did not answer within " + within + " s";
        failedKind_ = LocationFailure::sourceUnreachable;
        return End::failed;
      }
      const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        why = n == 0 ? "connection closed" : errnoText(errno);
        return watching ? End::lost : End::unreachable;
      }
      std::optional<End> verdict;
      failedKind_ = LocationFailure::protocolError;  // every other way a session fails
      std::vector<Location> fixes;
      splitter_.feed({buffer, static_cast<size_t>(n)}, [&](std::string_view line, bool overlong) {
        if (verdict) return;
        answered_ = true;
        if (overlong) return logSkipped(address_, "longer than 64 KiB");
        const GpsdMessage m = readGpsdLine(line, parser_, std::chrono::system_clock::now());
        if (!versionSeen && m.kind != GpsdMessage::Kind::version) {
          why = "the server at " + address_ + " is not gpsd (it did not begin with VERSION)";
          verdict = End::failed;
          return;
        }
        switch (m.kind) {
          case GpsdMessage::Kind::skipped:
            return logSkipped(address_, m.detail);
          case GpsdMessage::Kind::other:
            return;
          case GpsdMessage::Kind::version:
            if (versionSeen) return;
            versionSeen = true;
            if (m.protoMajor != 3) {
              why = "gpsd at " + address_ + " speaks protocol " + std::to_string(m.protoMajor) +
                    ", not 3";
              verdict = End::failed;
            } else if (::send(fd.get(), kWatch.data(), kWatch.size(), MSG_NOSIGNAL) < 0) {
              why = errnoText(errno);
              verdict = End::unreachable;
            }
            return;
          case GpsdMessage::Kind::watch:
            if (!m.watchJson) {
              why = "gpsd at " + address_ + " refused the WATCH request";
              verdict = End::failed;
            }
            watching = true;
            return;
          case GpsdMessage::Kind::error:
            why = "gpsd at " + address_ + " reported an error: " + m.detail;
            verdict = End::failed;
            return;
          case GpsdMessage::Kind::fix:
            fixes.push_back(m.fix);
            return;
        }
      });
      if (!fixes.empty()) sink_->deliverLocations(std::move(fixes));
      if (verdict) return *verdict;
    }
  }

  const GpsdOptions options_;
  const std::string address_;
  const GpsdTiming timing_;
  const std::shared_ptr<LocationSink> sink_;
  Fd wake_;
  GpsdLineSplitter splitter_;
  bool answered_ = false;  // a line arrived in the current session
  LocationFailure failedKind_ = LocationFailure::protocolError;  // of End::failed
  simdjson::dom::parser parser_;
  std::thread thread_;  // last: starts once everything above exists
};

// Out of the class body, where the lambda has no linkage: g++ would export the thread state of a
// lambda in an inline function from a shared liborv.
void GpsdProvider::Stream::startThread() {
  thread_ = std::thread([this] { run(); });
}

GpsdProvider::GpsdProvider(GpsdOptions options, GpsdTiming timing)
    : upstream_(std::make_shared<SharedUpstream>(
          [options = std::move(options), timing](const std::shared_ptr<LocationSink>& sink) {
            // The handle owns the connection: ending it joins the reader.
            return streamEndingWith([stream = std::make_shared<Stream>(options, timing, sink)] {});
          })) {}

GpsdProvider::~GpsdProvider() = default;

}  // namespace orv::detail
