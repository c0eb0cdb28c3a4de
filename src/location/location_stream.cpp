#include "location/location_stream.h"

namespace orv {

std::unique_ptr<LocationStream> LocationProvider::open(const std::shared_ptr<LocationSink>& sink) {
  start(sink);
  return detail::streamEndingWith([this, sink] { stop(*sink); });
}

namespace detail {

void OpenOnlyProvider::start(const std::shared_ptr<LocationSink>& sink) {
  sink->deliverError(LocationFailure::unspecified,
                     "this location provider streams through open(), not start()");
}

}  // namespace detail

}  // namespace orv
