// A way to end one request of the client before its outcome has been handled.
#pragma once

#include <memory>
#include <utility>

#include "orv/export.h"

namespace orv {

namespace detail {
struct RequestControl;
}

// Returned by the client's `...WithHandle` operations. Copies refer to the same request; a handle
// may outlive the request and the client. An empty handle (a call the gate turned down: its
// refusal has been reported already) refers to nothing.
class ORV_API RequestHandle {
 public:
  RequestHandle() = default;

  // Thread-safe, idempotent. Unless the request's outcome has been handled already, its transfer
  // is aborted (or never sent) and the delegate gets, instead of the outcome, one
  // onLocationError with ErrorCode::cancelled and the message "请求已取消", from the client's run
  // loop as usual. The outcome of a request whose client is gone is dropped as ever.
  void cancel() const;
  // True once the request has ended: its outcome handled (or dropped), cancelled or not. Always
  // true for an empty handle.
  bool finished() const;
  bool empty() const { return !control_; }

 private:
  friend struct detail::RequestControl;
  explicit RequestHandle(std::shared_ptr<detail::RequestControl> control)
      : control_(std::move(control)) {}
  std::shared_ptr<detail::RequestControl> control_;
};

}  // namespace orv
