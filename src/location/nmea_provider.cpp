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
#include "location/reconnecting_source.h"
#include "location/tcp_connect.h"

namespace orv::detail {
namespace {

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

// How an NMEA receiver is opened and read: it works once bytes arrive.
class NmeaProtocol final : public SourceProtocol {
 public:
  explicit NmeaProtocol(NmeaEndpoint endpoint) : endpoint_(std::move(endpoint)) {}

  int open(bool& connecting, std::string& error) override {
    switch (endpoint_.kind) {
      case NmeaEndpoint::Kind::serial:
        return openSerial(endpoint_, error);
      case NmeaEndpoint::Kind::tcp:
        return startTcpConnect(endpoint_.host, endpoint_.port, connecting, error);
      case NmeaEndpoint::Kind::udp:
        return bindUdp(endpoint_, error);
    }
    return -1;
  }
  void began(ReconnectingSource&) override { parser_.reset(); }
  void received(ReconnectingSource& source, std::string_view bytes) override {
    source.working();
    std::vector<Location> fixes;
    parser_.feed(bytes, fixes);
    // A datagram is a whole number of sentences, terminated or not.
    if (endpoint_.kind == NmeaEndpoint::Kind::udp) parser_.feed("\n", fixes);
    source.deliver(std::move(fixes));
  }

  std::string cannotOpen(const std::string& error) const override {
    return openFailure(endpoint_, error);
  }
  std::string endedEarly(const std::string& why) const override {
    return what() + " failed before sending any data: " + why;
  }
  std::string silent() const override { return what() + " sent no data within 10 s"; }
  std::string lost(const std::string& why) const override {
    return what() + " lost and not back within 10 s: " + why;
  }
  std::string endWhy(int error) const override {
    if (error != 0) return errnoText(error);
    return endpoint_.kind == NmeaEndpoint::Kind::tcp ? "connection closed" : "end of stream";
  }

 private:
  std::string what() const {
    return endpoint_.kind == NmeaEndpoint::Kind::serial ? "NMEA device " + endpoint_.path
                                                        : "NMEA source at " + endpoint_.describe();
  }

  NmeaEndpoint endpoint_;
  NmeaParser parser_;
};

NmeaProvider::NmeaProvider(NmeaEndpoint endpoint)
    : upstream_(std::make_shared<SharedUpstream>(
          [endpoint = std::move(endpoint)](const std::shared_ptr<LocationSink>& sink) {
            auto stream = std::make_shared<ReconnectingSource>(
                SourceTiming{}, std::make_unique<NmeaProtocol>(endpoint), sink);
            stream->begin();
            return streamEndingWith([stream] { stream->end(); });
          })) {}

}  // namespace orv::detail
