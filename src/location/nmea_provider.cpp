#include "location/nmea_provider.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "location/nmea_parser.h"
#include "location/retry_backoff.h"
#include "orv/run_loop.h"
#include "platform/descriptor_watch.h"

namespace orv::detail {
namespace {

constexpr RetryBackoff::Seconds kFirstRetry{0.25};
constexpr RetryBackoff::Seconds kLongestRetry{8.0};
constexpr RetryBackoff::Seconds kGrace{10.0};
constexpr RetryBackoff::Seconds kConnectWithin{5.0};
// Read per readiness event: a source faster than the parser must not keep the loop from its
// timers and other descriptors, nor pile up fixes before they are delivered.
constexpr size_t kReadBudget = 16 * 1024;

struct Baud {
  int rate;
  speed_t speed;
};
constexpr Baud kBauds[] = {{4800, B4800},     {9600, B9600},     {19200, B19200},
                           {38400, B38400},   {57600, B57600},   {115200, B115200},
                           {230400, B230400}, {460800, B460800}, {921600, B921600}};

std::optional<speed_t> speedOf(int rate) {
  for (const auto& b : kBauds) {
    if (b.rate == rate) return b.speed;
  }
  return std::nullopt;
}

std::optional<uint16_t> portOf(std::string_view text) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || value == 0 ||
      value > 65535) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

Error sourceError(const std::string& what) { return Error{"orv.location.nmea", 0, what}; }

std::string errnoText(int error) { return std::strerror(error); }

int openSerial(const NmeaEndpoint& e, std::string& error) {
  const int fd = ::open(e.path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errnoText(errno);
    return -1;
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) == 0) {
    // Raw bytes at the receiver's rate: no echo, no line editing, no CR/LF translation.
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = *speedOf(e.baudRate);
    if (::cfsetispeed(&tio, speed) == 0 && ::cfsetospeed(&tio, speed) == 0 &&
        ::tcsetattr(fd, TCSANOW, &tio) == 0) {
      return fd;
    }
  } else if (errno == ENOTTY) {
    return fd;  // a FIFO or similar: bytes as they come
  }
  error = errnoText(errno);
  ::close(fd);
  return -1;
}

// Starts a non-blocking connect; `connecting` tells whether it is still under way.
int connectTcp(const NmeaEndpoint& e, bool& connecting, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(e.port);
  if (const int rc = ::getaddrinfo(e.host.c_str(), port.c_str(), &hints, &found); rc != 0) {
    error = ::gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  for (addrinfo* a = found; a; a = a->ai_next) {
    fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errnoText(errno);
      continue;
    }
    if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0 || errno == EINPROGRESS) {
      connecting = errno == EINPROGRESS;
      break;
    }
    error = errnoText(errno);
    ::close(fd);
    fd = -1;
  }
  ::freeaddrinfo(found);
  return fd;
}

int bindUdp(const NmeaEndpoint& e, std::string& error) {
  // Dual-stack where IPv6 exists, so senders may use either family.
  int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd >= 0) {
    const int off = 0;
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(e.port);
    a.sin6_addr = in6addr_any;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    error = errnoText(errno);
    ::close(fd);
    if (error != errnoText(EAFNOSUPPORT) && error != errnoText(EADDRNOTAVAIL)) return -1;
  }
  fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errnoText(errno);
    return -1;
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(e.port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  error = errnoText(errno);
  ::close(fd);
  return -1;
}

std::string openFailure(const NmeaEndpoint& e, const std::string& error) {
  switch (e.kind) {
    case NmeaEndpoint::Kind::serial:
      return "cannot open NMEA device " + e.path + ": " + error;
    case NmeaEndpoint::Kind::tcp:
      return "cannot connect to NMEA source at " + e.describe() + ": " + error;
    case NmeaEndpoint::Kind::udp:
      return "cannot listen for NMEA on " + e.describe() + ": " + error;
  }
  return error;
}

}  // namespace

Result<NmeaEndpoint> NmeaEndpoint::parse(const std::string& source, int baudRate) {
  NmeaEndpoint e;
  e.baudRate = baudRate;
  const std::string_view s = source;
  if (s.starts_with("tcp:")) {
    e.kind = Kind::tcp;
    const std::string_view rest = s.substr(4);
    const auto colon = rest.rfind(':');
    std::string_view host = rest.substr(0, colon == std::string_view::npos ? 0 : colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    }
    const auto port =
        colon == std::string_view::npos ? std::nullopt : portOf(rest.substr(colon + 1));
    if (host.empty() || !port) {
      return sourceError("NMEA TCP source must be tcp:HOST:PORT, got \"" + source + "\"");
    }
    e.host = host;
    e.port = *port;
  } else if (s.starts_with("udp:")) {
    e.kind = Kind::udp;
    const auto port = portOf(s.substr(4));
    if (!port) return sourceError("NMEA UDP source must be udp:PORT, got \"" + source + "\"");
    e.port = *port;
  } else {
    if (!s.starts_with('/')) {
      return sourceError("NMEA source must be a device path, tcp:HOST:PORT or udp:PORT, got \"" +
                         source + "\"");
    }
    if (!speedOf(baudRate)) {
      return sourceError("unsupported baud rate " + std::to_string(baudRate) +
                         " (4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600)");
    }
    e.path = source;
  }
  return e;
}

std::string NmeaEndpoint::describe() const {
  switch (kind) {
    case Kind::serial:
      return path;
    case Kind::tcp:
      return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
             std::to_string(port);
    case Kind::udp:
      return "UDP port " + std::to_string(port);
  }
  return {};
}

// The source's one stream, on its home loop. The source counts as working only once bytes
// arrive: until then (from the start, and after a loss) it is in an outage, which the grace timer
// reports when it lasts. A source that has never worked is reported as soon as an attempt fails.
class NmeaProvider::Stream : public std::enable_shared_from_this<Stream> {
 public:
  Stream(NmeaEndpoint endpoint, const std::shared_ptr<LocationSink>& sink)
      : endpoint_(std::move(endpoint)), sink_(sink) {}
  ~Stream() { end(); }

  void begin() {
    beginOutage();
    reopen();
  }

  void end() {
    close();
    for (auto* timer : {&retryTimer_, &graceTimer_}) {
      if (*timer) std::exchange(*timer, nullptr)->invalidate();
    }
  }

 private:
  void reopen() {
    retryTimer_.reset();
    std::string error;
    bool connecting = false;
    switch (endpoint_.kind) {
      case NmeaEndpoint::Kind::serial:
        fd_ = openSerial(endpoint_, error);
        break;
      case NmeaEndpoint::Kind::tcp:
        fd_ = connectTcp(endpoint_, connecting, error);
        break;
      case NmeaEndpoint::Kind::udp:
        fd_ = bindUdp(endpoint_, error);
        break;
    }
    if (fd_ >= 0) {
      std::weak_ptr<Stream> weak = weak_from_this();
      watch_ = DescriptorWatch::create(fd_, connecting ? EPOLLOUT : EPOLLIN, [weak](uint32_t ev) {
        if (auto self = weak.lock()) self->onReady(ev);
      });
      if (!watch_) error = "cannot wait for its data: " + errnoText(errno);
    }
    if (!watch_) return failed(openFailure(endpoint_, error), error);
    connecting_ = connecting;
    if (connecting_) {
      // A listener whose backlog is full never answers: the kernel would retry for minutes.
      connectTimer_ = after(kConnectWithin, [](Stream& self) {
        self.connectTimer_.reset();
        self.failed(self.connectFailure(ETIMEDOUT), errnoText(ETIMEDOUT));
      });
    }
  }

  void onReady(uint32_t events) {
    if (connecting_) {
      int error = 0;
      socklen_t length = sizeof error;
      if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      if (error == 0 && !(events & EPOLLERR)) {
        connecting_ = false;
        if (connectTimer_) std::exchange(connectTimer_, nullptr)->invalidate();
        watch_->setEvents(EPOLLIN);
      } else {
        error = error != 0 ? error : ECONNREFUSED;
        failed(connectFailure(error), errnoText(error));
      }
      return;
    }
    readSome();
  }

  std::string connectFailure(int error) const { return openFailure(endpoint_, errnoText(error)); }

  void readSome() {
    char buffer[4096];
    std::vector<Location> fixes;
    for (size_t total = 0; fd_ >= 0 && total < kReadBudget;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n > 0) {
        total += static_cast<size_t>(n);
        working();
        parser_.feed(std::string_view(buffer, static_cast<size_t>(n)), fixes);
        // A datagram is a whole number of sentences, terminated or not.
        if (endpoint_.kind == NmeaEndpoint::Kind::udp) parser_.feed("\n", fixes);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      // End of stream (connection closed) or an error (device unplugged: EIO, ENODEV).
      const std::string why = n < 0                                       ? errnoText(errno)
                              : endpoint_.kind == NmeaEndpoint::Kind::tcp ? "connection closed"
                                                                          : "end of stream";
      failed(what() + " failed before sending any data: " + why, why);
      break;
    }
    if (fixes.empty()) return;
    if (auto sink = sink_.lock()) sink->deliverLocations(std::move(fixes));
  }

  void working() {
    if (!inOutage_) return;
    everWorked_ = true;
    inOutage_ = false;
    reported_ = false;
    retryBackoff_.reset();
    if (graceTimer_) std::exchange(graceTimer_, nullptr)->invalidate();
  }

  // An attempt ended without the source working, or a working source went away: reopen with
  // backoff. `text` reports a source that has never worked, at once; a source that worked is
  // quiet for the grace period.
  void failed(const std::string& text, const std::string& why) {
    close();
    lastError_ = why;
    if (!everWorked_ && !reported_) report(text);
    beginOutage();
    scheduleRetry();
  }

  void beginOutage() {
    if (inOutage_) return;
    inOutage_ = true;
    graceTimer_ = after(kGrace, [](Stream& self) {
      self.graceTimer_.reset();
      if (self.reported_) return;
      self.report(self.everWorked_
                      ? self.what() + " lost and not back within 10 s: " + self.lastError_
                      : self.what() + " sent no data within 10 s");
    });
  }

  std::string what() const {
    return endpoint_.kind == NmeaEndpoint::Kind::serial ? "NMEA device " + endpoint_.path
                                                        : "NMEA source at " + endpoint_.describe();
  }

  // A source that never worked could not be reached; one that worked was lost.
  void report(const std::string& text) {
    reported_ = true;
    const auto kind =
        everWorked_ ? LocationFailure::sourceLost : LocationFailure::sourceUnreachable;
    if (auto sink = sink_.lock()) sink->deliverError(kind, text);
  }

  void scheduleRetry() {
    retryTimer_ = after(retryBackoff_.next(), [](Stream& self) { self.reopen(); });
  }

  // A one-shot timer on this loop that runs `work` while the stream exists.
  std::shared_ptr<Timer> after(RetryBackoff::Seconds delay, void (*work)(Stream&)) {
    return Timer::scheduled(delay, false, [weak = weak_from_this(), work](Timer&) {
      if (auto self = weak.lock()) work(*self);
    });
  }

  void close() {
    if (connectTimer_) std::exchange(connectTimer_, nullptr)->invalidate();
    watch_.reset();  // before the descriptor goes
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    connecting_ = false;
    parser_.reset();
  }

  NmeaEndpoint endpoint_;
  std::weak_ptr<LocationSink> sink_;
  NmeaParser parser_;
  int fd_ = -1;
  std::unique_ptr<DescriptorWatch> watch_;
  bool connecting_ = false;
  bool everWorked_ = false;
  bool reported_ = false;  // this outage has been reported
  bool inOutage_ = false;  // not working: from the start or a loss until bytes arrive
  std::string lastError_;
  RetryBackoff retryBackoff_{kFirstRetry, kLongestRetry};
  std::shared_ptr<Timer> retryTimer_;
  std::shared_ptr<Timer> graceTimer_;
  std::shared_ptr<Timer> connectTimer_;
};

NmeaProvider::NmeaProvider(NmeaEndpoint endpoint)
    : upstream_(std::make_shared<SharedUpstream>(
          [endpoint = std::move(endpoint)](const std::shared_ptr<LocationSink>& sink) {
            auto stream = std::make_shared<Stream>(endpoint, sink);
            stream->begin();
            return streamEndingWith([stream] { stream->end(); });
          })) {}

}  // namespace orv::detail
