// The library's one user of the location service: permission checks, single, fast single and
// continuous modes, and the fast sampling window.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "location/location_manager.h"
#include "orv/error.h"
#include "orv/location.h"
#include "orv/run_loop.h"

namespace orv::detail {

class LocationControllerDelegate {
 public:
  virtual ~LocationControllerDelegate() = default;
  virtual void locationSuccessWithLocation(const Location& location) = 0;
  // `code` says what the text is about (permission, provider, ...).
  virtual void locationFailedWithErrorMsg(const std::string& text, ErrorCode code) = 0;
  // Every fix the manager delivers, before any of the controller's own filtering.
  virtual void locationsDelivered(const std::vector<Location>& locations) { (void)locations; }
};

// Lives on the thread that creates it; everything it does runs on that thread's run loop.
class LocationController : public LocationManagerDelegate,
                           public std::enable_shared_from_this<LocationController> {
 public:
  static std::shared_ptr<LocationController> create();

  void initOption();
  void startContinuousLocation();
  void requestOnceLocation(bool isFast);
  // Continuous updates with no distance filter, for a delegate that wants every fix
  // (locationsDelivered); the same permission checks as every start.
  void startEveryFixUpdates();
  void stopUpdating();

  // The newest accepted fix; a default record (coordinate 0, 0) before the first one.
  const Location& locationPoint() const;
  // Not owned: the controller never keeps its delegate alive.
  void setDelegate(std::weak_ptr<LocationControllerDelegate> delegate);

  bool hasWhenInUseDescription() const;
  bool hasAlwaysDescription() const;
  bool hasBackgroundLocationMode() const;

  bool isContinuousLocation() const { return isContinuousLocation_; }
  bool isFastOnceLocation() const { return isFastOnceLocation_; }

  // LocationManagerDelegate
  void didUpdateLocations(const std::vector<Location>& locations) override;
  void didFailWithError(LocationFailure kind, const std::string& localizedDescription) override;

  ~LocationController() override;

 private:
  LocationController();
  LocationManager& locationManager();
  void reportFailure(const std::string& text, ErrorCode code);
  // Every start needs the when-in-use declaration and a status that is not denied or restricted;
  // otherwise the failure is reported and false returned.
  bool mayStart();
  void finishFastSampling();

  std::unique_ptr<LocationManager> locationManager_;  // created on first use
  Location locationPoint_{};
  std::weak_ptr<LocationControllerDelegate> delegate_;
  bool isContinuousLocation_ = false;
  bool isFastOnceLocation_ = false;
  std::vector<Location> fastBuffer_;
  std::shared_ptr<Timer> fastSampleTimer_;  // present while a fast window is open
};

}  // namespace orv::detail
