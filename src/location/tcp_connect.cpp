#include "location/tcp_connect.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace orv::detail {

std::string errnoText(int error) { return std::strerror(error); }

int startTcpConnect(const std::string& host, uint16_t port, bool& connecting, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = ::gai_strerror(rc);
    return -1;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);
  error = "no address";
  for (const addrinfo* a = found; a; a = a->ai_next) {
    const int fd =
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errnoText(errno);
      continue;
    }
    const int rc = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (rc == 0 || errno == EINPROGRESS) {
      connecting = rc != 0;
      return fd;
    }
    error = errnoText(errno);
    ::close(fd);
  }
  return -1;
}

int connectOutcome(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

}  // namespace orv::detail
