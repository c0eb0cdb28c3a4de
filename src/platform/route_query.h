// The kernel's answer to "is there a usable route to the Internet?", as reachability flags.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orv::detail {

inline constexpr uint32_t kRouteReachable = 2;
// Linux has no notion of a connection that must first be brought up (no on-demand links), so
// this flag is never set here; it exists so callers can test the same flags on every platform.
inline constexpr uint32_t kRouteConnectionRequired = 4;

// Asks the routing table, over netlink, for the route to a public IPv4 address and, when IPv4
// gives no usable route, to a public IPv6 address: a lookup only, no packet is sent. Reachable
// when the answer is a unicast route through an interface that is up and running. 0 when there
// is no usable route; nullopt when the question itself could not be asked or answered.
std::optional<uint32_t> queryDefaultRouteFlags();

// The same question about one address (IPv4 or IPv6 text): reachable when the kernel routes it
// through an interface that is up and running, as unicast or as a local address (loopback
// counts). nullopt when `address` is not an IP literal or the kernel could not be asked.
std::optional<uint32_t> queryAddressRouteFlags(const std::string& address);

// An IPv4 address in dotted form or an IPv6 address in text form (no brackets).
bool isIpLiteral(const std::string& text);

}  // namespace orv::detail
