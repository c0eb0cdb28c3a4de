#include "batch/batch_requests.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <utility>

#include "client/client_state.h"
#include "client/location_error.h"
#include "client/request_fill.h"
#include "model/json_decode.h"
#include "model/request_bodies.h"
#include "network/network_client.h"
#include "network/request_builder.h"
#include "network/service.h"
#include "platform/device_info.h"

namespace orv::detail {
namespace {

using GeocodeList = std::vector<std::shared_ptr<GeocodeRes>>;
using Query = std::map<std::string, std::string>;

// Every bit of a double, so that only truly equal inputs count as repeats.
std::string exact(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%a", v);
  return buf;
}

Result<URLRequest> build(std::string_view path, HTTPMethod method, Query query,
                         std::optional<JsonBody> body, double timeout) {
  RequestBuilder builder;
  builder.urlString = serviceUrl(path);
  builder.method = method;
  builder.queryParameters = std::move(query);
  builder.bodyParameters = std::move(body);
  builder.timeoutInterval = timeout;
  return builder.makeURLRequest();
}

// The single request's rules: the request layer's checks, then status exactly 200.
template <class T, class Store>
std::optional<LocationError> decodeAs(TransferOutcome outcome, BatchOutcome& out, Store store) {
  std::optional<LocationError> failure;
  NetworkClient::handleResponse<T>(
      std::move(outcome.body), std::move(outcome.response), std::move(outcome.error),
      [&](RequestResult<T> result) {
        if (!result.isSuccess()) {
          failure = requestError(result.error(), result.response().get(),
                                 std::chrono::system_clock::now());
          return;
        }
        const long status = result.response()->statusCode;
        if (status != 200) {
          failure =
              makeLocationError(ErrorCode::httpStatus, kStatusErrorDomain, std::to_string(status));
          failure->status = status;
          return;
        }
        store(out, std::move(result.value()));
      });
  return failure;
}

std::optional<LocationError> decodeLocation(TransferOutcome outcome, BatchOutcome& out) {
  return decodeAs<std::shared_ptr<LocationRes>>(
      std::move(outcome), out,
      [](BatchOutcome& o, std::shared_ptr<LocationRes> v) { o.location = std::move(v); });
}

}  // namespace

BatchSpec reverseGeocodeSpec(std::vector<ReverseGeocodeInput> inputs, std::string accessKey,
                             double timeout) {
  auto in = std::make_shared<const std::vector<ReverseGeocodeInput>>(std::move(inputs));
  const std::string asset = assetId(currentDevice());
  BatchSpec spec;
  spec.count = in->size();
  spec.key = [in](size_t i) { return exact((*in)[i].latitude) + "," + exact((*in)[i].longitude); };
  spec.build = [in, accessKey, asset, timeout](size_t i) {
    ReverseGeoRequest body;
    body.asset = asset;
    body.location.position.point = {(*in)[i].longitude, (*in)[i].latitude};
    body.location.position.spatialReference = "gcj02";
    body.timestamp = currentMilliStamp();
    body.id = randomUUID();
    return build(kReverseGeocodePath, HTTPMethod::post,
                 {{"access_key", accessKey}, {"response_sprf", "gcj02"}}, JsonBody(std::move(body)),
                 timeout);
  };
  spec.decode = decodeLocation;
  return spec;
}

BatchSpec geocodeSpec(std::vector<GeocodeInput> inputs, std::string accessKey, double timeout) {
  auto in = std::make_shared<const std::vector<GeocodeInput>>(std::move(inputs));
  BatchSpec spec;
  spec.count = in->size();
  spec.key = [in](size_t i) { return (*in)[i].address + '\x1f' + (*in)[i].city; };
  spec.build = [in, accessKey, timeout](size_t i) {
    return build(
        kGeocodePath, HTTPMethod::get,
        {{"access_key", accessKey}, {"address", (*in)[i].address}, {"city", (*in)[i].city}},
        std::nullopt, timeout);
  };
  spec.decode = [](TransferOutcome outcome, BatchOutcome& out) {
    return decodeAs<GeocodeList>(std::move(outcome), out,
                                 [](BatchOutcome& o, GeocodeList v) { o.places = std::move(v); });
  };
  return spec;
}

BatchSpec trackSpec(std::vector<Location> fixes, std::string accessKey, double timeout) {
  auto in = std::make_shared<const std::vector<Location>>(std::move(fixes));
  auto device = std::make_shared<const DeviceFacts>(currentDevice());
  BatchSpec spec;
  spec.count = in->size();
  // What the request carries of the fix.
  spec.key = [in](size_t i) {
    const Location& f = (*in)[i];
    return exact(f.coordinate.latitude) + "," + exact(f.coordinate.longitude) + "," +
           exact(f.horizontalAccuracy) + "," + exact(f.altitude) + "," + exact(f.verticalAccuracy) +
           "," + exact(f.speed);
  };
  spec.build = [in, device, accessKey, timeout](size_t i) {
    return build(kTrackPointsPath, HTTPMethod::post,
                 {{"access_key", accessKey}, {"response_sprf", "gcj02"}, {"needAddress", "true"}},
                 JsonBody(makeTrackRequest((*in)[i], *device)), timeout);
  };
  spec.decode = decodeLocation;
  return spec;
}

}  // namespace orv::detail
