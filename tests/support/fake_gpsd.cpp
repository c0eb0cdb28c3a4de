#include "fake_gpsd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ctime>
#include <stdexcept>

#include "nmea_logs.h"
#include "process.h"
#include "test_server.h"

namespace orv::test {
namespace {

constexpr int kWaitMs = 5000;

int listenOn(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot listen on loopback");
  }
  return fd;
}

uint16_t portOf(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

bool readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return fd >= 0 && ::poll(&p, 1, timeoutMs) > 0;
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

FakeGpsd::FakeGpsd() : listenFd_(listenOn(0)), port_(portOf(listenFd_)) {}

FakeGpsd::~FakeGpsd() {
  closeFd(connFd_);
  closeFd(listenFd_);
}

bool FakeGpsd::accept() {
  closeFd(connFd_);
  received_.clear();
  if (!readable(listenFd_, kWaitMs)) return false;
  connFd_ = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  return connFd_ >= 0;
}

std::string FakeGpsd::greet(int protoMajor, bool watchJson) {
  send(R"({"class":"VERSION","release":"3.22","rev":"3.22","proto_major":)" +
       std::to_string(protoMajor) + ",\"proto_minor\":14}\r\n");
  std::string request = readLine();
  send(std::string("{\"class\":\"DEVICES\",\"devices\":[]}\r\n") +
       "{\"class\":\"WATCH\",\"enable\":true,\"json\":" + (watchJson ? "true" : "false") + "}\r\n");
  return request;
}

void FakeGpsd::send(std::string_view bytes) {
  for (ssize_t n; !bytes.empty(); bytes.remove_prefix(static_cast<size_t>(n))) {
    if ((n = ::send(connFd_, bytes.data(), bytes.size(), MSG_NOSIGNAL)) <= 0) return;
  }
}

std::string FakeGpsd::readLine() {
  size_t eol;
  while ((eol = received_.find('\n')) == std::string::npos) {
    char buf[512];
    const ssize_t n = readable(connFd_, kWaitMs) ? ::recv(connFd_, buf, sizeof buf, 0) : 0;
    if (n <= 0) return {};
    received_.append(buf, static_cast<size_t>(n));
  }
  std::string line = received_.substr(0, eol);
  received_.erase(0, eol + 1);
  return line;
}

void FakeGpsd::disconnect() { closeFd(connFd_); }

void FakeGpsd::stopListening() { closeFd(listenFd_); }

void FakeGpsd::listenAgain() {
  if (listenFd_ < 0) listenFd_ = listenOn(port_);
}

PrivateGpsd::PrivateGpsd() {
  const std::string gpsd = "/usr/sbin/gpsd";
  if (::access(gpsd.c_str(), X_OK) != 0) {
    skipReason_ = "gpsd is not installed (scripts/setup.sh installs it)";
    return;
  }
  // The feeder listens first: gpsd connects to it once its own port is open.
  const int feedFd = listenOn(0);
  const std::string feedUrl = "tcp://127.0.0.1:" + std::to_string(portOf(feedFd));
  int ready[2];
  if (::pipe2(stop_, O_CLOEXEC) != 0 || ::pipe2(ready, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  feeder_ = std::thread([feedFd, stop = stop_[0], ready = ready[1]] {
    const int conn = readable(feedFd, 10000) ? ::accept4(feedFd, nullptr, nullptr, 0) : -1;
    ::close(feedFd);
    ::close(ready);  // gpsd connected (its port is open) or never will
    // Until the stop pipe closes, one epoch every 200 ms.
    for (bool stopping = conn < 0; !stopping; stopping = readable(stop, 200)) {
      const std::time_t now = std::time(nullptr);
      std::tm utc{};
      ::gmtime_r(&now, &utc);
      char hms[16], dmy[16];
      std::strftime(hms, sizeof hms, "%H%M%S.00", &utc);
      std::strftime(dmy, sizeof dmy, "%d%m%y", &utc);
      const std::string sentences = asReceived(nmeaLines(
          {std::string("GPGGA,") + hms + ",3954.0000,N,11624.0000,E,1,08,0.9,50.0,M,0.0,M,,",
           std::string("GPRMC,") + hms + ",A,3954.0000,N,11624.0000,E,0.5,90.0," + dmy + ",,,A"}));
      if (::send(conn, sentences.data(), sentences.size(), MSG_NOSIGNAL) < 0) break;
    }
    if (conn >= 0) ::close(conn);
  });
  port_ = static_cast<uint16_t>(unusedLoopbackPort());
  // gpsd complains about the missing system D-Bus; keep the test output clean.
  pid_ = startQuiet({gpsd, "-N", "-n", "-b", "-S", std::to_string(port_), feedUrl}, true);
  if (pid_ < 0) skipReason_ = "cannot start " + gpsd;
  readable(ready[0], 15000);
  ::close(ready[0]);
}

PrivateGpsd::~PrivateGpsd() {
  if (pid_ > 0) stopProcess(pid_);
  if (stop_[1] >= 0) ::close(stop_[1]);
  if (feeder_.joinable()) feeder_.join();
  if (stop_[0] >= 0) ::close(stop_[0]);
}

}  // namespace orv::test
