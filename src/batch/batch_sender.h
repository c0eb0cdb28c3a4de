// Where a batch's requests go: the transport, or a test's stand-in.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "network/transport.h"
#include "network/url_request.h"
#include "platform/run_loop_impl.h"

namespace orv::detail {

class BatchSender {
 public:
  // Runs once, on the batch's run loop, never inside send().
  using Done = std::function<void(TransferOutcome)>;

  virtual ~BatchSender() = default;
  // Starts the request; the id is for cancel().
  virtual uint64_t send(URLRequest request, Done done) = 0;
  // Aborts a request in flight; its `done` still runs (and may report success if it had already
  // finished).
  virtual void cancel(uint64_t id) = 0;
};

// Sends through `transport`, delivering on the loop behind `home`.
std::shared_ptr<BatchSender> transportSender(Transport& transport,
                                             std::shared_ptr<LoopHandle> home);

}  // namespace orv::detail
