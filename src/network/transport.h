// The session behind NetworkClient: runs transfers on the library's own network thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "network/url_request.h"
#include "orv/error.h"
#include "orv/result.h"

namespace orv::detail {

// What a finished transfer hands back: a body when the exchange completed, the response once
// headers arrived, the transport error if the transfer failed, and where its time went.
struct TransferOutcome {
  std::optional<std::string> body;
  std::shared_ptr<const HTTPResponse> response;
  std::optional<Error> error;
  TransferTimes times;
};

// What a transport error (domain kTransportErrorDomain, code a CURLcode) means to a host.
ErrorCode transportErrorCode(int64_t code);

class Transport {
 public:
  using Completion = std::function<void(TransferOutcome)>;
  static constexpr size_t kDefaultResponseBodyLimit = size_t{16} << 20;
  // Transfers running at once (each on at most one connection); later ones wait their turn in
  // order.
  static constexpr size_t kMaxTransfersInFlight = 64;

  // The process-wide session, started on first use; its thread ends at exit.
  static Transport& shared();

  // A session of its own (the network thread starts now). Destroying it ends its thread and
  // every transfer not finished yet, each with one completion (error CURLE 42), on the calling
  // thread.
  Transport();
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Thread-safe; starts the transfer at once, or as soon as one of the running transfers ends.
  // Its time-out runs from this call, also while it waits. `completion` runs exactly once, on
  // the network thread (after the session has ended: at once, on the calling thread). A failure of
  // libcurl's multi interface ends the transfers in flight with error domain "CURLM". CA file and
  // proxy are taken from the service configuration at this moment.
  // Returns the transfer's id for cancel().
  uint64_t start(URLRequest request, Completion completion);
  // Thread-safe: ends the transfer `id` soon, on the network thread, with error CURLE 42
  // "cancelled" (aborting it mid-exchange if need be), unless it has ended already.
  void cancel(uint64_t id);

  // Larger bodies end as a transport error. Applies to transfers started afterwards.
  void setResponseBodyLimit(size_t bytes);
  size_t responseBodyLimit() const;

  struct Impl;

 private:
  Impl* impl_;
};

}  // namespace orv::detail
