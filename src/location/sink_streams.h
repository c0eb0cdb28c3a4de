// A provider's running streams, one per sink. Managers on different threads share one provider, so
// the map is guarded; ending a stream may block, so that happens outside the lock, by the caller.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "orv/location_provider.h"

namespace orv::detail {

template <class Stream>
class SinkStreams {
 public:
  // Puts `stream` in the sink's place and returns the one it replaces, if any.
  std::shared_ptr<Stream> replace(const LocationSink& sink, std::shared_ptr<Stream> stream) {
    std::lock_guard lock(mutex_);
    return std::exchange(streams_[&sink], std::move(stream));
  }

  // Removes the sink's stream and returns it, if any.
  std::shared_ptr<Stream> take(const LocationSink& sink) {
    std::lock_guard lock(mutex_);
    auto it = streams_.find(&sink);
    if (it == streams_.end()) return nullptr;
    auto stream = std::move(it->second);
    streams_.erase(it);
    return stream;
  }

 private:
  std::mutex mutex_;
  std::map<const LocationSink*, std::shared_ptr<Stream>> streams_;
};

}  // namespace orv::detail
