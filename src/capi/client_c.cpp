// The client behind an opaque handle, and the host's function-pointer delegate.
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capi/capi_internal.h"
#include "orv/client.h"

using orv::capi::checkCoordinate;
using orv::capi::checkOptionalText;
using orv::capi::checkText;
using orv::capi::fail;
using orv::capi::guarded;

namespace {

using GeocodeList = std::vector<std::shared_ptr<orv::GeocodeRes>>;

// Forwards the client's callbacks to the host's function pointers until detached. Outcomes that
// arrive later (a place search in flight keeps its delegate alive) reach nobody. The lock makes
// orv_client_free from another thread wait for a callback that is running; it is recursive so
// that a callback may free its own client.
class CDelegate final : public orv::LocationDelegate {
 public:
  CDelegate(const orv_delegate& callbacks, void* user) : c_(callbacks), user_(user) {}

  void detach() {
    std::lock_guard lock(mutex_);
    attached_ = false;
  }

  void onReceivedLocationWithOrvLocation(std::shared_ptr<orv::LocationRes> location) override {
    deliverRecord(c_.on_received_location_with_orv_location, std::move(location));
  }
  void onLocationErrorWithMsg(const std::string& msg) override {
    deliver([&] { c_.on_location_error_with_msg(user_, msg.c_str()); });
  }
  void onLocationError(const orv::LocationError& error) override {
    if (!c_.on_location_error) {
      onLocationErrorWithMsg(error.message);
      return;
    }
    const orv_error e{orv::capi::errorCode(error.code), error.domain.c_str(), error.status,
                      error.message.c_str(),
                      error.retryAfter ? static_cast<int64_t>(error.retryAfter->count()) : -1};
    deliver([&] { c_.on_location_error(user_, &e); });
  }
  void onReceivedReverseCodeWithOrvLocation(std::shared_ptr<orv::LocationRes> location) override {
    deliverRecord(c_.on_received_reverse_code_with_orv_location, std::move(location));
  }
  void onReceivedGeocodeWithResult(const GeocodeList& result) override {
    deliverList(c_.on_received_geocode_with_result, result);
  }
  void onReceivedPoiSearchWithResult(const GeocodeList& result) override {
    deliverList(c_.on_received_poi_search_with_result, result);
  }
  void onGeofenceEvent(const orv::GeofenceEvent& event) override {
    if (!c_.on_geofence_event) return;
    orv::capi::withCEvent(event, [&](const orv_geofence_event* e) {
      deliver([&] { c_.on_geofence_event(user_, e); });
    });
  }

 private:
  using RecordCallback = void (*)(void*, const orv_location_res*);
  using ListCallback = void (*)(void*, const orv_geocode_list*);

  template <class Call>
  void deliver(Call&& call) {
    std::lock_guard lock(mutex_);
    if (attached_) call();
  }

  void deliverRecord(RecordCallback callback, std::shared_ptr<orv::LocationRes> location) {
    if (!callback || !location) return;
    // The handle lives for the call unless the host retains it.
    const orv_location_res* handle = nullptr;
    try {
      handle = new orv_location_res(std::move(location));
    } catch (...) {
      return;  // no memory for the handle: nothing can be delivered
    }
    deliver([&] { callback(user_, handle); });
    orv_location_res_release(handle);
  }

  void deliverList(ListCallback callback, const GeocodeList& result) {
    if (!callback) return;
    const orv_geocode_list* handle = nullptr;
    try {
      handle = new orv_geocode_list(result);
    } catch (...) {
      return;
    }
    deliver([&] { callback(user_, handle); });
    orv_geocode_list_release(handle);
  }

  const orv_delegate c_;
  void* const user_;
  std::recursive_mutex mutex_;
  bool attached_ = true;
};

// NULL means no delegate; otherwise both required callbacks must be there.
orv_status makeDelegate(const orv_delegate* callbacks, void* user,
                        std::shared_ptr<CDelegate>& out) {
  out.reset();
  if (!callbacks) return ORV_STATUS_OK;
  if (!callbacks->on_received_location_with_orv_location) {
    return fail(ORV_STATUS_NULL_ARGUMENT,
                "delegate lacks the required on_received_location_with_orv_location");
  }
  if (!callbacks->on_location_error_with_msg) {
    return fail(ORV_STATUS_NULL_ARGUMENT, "delegate lacks the required on_location_error_with_msg");
  }
  out = std::make_shared<CDelegate>(*callbacks, user);
  return ORV_STATUS_OK;
}

}  // namespace

struct orv_client {
  std::shared_ptr<CDelegate> delegate;
  std::unique_ptr<orv::OrvClientLocation> client;
};

namespace orv::capi {

orv::OrvClientLocation* cppClient(orv_client* client) { return client->client.get(); }

}  // namespace orv::capi

namespace {

using orv::capi::withClient;

// An operation that takes no input the C side has to check.
template <class Member, class... Args>
orv_status call(orv_client* client, Member member, Args... args) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    (c.*member)(args...);
    return ORV_STATUS_OK;
  });
}

template <class T, class Get>
T readClient(const orv_client* client, T fallback, Get&& get) {
  return orv::capi::guardedValue(fallback,
                                 [&] { return client ? get(*client->client) : fallback; });
}

}  // namespace

orv_location orv::capi::fromLocation(const orv::Location& fix) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(fix.timestamp.time_since_epoch());
  return {{fix.coordinate.latitude, fix.coordinate.longitude},
          fix.altitude,
          fix.horizontalAccuracy,
          fix.verticalAccuracy,
          fix.speed,
          fix.course,
          static_cast<int64_t>(ms.count())};
}

extern "C" {

orv_client* orv_client_new(const orv_delegate* delegate, void* user) {
  try {
    auto client = std::make_unique<orv_client>();
    if (makeDelegate(delegate, user, client->delegate)) return nullptr;
    client->client = std::make_unique<orv::OrvClientLocation>(client->delegate);
    return client.release();
  } catch (const std::bad_alloc&) {
    fail(ORV_STATUS_NO_MEMORY, "out of memory");
  } catch (...) {
    fail(ORV_STATUS_INTERNAL, "unexpected failure inside the library");
  }
  return nullptr;
}

void orv_client_free(orv_client* client) {
  if (!client) return;
  if (client->delegate) client->delegate->detach();
  delete client;
}

orv_status orv_client_set_location_delegate(orv_client* client, const orv_delegate* delegate,
                                            void* user) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    std::shared_ptr<CDelegate> replacement;
    if (auto s = makeDelegate(delegate, user, replacement)) return s;
    if (client->delegate) client->delegate->detach();
    client->delegate = replacement;
    c.setLocationDelegate(std::move(replacement));
    return ORV_STATUS_OK;
  });
}

orv_status orv_client_init_key(orv_client* client, const char* accesskey) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    if (auto s = checkText(accesskey, "accesskey")) return s;
    c.initKey(accesskey);
    return ORV_STATUS_OK;
  });
}

orv_status orv_client_set_agree_privacy(orv_client* client, bool is_agree) {
  return call(client, &orv::OrvClientLocation::setAgreePrivacy, is_agree);
}

orv_status orv_client_set_accesskey(orv_client* client, const char* accesskey) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    if (auto s = checkOptionalText(accesskey, "accesskey")) return s;
    c.setAccesskey(accesskey ? std::optional<std::string>(accesskey) : std::nullopt);
    return ORV_STATUS_OK;
  });
}

const char* orv_client_accesskey(const orv_client* client) {
  return readClient<const char*>(client, nullptr, [](const orv::OrvClientLocation& c) {
    return c.accesskey() ? c.accesskey()->c_str() : nullptr;
  });
}

orv_status orv_client_set_interval(orv_client* client, double seconds) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    if (!(seconds > 0.0 && seconds <= 1e9)) {
      return fail(ORV_STATUS_OUT_OF_RANGE, "interval must be a number of seconds in (0, 1e9]");
    }
    c.setInterval(seconds);
    return ORV_STATUS_OK;
  });
}

double orv_client_interval(const orv_client* client) {
  return readClient(client, 0.0, [](const orv::OrvClientLocation& c) { return c.interval(); });
}

orv_status orv_client_set_is_locate_once(orv_client* client, bool value) {
  return call(client, &orv::OrvClientLocation::setIsLocateOnce, value);
}

bool orv_client_is_locate_once(const orv_client* client) {
  return readClient(client, false,
                    [](const orv::OrvClientLocation& c) { return c.isLocateOnce(); });
}

orv_status orv_client_set_is_fast_location(orv_client* client, bool value) {
  return call(client, &orv::OrvClientLocation::setIsFastLocation, value);
}

bool orv_client_is_fast_location(const orv_client* client) {
  return readClient(client, false,
                    [](const orv::OrvClientLocation& c) { return c.isFastLocation(); });
}

orv_status orv_client_set_is_agree(orv_client* client, bool value) {
  return call(client, &orv::OrvClientLocation::setIsAgree, value);
}

bool orv_client_is_agree(const orv_client* client) {
  return readClient(client, false, [](const orv::OrvClientLocation& c) { return c.isAgree(); });
}

int64_t orv_client_milli_stamp(const orv_client* client) {
  return readClient<int64_t>(client, 0,
                             [](const orv::OrvClientLocation& c) { return c.milliStamp(); });
}

orv_status orv_client_start_location(orv_client* client) {
  return call(client, &orv::OrvClientLocation::startLocation);
}

orv_status orv_client_start_fast_location(orv_client* client) {
  return call(client, &orv::OrvClientLocation::startFastLocation);
}

orv_status orv_client_stop_location(orv_client* client) {
  return call(client, &orv::OrvClientLocation::stopLocation);
}

orv_status orv_client_get_track_location(orv_client* client, const orv_location* location) {
  return orv_client_get_track_location_with_handle(client, location, nullptr);
}

orv_status orv_client_start_geofence_monitoring(orv_client* client, orv_geofence* geofence) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    if (!geofence) return fail(ORV_STATUS_NULL_ARGUMENT, "geofence is NULL");
    c.startGeofenceMonitoring(geofence->monitor);
    return ORV_STATUS_OK;
  });
}

orv_status orv_client_stop_geofence_monitoring(orv_client* client) {
  return call(client, &orv::OrvClientLocation::stopGeofenceMonitoring);
}

bool orv_client_is_geofence_monitoring(const orv_client* client) {
  return readClient(client, false,
                    [](const orv::OrvClientLocation& c) { return c.isGeofenceMonitoring(); });
}

orv_status orv_client_get_reverse_code(orv_client* client, double latitude, double longitude) {
  return orv_client_get_reverse_code_with_handle(client, latitude, longitude, nullptr);
}

orv_status orv_client_get_geoc_code(orv_client* client, const char* address, const char* city) {
  return orv_client_get_geoc_code_with_handle(client, address, city, nullptr);
}

orv_status orv_client_poi_key_search(orv_client* client, const char* name, const char* city_code,
                                     const char* city, int32_t page_index, int32_t page_size) {
  return orv_client_poi_key_search_with_handle(client, name, city_code, city, page_index, page_size,
                                               nullptr);
}

orv_status orv_client_poi_nearby_search(orv_client* client, const char* keywords,
                                        const char* location, int32_t radius, const char* category,
                                        const char* orderby, int32_t page_index,
                                        int32_t page_size) {
  return orv_client_poi_nearby_search_with_handle(client, keywords, location, radius, category,
                                                  orderby, page_index, page_size, nullptr);
}

}  // extern "C"
