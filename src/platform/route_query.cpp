#include "platform/route_query.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace orv::detail {
namespace {

// Public unicast destinations. 0.0.0.0 would not do: the kernel answers it with the local route
// through `lo`.
constexpr const char* kProbeV4 = "8.8.8.8";
constexpr const char* kProbeV6 = "2001:4860:4860::8888";

enum class Lookup { Usable, Unusable, Failed };

// Outcome of one request: the kernel's reply message, its error answer, or no answer at all.
struct Reply {
  const nlmsghdr* msg = nullptr;
  int error = 0;  // positive errno from an NLMSG_ERROR answer
  bool failed = false;

  static Reply failure() { return Reply{nullptr, 0, true}; }
  static Reply message(const nlmsghdr* h) { return Reply{h, 0, false}; }
  static Reply errorAnswer(int error) { return Reply{nullptr, error, false}; }
};

class RouteSocket {
 public:
  RouteSocket() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {
    // The kernel answers at once; the timeout only guards against a reply that never comes.
    timeval timeout{1, 0};
    if (fd_ >= 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  }
  ~RouteSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  RouteSocket(const RouteSocket&) = delete;
  RouteSocket& operator=(const RouteSocket&) = delete;

  bool ok() const { return fd_ >= 0; }

  // Sends `request` (its header's length set) and waits for the reply with the same sequence
  // number. The reply stays valid until the next call.
  Reply transact(nlmsghdr& request) {
    request.nlmsg_flags = NLM_F_REQUEST;
    request.nlmsg_seq = ++seq_;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(fd_, &request, request.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
                 sizeof kernel) != static_cast<ssize_t>(request.nlmsg_len)) {
      return Reply::failure();
    }
    for (;;) {
      const ssize_t n = ::recv(fd_, buffer_.data(), buffer_.size(), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Reply::failure();
      // NLMSG_OK/NLMSG_NEXT spelled out: the macros mix signed and unsigned comparisons.
      const char* p = buffer_.data();
      size_t left = static_cast<size_t>(n);
      while (left >= sizeof(nlmsghdr)) {
        const auto* h = reinterpret_cast<const nlmsghdr*>(p);
        if (h->nlmsg_len < sizeof(nlmsghdr) || h->nlmsg_len > left) break;
        const size_t step = std::min<size_t>(left, NLMSG_ALIGN(h->nlmsg_len));
        p += step;
        left -= step;
        if (h->nlmsg_seq != seq_) continue;
        if (h->nlmsg_type != NLMSG_ERROR) return Reply::message(h);
        if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return Reply::failure();
        const auto* err = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
        if (err->error == 0) return Reply::failure();  // an acknowledgement carries no data
        return Reply::errorAnswer(-err->error);
      }
    }
  }

 private:
  int fd_;
  uint32_t seq_ = 0;
  // Link answers carry statistics and can run to several kilobytes.
  std::vector<char> buffer_ = std::vector<char>(64 * 1024);
};

// Looks up the route to `dest`; `oif` is its interface when the route is unicast or local, else 0.
Reply routeTo(RouteSocket& socket, int family, const char* dest, int& oif) {
  struct {
    nlmsghdr hdr;
    rtmsg rt;
    alignas(NLMSG_ALIGNTO) char attrs[RTA_SPACE(16)];
  } req{};
  const int addrLen = family == AF_INET ? 4 : 16;
  req.rt.rtm_family = static_cast<unsigned char>(family);
  req.rt.rtm_dst_len = static_cast<unsigned char>(addrLen * 8);
  auto* dst = reinterpret_cast<rtattr*>(req.attrs);
  dst->rta_type = RTA_DST;
  dst->rta_len = static_cast<unsigned short>(RTA_LENGTH(addrLen));
  ::inet_pton(family, dest, RTA_DATA(dst));
  req.hdr.nlmsg_type = RTM_GETROUTE;
  req.hdr.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg)) + RTA_SPACE(addrLen);

  oif = 0;
  Reply reply = socket.transact(req.hdr);
  if (!reply.msg) return reply;
  const nlmsghdr* h = reply.msg;
  if (h->nlmsg_type != RTM_NEWROUTE || h->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
    return Reply::failure();
  }
  const auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
  // Broadcast, multicast, blackhole and the like carry no connection to a service.
  if (rt->rtm_type != RTN_UNICAST && rt->rtm_type != RTN_LOCAL) return reply;
  int len = static_cast<int>(RTM_PAYLOAD(h));
  for (const rtattr* a = RTM_RTA(rt); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
    if (a->rta_type == RTA_OIF && RTA_PAYLOAD(a) >= sizeof(int)) {
      std::memcpy(&oif, RTA_DATA(a), sizeof(int));
    }
  }
  return reply;
}

Reply linkFlags(RouteSocket& socket, int index, unsigned& flags) {
  struct {
    nlmsghdr hdr;
    ifinfomsg ifi;
  } req{};
  req.hdr.nlmsg_type = RTM_GETLINK;
  req.hdr.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
  req.ifi.ifi_family = AF_UNSPEC;
  req.ifi.ifi_index = index;

  flags = 0;
  Reply reply = socket.transact(req.hdr);
  if (!reply.msg) return reply;
  if (reply.msg->nlmsg_type != RTM_NEWLINK ||
      reply.msg->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) {
    return Reply::failure();
  }
  flags = static_cast<const ifinfomsg*>(NLMSG_DATA(reply.msg))->ifi_flags;
  return reply;
}

Lookup lookup(RouteSocket& socket, int family, const char* dest) {
  int oif = 0;
  const Reply route = routeTo(socket, family, dest, oif);
  if (route.failed) return Lookup::Failed;
  // An error answer is the kernel saying there is no route (none at all, `unreachable`,
  // `prohibit`, `blackhole`, or no IPv6 in this kernel).
  if (route.error || oif == 0) return Lookup::Unusable;
  unsigned flags = 0;
  const Reply link = linkFlags(socket, oif, flags);
  if (link.failed) return Lookup::Failed;
  // A route through an interface without carrier is still returned; it is no use now.
  constexpr unsigned kUpAndRunning = IFF_UP | IFF_RUNNING;
  return !link.error && (flags & kUpAndRunning) == kUpAndRunning ? Lookup::Usable
                                                                 : Lookup::Unusable;
}

}  // namespace

bool isIpLiteral(const std::string& text) {
  unsigned char bytes[16];
  return ::inet_pton(AF_INET, text.c_str(), bytes) == 1 ||
         ::inet_pton(AF_INET6, text.c_str(), bytes) == 1;
}

std::optional<uint32_t> queryAddressRouteFlags(const std::string& address) {
  unsigned char bytes[16];
  int family = AF_INET;
  if (::inet_pton(AF_INET, address.c_str(), bytes) != 1) {
    if (::inet_pton(AF_INET6, address.c_str(), bytes) != 1) return std::nullopt;
    family = AF_INET6;
  }
  RouteSocket socket;
  if (!socket.ok()) return std::nullopt;
  switch (lookup(socket, family, address.c_str())) {
    case Lookup::Usable:
      return kRouteReachable;
    case Lookup::Unusable:
      return 0;
    case Lookup::Failed:
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<uint32_t> queryDefaultRouteFlags() {
  RouteSocket socket;
  if (!socket.ok()) return std::nullopt;
  const Lookup v4 = lookup(socket, AF_INET, kProbeV4);
  if (v4 == Lookup::Usable) return kRouteReachable;
  const Lookup v6 = lookup(socket, AF_INET6, kProbeV6);
  if (v6 == Lookup::Usable) return kRouteReachable;
  if (v4 == Lookup::Failed && v6 == Lookup::Failed) return std::nullopt;
  return 0;
}

}  // namespace orv::detail
