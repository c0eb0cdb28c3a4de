#include "client/request_control.h"

#include <string>

#include "client/location_error.h"

namespace orv {

void RequestHandle::cancel() const {
  if (control_) control_->cancel();
}

bool RequestHandle::finished() const { return !control_ || control_->finished(); }

namespace detail {

Error RequestControl::cancelledError() {
  return Error{std::string(kClientDomain), static_cast<int64_t>(ErrorCode::cancelled),
               "请求已取消"};
}

bool RequestControl::isCancelled(const Error& error) {
  return error.domain == kClientDomain && error.code == static_cast<int64_t>(ErrorCode::cancelled);
}

void RequestControl::sent(Transport& transport, uint64_t id) {
  std::lock_guard lock(mutex_);
  transport_ = &transport;
  id_ = id;
}

void RequestControl::cancel() {
  Transport* transport = nullptr;
  uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    if (phase_ != Phase::running) return;
    phase_ = Phase::cancelled;
    transport = transport_;
    id = id_;
  }
  // The transport's own completion still arrives (cancelled, or the finished answer) and is
  // reported as the cancellation.
  if (transport != nullptr && id != 0) transport->cancel(id);
}

bool RequestControl::settle() {
  std::lock_guard lock(mutex_);
  ended_ = true;
  if (phase_ == Phase::cancelled) return false;
  phase_ = Phase::finished;
  return true;
}

bool RequestControl::finished() const {
  std::lock_guard lock(mutex_);
  return ended_;
}

}  // namespace detail
}  // namespace orv
