// The host's own provider behind C callbacks, and the sinks it pushes into.
#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capi/capi_internal.h"
#include "capi/sink_c.h"
#include "location/location_stream.h"
#include "orv/location_provider.h"
#include "orv/location_service.h"

namespace {

using orv::capi::fail;
using orv::capi::guarded;

void releaseSink(orv_location_sink* sink) {
  if (sink && sink->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete sink;
}

class HostProvider final : public orv::detail::OpenOnlyProvider,
                           public std::enable_shared_from_this<HostProvider> {
 public:
  HostProvider(const orv_location_provider& callbacks, void* user) : c_(callbacks), user_(user) {}
  ~HostProvider() override {
    if (c_.release) c_.release(user_);
  }

  orv::AuthorizationStatus authorizationStatus() const override {
    if (!c_.authorization_status) return orv::AuthorizationStatus::authorizedWhenInUse;
    // A value outside the enumerators counts as a refusal rather than a grant. Checked here, not
    // with toAuthorization, so that a query leaves the asking thread's last error alone.
    const auto raw = orv::capi::rawValue(c_.authorization_status(user_));
    if (raw < ORV_AUTHORIZATION_NOT_DETERMINED || raw > ORV_AUTHORIZATION_AUTHORIZED_WHEN_IN_USE) {
      return orv::AuthorizationStatus::denied;
    }
    return static_cast<orv::AuthorizationStatus>(raw);
  }

  void requestAuthorization(bool always) override {
    if (c_.request_authorization) c_.request_authorization(user_, always);
  }

  // The host tells its streams apart by the sink handle: the stream keeps it until it ends. The
  // stream holds the provider, so release() comes after the last stop().
  std::unique_ptr<orv::LocationStream> open(
      const std::shared_ptr<orv::LocationSink>& sink) override {
    auto* handle = new orv_location_sink(sink);
    c_.start(user_, handle);
    return orv::detail::streamEndingWith([self = shared_from_this(), handle] {
      self->c_.stop(self->user_, handle);
      releaseSink(handle);
    });
  }

 private:
  const orv_location_provider c_;
  void* const user_;
};

template <class Body>
orv_status withSink(orv_location_sink* sink, Body&& body) {
  return guarded([&] {
    if (!sink) return fail(ORV_STATUS_NULL_ARGUMENT, "sink is NULL");
    return body(*sink->sink);
  });
}

}  // namespace

extern "C" {

orv_status orv_use_provider(const orv_location_provider* provider, void* user) {
  return guarded([&] {
    if (!provider) return fail(ORV_STATUS_NULL_ARGUMENT, "provider is NULL");
    if (!provider->start) return fail(ORV_STATUS_NULL_ARGUMENT, "provider lacks start");
    if (!provider->stop) return fail(ORV_STATUS_NULL_ARGUMENT, "provider lacks stop");
    orv::LocationService::use(std::make_shared<HostProvider>(*provider, user));
    return ORV_STATUS_OK;
  });
}

orv_location_sink* orv_location_sink_retain(orv_location_sink* sink) {
  if (sink) sink->refs.fetch_add(1, std::memory_order_relaxed);
  return sink;
}

void orv_location_sink_release(orv_location_sink* sink) { releaseSink(sink); }

orv_status orv_location_sink_push_locations(orv_location_sink* sink, const orv_location* locations,
                                            size_t count) {
  return withSink(sink, [&](orv::LocationSink& s) {
    return orv::capi::pushLocations(
        locations, count, [&](std::vector<orv::Location> f) { s.deliverLocations(std::move(f)); });
  });
}

orv_status orv_location_sink_push_error(orv_location_sink* sink, const char* message) {
  return orv_location_sink_push_error_kind(sink, ORV_LOCATION_FAILURE_UNSPECIFIED, message);
}

orv_status orv_location_sink_push_error_kind(orv_location_sink* sink, orv_location_failure kind,
                                             const char* message) {
  return withSink(sink, [&](orv::LocationSink& s) {
    return orv::capi::pushError(
        kind, message, [&](orv::LocationFailure k, const char* text) { s.deliverError(k, text); });
  });
}

}  // extern "C"
