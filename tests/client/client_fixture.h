// What the client tests share: a recording delegate, a log capture in one trace with the
// delegate's calls, and a loopback HTTPS service the client is configured to reach.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "orv/client.h"
#include "orv/location_service.h"
#include "orv/run_loop.h"
#include "test_server.h"

namespace orv::test {

using GeocodeList = std::vector<std::shared_ptr<GeocodeRes>>;

// The log lines and delegate calls of one test, in the order they happened.
struct Trace {
  std::vector<std::string> events;
  size_t count(const std::string& event) const {
    return static_cast<size_t>(std::count(events.begin(), events.end(), event));
  }
};

// Records every callback as an event: "location", "error:<msg>", "reverse", "geocode:<n>",
// "poi:<n>", "fence:<kind>:<id>"; keeps what it received. Typed errors go on to the text callback
// by the default.
class RecordingDelegate : public LocationDelegate {
 public:
  explicit RecordingDelegate(Trace& trace) : trace_(trace) {}
  void onLocationError(const LocationError& error) override {
    typed.push_back(error);
    LocationDelegate::onLocationError(error);
  }
  void onLocationErrorWithMsg(const std::string& msg) override {
    note("error:" + msg);
    errors.push_back(msg);
    if (afterError) afterError();
  }
  void onReceivedLocationWithOrvLocation(std::shared_ptr<LocationRes> res) override {
    located("location", std::move(res));
  }
  void onReceivedReverseCodeWithOrvLocation(std::shared_ptr<LocationRes> res) override {
    located("reverse", std::move(res));
  }
  void onReceivedGeocodeWithResult(const GeocodeList& result) override {
    listed("geocode:", result);
  }
  void onReceivedPoiSearchWithResult(const GeocodeList& result) override { listed("poi:", result); }
  void onGeofenceEvent(const GeofenceEvent& event) override {
    note("fence:" + std::string(geofenceEventName(event.kind)) + ":" + event.fenceId);
    fences.push_back(event);
    if (afterFence) afterFence();
  }

  std::vector<std::shared_ptr<LocationRes>> locations;
  std::vector<LocationError> typed;
  std::vector<std::string> errors;
  std::vector<GeocodeList> lists;
  std::vector<GeofenceEvent> fences;
  size_t calls = 0;
  // Run after a location or an error has been recorded, as a host reacting inside its callback
  // would.
  std::function<void()> afterLocation;
  std::function<void()> afterError;
  std::function<void()> afterFence;

 private:
  void note(const std::string& event) {
    ++calls;
    trace_.events.push_back("delegate:" + event);
  }
  void located(const char* event, std::shared_ptr<LocationRes> res) {
    note(event);
    locations.push_back(std::move(res));
    if (afterLocation) afterLocation();
  }
  void listed(const char* event, const GeocodeList& result) {
    note(event + std::to_string(result.size()));
    lists.push_back(result);
  }
  Trace& trace_;
};

inline constexpr const char* kLocationAnswer = R"({"id": "r-0001", "asset": "asset-0001",
  "location": {"timestamp": 1700000000123, "address": {"name": "Example Street 1", "context": []},
    "place": {"type": "building", "name": "Example Tower", "distance": {"line": 42.5}},
    "position": {"point": {"longitude": 116.4805, "latitude": 39.9965}}}})";

inline constexpr const char* kTwoHits = R"([
  {"id": "p-1", "geoPoint": "g1", "type": "poi", "name": "Tower", "code": "B01",
   "address": {"name": "Street 1", "context": []}, "relevance": 0.9, "distance": 125.0},
  {"id": "p-2", "geoPoint": "g2", "type": "poi", "name": "Park", "code": "B02",
   "address": {"name": "City", "context": []}, "relevance": 0.7, "distance": 240}])";

class ClientTest : public ::testing::Test {
 public:
  ClientTest();
  ~ClientTest() override;

  // A client with consent and the key "test-key".
  std::unique_ptr<OrvClientLocation> makeClient();
  void answer(const std::string& path, int status, const std::string& body);
  // Runs the main loop until `done` or 10 s.
  bool waitFor(const std::function<bool()>& done) {
    return RunLoop::main().runUntil(done, std::chrono::seconds(10));
  }
  // Runs the main loop until `n` requests have reached the server and then a little longer, so
  // that outcomes which would (wrongly) be delivered have had their chance.
  void settle(size_t requests) {
    EXPECT_TRUE(waitFor([&] { return server.receivedCount() >= requests; }));
    RunLoop::main().runFor(std::chrono::milliseconds(500));
  }
  void setReachable(bool reachable);

  Trace trace;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>(trace);
  TestServer server{true};
};

// A client that may position: the when-in-use declaration, the simulated provider authorized,
// the service unreachable so that runs answer on the device.
class PositioningTest : public ClientTest {
 public:
  PositioningTest();
  ~PositioningTest() override;

  std::shared_ptr<SimulatedLocationProvider> provider = LocationService::useSimulated();
  std::unique_ptr<OrvClientLocation> client = makeClient();
};

}  // namespace orv::test
