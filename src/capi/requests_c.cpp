// The client's request operations with a handle that can cancel them.
#include <memory>
#include <new>

#include "capi/capi_internal.h"
#include "orv/client.h"

using orv::capi::checkCoordinate;
using orv::capi::checkText;
using orv::capi::fail;
using orv::capi::withClient;

struct orv_request {
  orv::RequestHandle handle;
};

namespace {

// Starts the request with `start` and hands its handle to the host when it asked for one.
template <class Start>
orv_status started(orv_request** request, Start&& start) {
  if (request) *request = nullptr;
  orv::RequestHandle handle = start();
  if (request && !handle.empty()) *request = new orv_request{std::move(handle)};
  return ORV_STATUS_OK;
}

}  // namespace

extern "C" {

orv_status orv_client_get_track_location_with_handle(orv_client* client,
                                                     const orv_location* location,
                                                     orv_request** request) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    if (!location) return fail(ORV_STATUS_NULL_ARGUMENT, "location is NULL");
    orv::Location fix;
    if (auto s = orv::capi::toLocation(*location, fix)) return s;
    return started(request, [&] { return c.getTrackLocationWithHandle(fix); });
  });
}

orv_status orv_client_get_reverse_code_with_handle(orv_client* client, double latitude,
                                                   double longitude, orv_request** request) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    if (auto s = checkCoordinate(latitude, longitude)) return s;
    return started(request, [&] { return c.getReverseCodeWithHandle(latitude, longitude); });
  });
}

orv_status orv_client_get_geoc_code_with_handle(orv_client* client, const char* address,
                                                const char* city, orv_request** request) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    if (auto s = checkText(address, "address")) return s;
    if (auto s = checkText(city, "city")) return s;
    return started(request, [&] { return c.getGeocCodeWithHandle(address, city); });
  });
}

orv_status orv_client_poi_key_search_with_handle(orv_client* client, const char* name,
                                                 const char* city_code, const char* city,
                                                 int32_t page_index, int32_t page_size,
                                                 orv_request** request) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    if (auto s = checkText(name, "name")) return s;
    if (auto s = checkText(city_code, "city_code")) return s;
    if (auto s = checkText(city, "city")) return s;
    return started(request, [&] {
      return c.poiKeySearchWithHandle(name, city_code, city, page_index, page_size);
    });
  });
}

orv_status orv_client_poi_nearby_search_with_handle(orv_client* client, const char* keywords,
                                                    const char* location, int32_t radius,
                                                    const char* category, const char* orderby,
                                                    int32_t page_index, int32_t page_size,
                                                    orv_request** request) {
  return withClient(client, [&](orv::OrvClientLocation& c) {
    if (auto s = checkText(keywords, "keywords")) return s;
    if (auto s = checkText(location, "location")) return s;
    if (auto s = checkText(category, "category")) return s;
    if (auto s = checkText(orderby, "orderby")) return s;
    return started(request, [&] {
      return c.poiNearbySearchWithHandle(keywords, location, radius, category, orderby, page_index,
                                         page_size);
    });
  });
}

void orv_request_cancel(const orv_request* request) {
  if (request) request->handle.cancel();
}

bool orv_request_finished(const orv_request* request) {
  return !request || request->handle.finished();
}

void orv_request_free(orv_request* request) { delete request; }

}  // extern "C"
