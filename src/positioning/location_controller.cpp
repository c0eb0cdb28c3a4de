#include "positioning/location_controller.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <utility>
#include <variant>

#include "orv/bundle.h"
#include "platform/log.h"

namespace orv::detail {
namespace {

constexpr double kDistanceFilterMetres = 3.0;
constexpr std::chrono::duration<double> kFastWindow{0.2};

constexpr const char* kMissingWhenInUse =
    "Info.plist 缺少 NSLocationWhenInUseUsageDescription 配置";
constexpr const char* kDenied = "定位权限已被拒绝或受限，请前往设置开启";
constexpr const char* kMissingAlways =
    "Info.plist 缺少 NSLocationAlwaysAndWhenInUseUsageDescription 配置，后台定位不可用";
constexpr const char* kNoBackgroundAuthorization = "用户未授权后台定位，连续定位仅前台生效";
constexpr const char* kNoBackgroundMode =
    "未配置后台定位能力（UIBackgroundModes → location），连续定位仅前台生效";

bool declaresText(const char* key) {
  const auto value = Bundle::mainBundle().objectForInfoDictionaryKey(key);
  return value && std::holds_alternative<std::string>(*value);
}

// Shortest text that reads back to the same double; whole values keep one decimal ("65.0").
// Very large and very small magnitudes use exponent form, as the platform's own printing does.
std::string coordinateText(double v) {
  if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
  const double mag = std::fabs(v);
  const bool plain = mag == 0.0 || (mag >= 1e-4 && mag < 1e16);
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v,
                                 plain ? std::chars_format::fixed : std::chars_format::scientific);
  std::string text(buf, ec == std::errc{} ? end : buf);
  if (plain && text.find('.') == std::string::npos) text += ".0";
  return text;
}

// A provider's failure is about permission when the provider says so, or when its status is
// refused (denied or restricted) whatever it says. Anything else is the source failing, whatever
// the status: "not determined" only says that nobody has decided yet, as the system default
// reports until it has chosen a source.
ErrorCode failureCode(LocationFailure kind) {
  switch (kind) {
    case LocationFailure::noSourceConfigured:
      return ErrorCode::noLocationProvider;
    case LocationFailure::permissionPending:
      return ErrorCode::permissionNotDetermined;
    default:
      break;
  }
  switch (LocationManager::authorizationStatus()) {
    case 1:
      return ErrorCode::permissionRestricted;
    case 2:
      return ErrorCode::permissionDenied;
    default:
      return kind == LocationFailure::permissionDenied ? ErrorCode::permissionDenied
                                                       : ErrorCode::providerFailure;
  }
}

}  // namespace

std::shared_ptr<LocationController> LocationController::create() {
  return std::shared_ptr<LocationController>(new LocationController());
}

LocationController::LocationController() = default;
LocationController::~LocationController() = default;

LocationManager& LocationController::locationManager() {
  if (!locationManager_) locationManager_ = std::make_unique<LocationManager>();
  return *locationManager_;
}

bool LocationController::hasWhenInUseDescription() const {
  return declaresText("NSLocationWhenInUseUsageDescription");
}

bool LocationController::hasAlwaysDescription() const {
  return declaresText("NSLocationAlwaysAndWhenInUseUsageDescription");
}

bool LocationController::hasBackgroundLocationMode() const {
  const auto value = Bundle::mainBundle().objectForInfoDictionaryKey("UIBackgroundModes");
  if (!value) return false;
  const auto* modes = std::get_if<std::vector<std::string>>(&*value);
  return modes && std::find(modes->begin(), modes->end(), "location") != modes->end();
}

const Location& LocationController::locationPoint() const { return locationPoint_; }

void LocationController::setDelegate(std::weak_ptr<LocationControllerDelegate> delegate) {
  delegate_ = std::move(delegate);
}

void LocationController::reportFailure(const std::string& text, ErrorCode code) {
  if (auto d = delegate_.lock()) d->locationFailedWithErrorMsg(text, code);
}

bool LocationController::mayStart() {
  if (!hasWhenInUseDescription()) {
    reportFailure(kMissingWhenInUse, ErrorCode::permissionDeclarationMissing);
    return false;
  }
  const int status = LocationManager::authorizationStatus();
  if (status == 1 || status == 2) {
    reportFailure(kDenied,
                  status == 1 ? ErrorCode::permissionRestricted : ErrorCode::permissionDenied);
    return false;
  }
  return true;
}

void LocationController::initOption() {
  sdkLog("initOption：");
  LocationManager& manager = locationManager();
  manager.setDistanceFilter(kDistanceFilterMetres);
  manager.setDesiredAccuracy(kLocationAccuracyBest);
  manager.setDelegate(weak_from_this());
  manager.setPausesLocationUpdatesAutomatically(false);
  manager.requestWhenInUseAuthorization();
}

void LocationController::startContinuousLocation() {
  if (!mayStart()) return;
  isContinuousLocation_ = true;
  if (hasBackgroundLocationMode()) {
    if (!hasAlwaysDescription()) {
      return reportFailure(kMissingAlways, ErrorCode::permissionDeclarationMissing);
    }
    locationManager().setAllowsBackgroundLocationUpdates(true);
    if (LocationManager::authorizationStatus() == 4) locationManager().requestAlwaysAuthorization();
    if (LocationManager::authorizationStatus() != 3) writeLine(kNoBackgroundAuthorization);
  } else {
    writeLine(kNoBackgroundMode);
  }
  locationManager().startUpdatingLocation();
}

void LocationController::startEveryFixUpdates() {
  if (!mayStart()) return;
  locationManager().setDistanceFilter(-1.0);
  locationManager().startUpdatingLocation();
}

void LocationController::requestOnceLocation(bool isFast) {
  if (!mayStart()) return;
  isContinuousLocation_ = false;
  if (isFast) {
    sdkLog("请求单次定位（快速模式）：");
    isFastOnceLocation_ = true;
    fastBuffer_.clear();
    if (fastSampleTimer_) std::exchange(fastSampleTimer_, nullptr)->invalidate();
    locationManager().startUpdatingLocation();
  } else {
    sdkLog("请求单次定位：");
    locationManager().requestLocation();
  }
}

void LocationController::didUpdateLocations(const std::vector<Location>& locations) {
  if (locations.empty()) return;
  if (auto d = delegate_.lock()) d->locationsDelivered(locations);
  const Location& newest = locations.back();
  if (newest.coordinate.latitude == 0.0 || newest.coordinate.longitude == 0.0) return;
  locationPoint_ = newest;
  sdkLog("纬度：" + coordinateText(newest.coordinate.latitude) + " 经度：" +
         coordinateText(newest.coordinate.longitude) + " 精度：" +
         coordinateText(newest.horizontalAccuracy));
  if (!isFastOnceLocation_) {
    if (auto d = delegate_.lock()) d->locationSuccessWithLocation(newest);
    return;
  }
  fastBuffer_.push_back(newest);
  if (!fastSampleTimer_) {
    // Weak: a window still open when the controller goes away closes without a report.
    fastSampleTimer_ = Timer::scheduled(kFastWindow, false, [weak = weak_from_this()](Timer&) {
      if (auto self = weak.lock()) self->finishFastSampling();
    });
  }
}

void LocationController::finishFastSampling() {
  fastSampleTimer_.reset();
  if (fastBuffer_.empty()) return stopUpdating();
  Location best = fastBuffer_.front();
  for (size_t i = 1; i < fastBuffer_.size(); ++i) {
    const double accuracy = fastBuffer_[i].horizontalAccuracy;
    if (accuracy >= 0 && (best.horizontalAccuracy < 0 || accuracy < best.horizontalAccuracy)) {
      best = fastBuffer_[i];
    }
  }
  stopUpdating();
  if (auto d = delegate_.lock()) d->locationSuccessWithLocation(best);
}

void LocationController::didFailWithError(LocationFailure kind,
                                          const std::string& localizedDescription) {
  sdkLog("定位失败：" + localizedDescription);
  reportFailure(localizedDescription, failureCode(kind));
}

void LocationController::stopUpdating() {
  isContinuousLocation_ = false;
  isFastOnceLocation_ = false;
  if (fastSampleTimer_) std::exchange(fastSampleTimer_, nullptr)->invalidate();
  fastBuffer_.clear();
  locationManager().setAllowsBackgroundLocationUpdates(false);
  locationManager().stopUpdatingLocation();
  sdkLog("手动停止定位成功");
}

}  // namespace orv::detail
