// What a RequestHandle refers to: one request of the client, between its start and the handling
// of its outcome on the client's loop.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "network/transport.h"
#include "orv/request_handle.h"
#include "orv/result.h"

namespace orv::detail {

struct RequestControl {
  // The request layer's error that stands for a cancelled request.
  static Error cancelledError();
  static bool isCancelled(const Error& error);

  static RequestHandle handle(std::shared_ptr<RequestControl> control) {
    return RequestHandle(std::move(control));
  }

  // Once the transfer has been started on `transport` as `id` (0: nothing sent, e.g. a request
  // that could not be built).
  void sent(Transport& transport, uint64_t id);
  // Any thread: aborts the transfer unless the outcome has been handled.
  void cancel();
  // On the client's loop, as the outcome arrives: false when the request was cancelled, so the
  // cancellation is reported in the outcome's place. Either way the request has ended.
  bool settle();
  bool finished() const;

 private:
  enum class Phase { running, cancelled, finished };
  mutable std::mutex mutex_;
  Phase phase_ = Phase::running;
  bool ended_ = false;
  Transport* transport_ = nullptr;
  uint64_t id_ = 0;
};

}  // namespace orv::detail
