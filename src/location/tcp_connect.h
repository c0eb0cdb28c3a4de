// What the sources that read over TCP share: the start of a non-blocking connect and its outcome,
// and errno as text.
#pragma once

#include <cstdint>
#include <string>

namespace orv::detail {

// "Connection refused" for ECONNREFUSED.
std::string errnoText(int error);

// Starts a non-blocking connect to the first address of `host` that takes one: the socket, with
// `connecting` telling whether the connect is still under way (wait until it is writable, then
// ask connectOutcome()); -1 with `error` set when none does.
int startTcpConnect(const std::string& host, uint16_t port, bool& connecting, std::string& error);

// Once a connecting socket is writable: 0 when connected, else the errno why not.
int connectOutcome(int fd);

}  // namespace orv::detail
