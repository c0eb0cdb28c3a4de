// A built request ready for the transport, and the HTTP response record the transport returns.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "network/http_method.h"

namespace orv::detail {

// Header names compare without regard to ASCII case, as HTTP requires.
struct CaseInsensitiveLess {
  bool operator()(std::string_view a, std::string_view b) const;
  using is_transparent = void;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);

using HeaderMap = std::map<std::string, std::string, CaseInsensitiveLess>;

struct URLRequest {
  std::string url;
  HTTPMethod method = HTTPMethod::get;
  HeaderMap headers;
  std::optional<std::string> body;
  double timeoutInterval = 60.0;
};

// Where a transfer's time went, each span from the moment the caller started it (zero for a
// step that was never reached): the wait for one of the session's transfer slots, then the TCP
// connection, the TLS handshake, the request going out, the first byte of the answer, the end.
struct TransferTimes {
  std::chrono::microseconds queued{0}, connected{0}, secured{0}, sent{0}, firstByte{0}, total{0};
  long connectionsOpened = 0;  // 0: it went out on a kept-alive connection
  long localPort = 0;
};

struct HTTPResponse {
  long statusCode = 0;
  // In arrival order; a name may repeat.
  std::vector<std::pair<std::string, std::string>> headers;
  std::string url;

  // The first value of `name` (case-insensitive), if any.
  std::optional<std::string> header(std::string_view name) const;
};

}  // namespace orv::detail
