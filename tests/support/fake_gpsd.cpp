#include "fake_gpsd.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

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

}  // namespace orv::test
