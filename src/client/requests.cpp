// The four request operations and fusion location: building, sending and the outcome handling
// they share.
#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/client_state.h"
#include "client/location_error.h"
#include "client/request_control.h"
#include "client/request_fill.h"
#include "model/json_decode.h"
#include "model/request_bodies.h"
#include "network/network_client.h"
#include "network/request_builder.h"
#include "network/service.h"
#include "platform/device_info.h"
#include "platform/log.h"

namespace orv {

namespace detail {

std::string assetId(const DeviceFacts& device) {
  return device.vendorIdentifier ? *device.vendorIdentifier : randomUUID();
}

TrackRequest makeTrackRequest(const Location& fix, const DeviceFacts& device) {
  TrackRequest body;
  body.timestamp = currentMilliStamp();
  body.id = randomUUID();
  body.asset.id = assetId(device);
  body.asset.manufacturer = device.manufacturer;
  body.asset.model = device.model;
  body.asset.os = OSInfo{device.systemName, device.systemVersion};
  GnssData& gnss = body.location.gnss;
  gnss.point = {fix.coordinate.longitude, fix.coordinate.latitude};
  // Negative marks an invalid reading; `> 0` and `>= 0` also turn NaN away.
  gnss.accuracy = fix.horizontalAccuracy > 0 ? fix.horizontalAccuracy : 0.0;
  gnss.altitude = fix.altitude;
  if (fix.verticalAccuracy > 0) gnss.verticalAccuracy = fix.verticalAccuracy;
  if (fix.speed >= 0) gnss.velocity = fix.speed;
  return body;
}

}  // namespace detail

namespace {

using detail::RequestBuilder;
using detail::RequestResult;
using detail::sdkLog;
using State = OrvClientLocation::State;
using StatePtr = std::shared_ptr<State>;
using GeocodeList = std::vector<std::shared_ptr<GeocodeRes>>;
using LocationResult = RequestResult<std::shared_ptr<LocationRes>>;
using ListResult = RequestResult<GeocodeList>;
using QueryItems = std::map<std::string, std::string>;

constexpr double kRequestTimeout = 30.0;

// The diagnostic text of an error in failure log lines: "<domain> <code>: <message>", e.g.
// "NetworkClient 500: 请求失败，状态码: 500" or "CURLE 7: Couldn't connect to server". Unlike the
// delegate's message it names the layer and code, which is what a log reader needs.
std::string diagnostic(const Error& error) {
  return error.domain + " " + std::to_string(error.code) + ": " + error.message;
}

template <class T>
std::string statusText(const RequestResult<T>& result) {
  return result.response() ? std::to_string(result.response()->statusCode) : "-1";
}

template <class T>
LocationError failure(const RequestResult<T>& result) {
  if (detail::RequestControl::isCancelled(result.error())) {
    return detail::makeLocationError(ErrorCode::cancelled, detail::kClientDomain,
                                     result.error().message);
  }
  return detail::requestError(result.error(), result.response().get(),
                              std::chrono::system_clock::now());
}

// How a request in flight holds the client: weakly (an outcome for a client the host has let go
// of is dropped) or strongly (the outcome is always handled).
enum class Hold { weak, strong };

template <class T>
using Completion = std::function<void(RequestResult<T>)>;

template <class T, class Handle>
Completion<T> holding(const StatePtr& state, Hold hold, Handle handle) {
  if (hold == Hold::strong) {
    return [state, handle](RequestResult<T> result) { handle(*state, std::move(result)); };
  }
  return [weak = std::weak_ptr<State>(state), handle](RequestResult<T> result) {
    const StatePtr state = weak.lock();
    if (!state || state->released) return;
    handle(*state, std::move(result));
  };
}

// Builds and sends; a request that cannot be built still ends on the main queue, never inside the
// calling operation. `logSent` writes the operation's line about the built request. A request
// cancelled before its outcome is handled reports the cancellation in the outcome's place.
template <class T, class LogSent>
RequestHandle send(State& state, Hold hold, const RequestBuilder& builder, Completion<T> completion,
                   LogSent logSent) {
  auto control = std::make_shared<detail::RequestControl>();
  // Outcomes the client would drop once the host lets go of it are not worth their transfer.
  if (hold == Hold::weak) state.trackForRelease(control);
  Completion<T> settling = [control, completion = std::move(completion)](RequestResult<T> result) {
    if (!control->settle()) {
      result = RequestResult<T>::failure(detail::RequestControl::cancelledError());
    }
    completion(std::move(result));
  };
  Result<detail::URLRequest> built = builder.makeURLRequest();
  if (!built) {
    state.home->post([settling = std::move(settling), error = built.error()] {
      settling(RequestResult<T>::failure(error));
    });
    return detail::RequestControl::handle(std::move(control));
  }
  logSent(built.value());
  detail::NetworkClient& sender = detail::NetworkClient::shared();
  control->sent(sender.session(),
                sender.request<T>(built.value(), std::move(settling), state.home));
  return detail::RequestControl::handle(std::move(control));
}

// ---- LocationRes answers: fusion location and reverse geocoding ------------------------------

struct LocationOperation {
  std::string_view bodyLabel;
  std::string_view failureLabel;
  std::string_view successLabel;
  // Receives an answer with status exactly 200.
  void (LocationDelegate::*deliver)(std::shared_ptr<LocationRes>);
};

constexpr LocationOperation kTrack{
    "\n融合定位请求Body:", "融合定位失败: ", "融合定位成功，状态码: ",
    &LocationDelegate::onReceivedLocationWithOrvLocation};
constexpr LocationOperation kReverse{
    "\n逆地理编码请求Body:", "逆地理编码失败: ", "逆地理编码成功，状态码: ",
    &LocationDelegate::onReceivedReverseCodeWithOrvLocation};

void handleLocationOutcome(State& state, LocationResult result, const LocationOperation& op) {
  if (!result.isSuccess()) {
    sdkLog(std::string(op.failureLabel) + diagnostic(result.error()) +
           "，状态码: " + statusText(result));
    state.reportError(failure(result));
    return;
  }
  const std::string status = std::to_string(result.response()->statusCode);
  sdkLog(std::string(op.successLabel) + status);
  const std::shared_ptr<LocationDelegate> delegate = state.callDelegate;
  if (!delegate) return;
  // Any other 2xx decodes but is not an answer the host can use: it gets the code alone.
  if (result.response()->statusCode == 200) {
    ((*delegate).*op.deliver)(std::move(result.value()));
  } else {
    LocationError error =
        detail::makeLocationError(ErrorCode::httpStatus, detail::kStatusErrorDomain, status);
    error.status = result.response()->statusCode;
    delegate->onLocationError(error);
  }
}

RequestHandle sendLocationRequest(const StatePtr& state, std::string_view path, QueryItems query,
                                  detail::JsonBody body, const LocationOperation& op) {
  RequestBuilder builder;
  builder.urlString = detail::serviceUrl(path);
  builder.method = detail::HTTPMethod::post;
  builder.queryParameters = std::move(query);
  builder.bodyParameters = std::move(body);
  builder.timeoutInterval = kRequestTimeout;
  return send<std::shared_ptr<LocationRes>>(
      *state, Hold::weak, builder,
      holding<std::shared_ptr<LocationRes>>(state, Hold::weak,
                                            [op = &op](State& s, LocationResult result) {
                                              handleLocationOutcome(s, std::move(result), *op);
                                            }),
      [op = &op](const detail::URLRequest& request) {
        if (request.body && detail::isValidUtf8(*request.body)) {
          sdkLog(op->bodyLabel);
          sdkLog(*request.body);
        }
      });
}

// ---- GeocodeRes lists: geocoding and the place searches -------------------------------------

struct ListOperation {
  Hold hold;
  // Searches tell the host first and log afterwards; geocoding logs first.
  bool deliverBeforeLog;
  void (LocationDelegate::*deliver)(const GeocodeList&);
};

constexpr ListOperation kGeocode{Hold::weak, false, &LocationDelegate::onReceivedGeocodeWithResult};
constexpr ListOperation kSearch{Hold::strong, true,
                                &LocationDelegate::onReceivedPoiSearchWithResult};

void handleListOutcome(State& state, ListResult result, const ListOperation& op) {
  if (!result.isSuccess()) {
    sdkLog("请求失败，状态码：" + statusText(result) + "，错误：" + result.error().message);
    state.reportError(failure(result));
    return;
  }
  const std::string line = "请求成功，状态码：" + std::to_string(result.response()->statusCode) +
                           "，返回" + std::to_string(result.value().size()) + "条结果";
  if (!op.deliverBeforeLog) sdkLog(line);
  if (const std::shared_ptr<LocationDelegate> delegate = state.callDelegate) {
    ((*delegate).*op.deliver)(result.value());
  }
  if (op.deliverBeforeLog) sdkLog(line);
}

RequestHandle sendListQuery(const StatePtr& state, std::string_view path, QueryItems query,
                            const ListOperation& op) {
  RequestBuilder builder;
  builder.urlString = detail::serviceUrl(path);
  builder.method = detail::HTTPMethod::get;
  builder.queryParameters = std::move(query);
  builder.timeoutInterval = kRequestTimeout;
  return send<GeocodeList>(
      *state, op.hold, builder,
      holding<GeocodeList>(state, op.hold,
                           [op = &op](State& s, ListResult result) {
                             handleListOutcome(s, std::move(result), *op);
                           }),
      [](const detail::URLRequest& request) {
        sdkLog("请求URL：" + (request.url.empty() ? std::string("无效URL") : request.url));
      });
}

}  // namespace

void OrvClientLocation::State::trackForRelease(std::weak_ptr<detail::RequestControl> control) {
  // Ended requests are swept out whenever the list has doubled since the last sweep.
  if (requests.size() >= 2 * requestsAfterSweep) {
    std::erase_if(requests, [](const auto& weak) {
      const auto c = weak.lock();
      return !c || c->finished();
    });
    requestsAfterSweep = std::max<size_t>(requests.size(), 8);
  }
  requests.push_back(std::move(control));
}

void OrvClientLocation::State::cancelRequests() {
  for (const auto& weak : std::exchange(requests, {})) {
    if (const auto control = weak.lock()) control->cancel();
  }
}

RequestHandle OrvClientLocation::State::getTrackLocation(const Location& location) {
  if (!checkConsentAndKey()) return {};
  return sendLocationRequest(shared_from_this(), detail::kTrackPointsPath,
                             {{"access_key", OrvClientLocation::sharedAccessKey()},
                              {"response_sprf", "gcj02"},
                              {"needAddress", "true"}},
                             detail::makeTrackRequest(location, detail::currentDevice()), kTrack);
}

RequestHandle OrvClientLocation::getTrackLocationWithHandle(const Location& location) {
  state_->checkThread();
  return state_->getTrackLocation(location);
}

void OrvClientLocation::getTrackLocation(const Location& location) {
  getTrackLocationWithHandle(location);
}

void OrvClientLocation::getReverseCode(double latitude, double longitude) {
  getReverseCodeWithHandle(latitude, longitude);
}

void OrvClientLocation::getGeocCode(const std::string& address, const std::string& city) {
  getGeocCodeWithHandle(address, city);
}

void OrvClientLocation::poiKeySearch(const std::string& name, const std::string& city_code,
                                     const std::string& city, int32_t page_index,
                                     int32_t page_size) {
  poiKeySearchWithHandle(name, city_code, city, page_index, page_size);
}

void OrvClientLocation::poiNearbySearch(const std::string& keywords, const std::string& location,
                                        int32_t radius, const std::string& category,
                                        const std::string& orderby, int32_t page_index,
                                        int32_t page_size) {
  poiNearbySearchWithHandle(keywords, location, radius, category, orderby, page_index, page_size);
}

RequestHandle OrvClientLocation::getReverseCodeWithHandle(double latitude, double longitude) {
  state_->checkThread();
  if (!state_->checkConsentAndKey()) return {};
  detail::ReverseGeoRequest body;
  body.asset = detail::assetId(detail::currentDevice());
  body.location.position.point = {longitude, latitude};
  body.location.position.spatialReference = "gcj02";
  body.timestamp = detail::currentMilliStamp();
  body.id = detail::randomUUID();
  return sendLocationRequest(state_, detail::kReverseGeocodePath,
                             {{"access_key", sharedAccessKey()}, {"response_sprf", "gcj02"}},
                             std::move(body), kReverse);
}

RequestHandle OrvClientLocation::getGeocCodeWithHandle(const std::string& address,
                                                       const std::string& city) {
  state_->checkThread();
  if (!state_->checkConsentAndKey()) return {};
  return sendListQuery(state_, detail::kGeocodePath,
                       {{"access_key", sharedAccessKey()}, {"address", address}, {"city", city}},
                       kGeocode);
}

RequestHandle OrvClientLocation::poiKeySearchWithHandle(const std::string& name,
                                                        const std::string& city_code,
                                                        const std::string& city, int32_t page_index,
                                                        int32_t page_size) {
  state_->checkThread();
  if (!state_->checkConsentAndKey()) return {};
  return sendListQuery(state_, detail::kPlaceSearchPath,
                       {{"access_key", sharedAccessKey()},
                        {"name", name},
                        {"city", city},
                        {"city_code", city_code},
                        {"page_index", std::to_string(page_index)},
                        {"page_size", std::to_string(page_size)}},
                       kSearch);
}

RequestHandle OrvClientLocation::poiNearbySearchWithHandle(const std::string& keywords,
                                                           const std::string& location,
                                                           int32_t radius,
                                                           const std::string& category,
                                                           const std::string& orderby,
                                                           int32_t page_index, int32_t page_size) {
  state_->checkThread();
  if (!state_->checkConsentAndKey()) return {};
  return sendListQuery(state_, detail::kNearbySearchPath,
                       {{"access_key", sharedAccessKey()},
                        {"name", keywords},
                        {"location", location},
                        {"radius", std::to_string(radius)},
                        {"category", category},
                        {"orderby", orderby},
                        {"page_index", std::to_string(page_index)},
                        {"page_size", std::to_string(page_size)}},
                       kSearch);
}

}  // namespace orv
