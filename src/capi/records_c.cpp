// Result records as read-only, reference-counted handles.
#include <stdexcept>
#include <string>

#include "capi/capi_internal.h"
#include "model/json_writer.h"
#include "model/record_codec.h"

using orv::capi::checkText;
using orv::capi::fail;
using orv::capi::guarded;

orv_geocode_list::orv_geocode_list(const std::vector<std::shared_ptr<orv::GeocodeRes>>& records) {
  hits.reserve(records.size());
  for (const auto& r : records) hits.push_back(std::make_unique<orv_geocode_res>(r));
}

namespace {

// The model's encode() yields a Result; NULL-to-the-host is how a failed write shows.
std::string encodedOrThrow(orv::Result<std::string> encoded) {
  if (!encoded) throw std::runtime_error(encoded.error().message);
  return std::move(encoded).value();
}

std::string encodeList(const orv_geocode_list& list) {
  orv::detail::JsonWriter w;
  const orv::detail::JsonPath root;
  w.beginArray();
  for (std::size_t i = 0; i < list.hits.size() && !w.failed(); ++i) {
    orv::detail::encodeRecord(w, root.element(i), list.hits[i]->record);
  }
  w.endArray();
  return encodedOrThrow(std::move(w).finish());
}

const orv::Address* contextAt(const orv_location_res* res, size_t i) {
  if (!res) return nullptr;
  const auto& address = res->record->location()->address();
  if (!address || i >= address->context().size()) return nullptr;
  return address->context()[i].get();
}

const orv::PlaceInfo* placeOf(const orv_location_res* res) {
  return res ? res->record->location()->place().get() : nullptr;
}

const orv::OrvCategory* categoryAt(const orv_geocode_res* hit, size_t i) {
  if (!hit || !hit->record->categories() || i >= hit->record->categories()->size()) return nullptr;
  return (*hit->record->categories())[i].get();
}

template <class Handle>
void releaseHandle(const Handle* handle) {
  if (handle && handle->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete handle;
}

template <class Handle>
const Handle* retainHandle(const Handle* handle) {
  if (handle) handle->refs.fetch_add(1, std::memory_order_relaxed);
  return handle;
}

}  // namespace

extern "C" {

orv_status orv_location_res_decode(const char* json, const orv_location_res** out) {
  return guarded([&] {
    if (!out) return fail(ORV_STATUS_NULL_ARGUMENT, "out is NULL");
    *out = nullptr;
    if (auto s = checkText(json, "json")) return s;
    auto decoded = orv::LocationRes::decode(json);
    if (!decoded) return fail(ORV_STATUS_FAILED, decoded.error().message);
    *out = new orv_location_res(std::move(decoded).value());
    return ORV_STATUS_OK;
  });
}

const orv_location_res* orv_location_res_retain(const orv_location_res* res) {
  return retainHandle(res);
}

void orv_location_res_release(const orv_location_res* res) { releaseHandle(res); }

const char* orv_location_res_json(const orv_location_res* res) {
  if (!res) return nullptr;
  return res->json.get([res] { return encodedOrThrow(res->record->encode()); });
}

const char* orv_location_res_id(const orv_location_res* res) {
  return res ? res->record->id().c_str() : nullptr;
}

const char* orv_location_res_asset(const orv_location_res* res) {
  return res ? res->record->asset().c_str() : nullptr;
}

int64_t orv_location_res_timestamp(const orv_location_res* res) {
  return res ? res->record->location()->timestamp() : 0;
}

orv_coordinate orv_location_res_point(const orv_location_res* res) {
  if (!res) return orv_coordinate{0.0, 0.0};
  const auto& point = res->record->location()->position()->point();
  return orv_coordinate{point->latitude(), point->longitude()};
}

const char* orv_location_res_address_name(const orv_location_res* res) {
  if (!res) return nullptr;
  const auto& address = res->record->location()->address();
  return address ? address->name().c_str() : nullptr;
}

size_t orv_location_res_address_context_count(const orv_location_res* res) {
  if (!res) return 0;
  const auto& address = res->record->location()->address();
  return address ? address->context().size() : 0;
}

const char* orv_location_res_address_context_type(const orv_location_res* res, size_t i) {
  const auto* a = contextAt(res, i);
  return a ? a->type().c_str() : nullptr;
}

const char* orv_location_res_address_context_name(const orv_location_res* res, size_t i) {
  const auto* a = contextAt(res, i);
  return a ? a->name().c_str() : nullptr;
}

const char* orv_location_res_address_context_code(const orv_location_res* res, size_t i) {
  const auto* a = contextAt(res, i);
  return a ? a->code().c_str() : nullptr;
}

bool orv_location_res_has_place(const orv_location_res* res) { return placeOf(res) != nullptr; }

const char* orv_location_res_place_name(const orv_location_res* res) {
  const auto* p = placeOf(res);
  return p ? p->name().c_str() : nullptr;
}

const char* orv_location_res_place_type(const orv_location_res* res) {
  const auto* p = placeOf(res);
  return p ? p->type().c_str() : nullptr;
}

double orv_location_res_place_distance(const orv_location_res* res) {
  const auto* p = placeOf(res);
  return p ? p->distance()->line() : 0.0;
}

orv_status orv_geocode_list_decode(const char* json, const orv_geocode_list** out) {
  return guarded([&] {
    if (!out) return fail(ORV_STATUS_NULL_ARGUMENT, "out is NULL");
    *out = nullptr;
    if (auto s = checkText(json, "json")) return s;
    auto decoded = orv::decodeGeocodeList(json);
    if (!decoded) return fail(ORV_STATUS_FAILED, decoded.error().message);
    *out = new orv_geocode_list(decoded.value());
    return ORV_STATUS_OK;
  });
}

const orv_geocode_list* orv_geocode_list_retain(const orv_geocode_list* list) {
  return retainHandle(list);
}

void orv_geocode_list_release(const orv_geocode_list* list) { releaseHandle(list); }

size_t orv_geocode_list_count(const orv_geocode_list* list) { return list ? list->hits.size() : 0; }

const orv_geocode_res* orv_geocode_list_at(const orv_geocode_list* list, size_t i) {
  return list && i < list->hits.size() ? list->hits[i].get() : nullptr;
}

const char* orv_geocode_list_json(const orv_geocode_list* list) {
  if (!list) return nullptr;
  return list->json.get([list] { return encodeList(*list); });
}

const char* orv_geocode_res_json(const orv_geocode_res* hit) {
  if (!hit) return nullptr;
  return hit->json.get([hit] { return encodedOrThrow(hit->record->encode()); });
}

const char* orv_geocode_res_id(const orv_geocode_res* hit) {
  return hit ? hit->record->id().c_str() : nullptr;
}

const char* orv_geocode_res_geo_point(const orv_geocode_res* hit) {
  return hit ? hit->record->geoPoint().c_str() : nullptr;
}

const char* orv_geocode_res_type(const orv_geocode_res* hit) {
  return hit ? hit->record->type().c_str() : nullptr;
}

const char* orv_geocode_res_name(const orv_geocode_res* hit) {
  return hit ? hit->record->name().c_str() : nullptr;
}

const char* orv_geocode_res_code(const orv_geocode_res* hit) {
  return hit ? hit->record->code().c_str() : nullptr;
}

const char* orv_geocode_res_address_name(const orv_geocode_res* hit) {
  return hit ? hit->record->address()->name().c_str() : nullptr;
}

double orv_geocode_res_relevance(const orv_geocode_res* hit) {
  return hit ? hit->record->relevance() : 0.0;
}

double orv_geocode_res_distance(const orv_geocode_res* hit) {
  return hit ? hit->record->distance() : 0.0;
}

bool orv_geocode_res_has_categories(const orv_geocode_res* hit) {
  return hit && hit->record->categories().has_value();
}

size_t orv_geocode_res_category_count(const orv_geocode_res* hit) {
  return orv_geocode_res_has_categories(hit) ? hit->record->categories()->size() : 0;
}

const char* orv_geocode_res_category_id(const orv_geocode_res* hit, size_t i) {
  const auto* c = categoryAt(hit, i);
  return c ? c->id().c_str() : nullptr;
}

const char* orv_geocode_res_category_name(const orv_geocode_res* hit, size_t i) {
  const auto* c = categoryAt(hit, i);
  return c ? c->name().c_str() : nullptr;
}

}  // extern "C"
