// Stream handles of the library's own providers.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "orv/location_provider.h"

namespace orv::detail {

// A handle that runs `end` once, when destroyed.
class EndingStream final : public LocationStream {
 public:
  explicit EndingStream(std::function<void()> end) : end_(std::move(end)) {}
  ~EndingStream() override {
    if (end_) std::exchange(end_, nullptr)();
  }

 private:
  std::function<void()> end_;
};

inline std::unique_ptr<LocationStream> streamEndingWith(std::function<void()> end) {
  return std::make_unique<EndingStream>(std::move(end));
}

// A provider that streams only through open(). Such a provider is never handed to a host (only the
// location manager and the system default use it, and they open streams), so the start()/stop()
// form is not served: a start() is answered with a failure rather than by keeping streams by sink.
class OpenOnlyProvider : public LocationProvider {
 public:
  void start(const std::shared_ptr<LocationSink>& sink) final;
  void stop(const LocationSink&) final {}
  std::unique_ptr<LocationStream> open(const std::shared_ptr<LocationSink>& sink) override = 0;
};

}  // namespace orv::detail
