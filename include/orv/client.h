// The client: the library's one entry point, and the host's callback interface.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "orv/error.h"
#include "orv/export.h"
#include "orv/geocode_res.h"
#include "orv/geofence.h"
#include "orv/location.h"
#include "orv/location_res.h"
#include "orv/request_handle.h"
#include "orv/service_configuration.h"

namespace orv {

// Implemented by the host. Every outcome of every operation arrives here, on the thread that
// created the client: refusals inside the call, everything else from that thread's run loop. The
// optional callbacks do nothing unless overridden.
class ORV_API LocationDelegate {
 public:
  virtual ~LocationDelegate() = default;
  virtual void onReceivedLocationWithOrvLocation(std::shared_ptr<LocationRes> location) = 0;
  virtual void onLocationErrorWithMsg(const std::string& msg) = 0;
  // Every failure, typed. Unless overridden it hands `error.message` to onLocationErrorWithMsg,
  // so a host that implements only the text callback sees the same texts in the same order.
  virtual void onLocationError(const LocationError& error) {
    onLocationErrorWithMsg(error.message);
  }
  virtual void onReceivedReverseCodeWithOrvLocation(std::shared_ptr<LocationRes> /*location*/) {}
  virtual void onReceivedGeocodeWithResult(
      const std::vector<std::shared_ptr<GeocodeRes>>& /*result*/) {}
  virtual void onReceivedPoiSearchWithResult(
      const std::vector<std::shared_ptr<GeocodeRes>>& /*result*/) {}
  // An event of the client's geofence monitoring (startGeofenceMonitoring).
  virtual void onGeofenceEvent(const GeofenceEvent& /*event*/) {}
};

// One client per host. It belongs to the thread that creates it (normally the main thread): call
// it only there (debug builds assert this) and run that thread's loop, on which device fixes,
// timers and network outcomes are delivered. No operation returns a result or throws; every
// outcome goes to the delegate. Requests in flight keep what they need, so the client may be
// destroyed at any time (outcomes for a destroyed client are dropped, except place searches,
// which are always delivered).
class ORV_API OrvClientLocation {
 public:
  explicit OrvClientLocation(std::shared_ptr<LocationDelegate> delegate);
  ~OrvClientLocation();
  OrvClientLocation(const OrvClientLocation&) = delete;
  OrvClientLocation& operator=(const OrvClientLocation&) = delete;

  // Stores the key for this client and as the process-wide key sent with every request.
  void initKey(const std::string& accesskey);
  void setAgreePrivacy(bool isAgree);
  void setLocationDelegate(std::shared_ptr<LocationDelegate> delegate);

  // Positioning runs: single (isLocateOnce), fast single, or continuous every `interval` s.
  // A continuous run refuses to start unless `interval` is a positive number of seconds,
  // reporting "定位间隔无效：interval 必须大于 0 秒" (a period of zero would sample, and send, as
  // fast as the loop turns); a positive interval below 1 ms samples every millisecond. A run keeps
  // the kind (single or continuous) it started as. A positioning failure ends any run and stops it
  // completely (sampling timer and device updates), so it is reported once.
  void startLocation();
  void startFastLocation();
  void stopLocation();

  // Geofence monitoring: while on, every fix the location provider delivers (each one, not only
  // the samples of a continuous run) is fed to `monitor`, and its events reach onGeofenceEvent
  // from the run loop. Monitoring runs its own stream of fixes, with no distance filter, whether
  // or not a positioning run is under way; runs and monitoring start and stop independently. It
  // passes the same gate as startLocation (consent, key, then the positioning permission), with
  // the same texts and codes. Starting again replaces the monitor; a null monitor stops. A
  // positioning failure ends monitoring and is reported once; a monitor that cannot record its
  // state reports ErrorCode::geofenceFailure for that fix and monitoring goes on. Fixes with a
  // zero latitude or longitude are ignored, as runs ignore them. The client holds the monitor
  // until monitoring stops; use it only on this thread meanwhile.
  void startGeofenceMonitoring(std::shared_ptr<GeofenceMonitor> monitor);
  void stopGeofenceMonitoring();
  bool isGeofenceMonitoring() const;

  // Fusion location of a fix given by the host.
  void getTrackLocation(const Location& location);
  // Reverse geocoding of a GCJ-02 coordinate.
  void getReverseCode(double latitude, double longitude);
  void getGeocCode(const std::string& address, const std::string& city);
  void poiKeySearch(const std::string& name, const std::string& city_code, const std::string& city,
                    int32_t page_index, int32_t page_size);
  void poiNearbySearch(const std::string& keywords, const std::string& location, int32_t radius,
                       const std::string& category, const std::string& orderby, int32_t page_index,
                       int32_t page_size);

  // The same operations, returning a handle whose cancel() ends the request (see
  // RequestHandle); empty when the gate turned the call down. Destroying the client aborts the
  // transfers of fusion location, reverse geocoding and geocoding in flight (their outcomes would
  // be dropped: no callback); place searches run on and are delivered, unless cancelled.
  RequestHandle getTrackLocationWithHandle(const Location& location);
  RequestHandle getReverseCodeWithHandle(double latitude, double longitude);
  RequestHandle getGeocCodeWithHandle(const std::string& address, const std::string& city);
  RequestHandle poiKeySearchWithHandle(const std::string& name, const std::string& city_code,
                                       const std::string& city, int32_t page_index,
                                       int32_t page_size);
  RequestHandle poiNearbySearchWithHandle(const std::string& keywords, const std::string& location,
                                          int32_t radius, const std::string& category,
                                          const std::string& orderby, int32_t page_index,
                                          int32_t page_size);

  // Now, in milliseconds since 1970, halves rounded away from zero.
  int64_t milliStamp() const;

  const std::shared_ptr<LocationDelegate>& callDelegate() const;
  void setCallDelegate(std::shared_ptr<LocationDelegate> delegate);
  // Only its presence is checked; the key sent is the one given to initKey().
  const std::optional<std::string>& accesskey() const;
  void setAccesskey(std::optional<std::string> accesskey);
  // Seconds between samples of a continuous run, read when the run's timer starts (a value made
  // invalid after the run started leaves the accepted one in force).
  double interval() const;
  void setInterval(double seconds);
  bool isLocateOnce() const;
  void setIsLocateOnce(bool value);
  bool isFastLocation() const;
  void setIsFastLocation(bool value);
  bool isAgree() const;
  void setIsAgree(bool value);

  // Process-wide log switch (default off). Lines go to standard output unless a sink is set.
  static bool isLogEnabled();
  static void setIsLogEnabled(bool enabled);
  // Each line (no newline), one call at a time, no lock held: it may call in. Empty: stdout.
  static void setLogSink(std::function<void(std::string_view line)> sink);
  // The key of the last initKey() of any client.
  static std::string sharedAccessKey();
  // Service base URL, CA bundle and proxy for requests started afterwards.
  static void setServiceConfiguration(const ServiceConfiguration& config);

  struct ORV_HIDDEN State;

 private:
  friend class Batch;
  std::shared_ptr<State> state_;
};

}  // namespace orv
