// The client's geofence monitoring on the manual clock with the simulated location provider.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "client_fixture.h"
#include "manual_clock.h"

namespace orv::test {
namespace {

using ::testing::ElementsAre;

// Fixes 1.1 km apart along a meridian; fence "a" holds fix 1 only, "b" fixes 1 and 2.
Location fix(int n) {
  Location l;
  l.coordinate = {39.9 + 0.01 * n, 116.4};
  l.horizontalAccuracy = 5.0;
  return l;
}

Geofence circle(const char* id, Coordinate center, double radius) {
  Geofence fence;
  fence.id = id;
  fence.shape = GeofenceCircle{center, radius};
  return fence;
}

std::shared_ptr<GeofenceMonitor> monitorWithFences() {
  auto monitor = std::make_shared<GeofenceMonitor>();
  EXPECT_TRUE(monitor->add(circle("a", fix(1).coordinate, 300.0)).ok());
  EXPECT_TRUE(monitor->add(circle("b", {39.915, 116.4}, 1200.0)).ok());
  return monitor;
}

class GeofencingTest : public PositioningTest {
 protected:
  ~GeofencingTest() override {
    client.reset();
    clock.advance(std::chrono::seconds(10));
  }
  void push(std::vector<Location> fixes) {
    provider->pushLocations(std::move(fixes));
    clock.advance(std::chrono::milliseconds(0));
  }
  std::vector<std::string> fenceEvents() const {
    std::vector<std::string> out;
    for (const auto& e : delegate->fences) {
      out.push_back(std::string(geofenceEventName(e.kind)) + ":" + e.fenceId);
    }
    return out;
  }

  detail::ManualClock clock{RunLoop::main()};
  std::shared_ptr<GeofenceMonitor> monitor = monitorWithFences();
};

// Every delivered fix is fed, each of a batch and those a continuous run does not sample, with
// no run at all and beside one; a fix at (0, 0) is skipped; stopping a run leaves monitoring on,
// stopping monitoring ends its stream.
TEST_F(GeofencingTest, EveryDeliveredFixIsFedWithOrWithoutARun) {
  client->startGeofenceMonitoring(monitor);
  EXPECT_TRUE(client->isGeofenceMonitoring());
  push({fix(0), Location{}, fix(1)});  // one delivery of three
  EXPECT_THAT(fenceEvents(), ElementsAre("enter:a", "enter:b"));
  client->setIsLocateOnce(false);
  client->startLocation();
  push({fix(1)});
  push({fix(2)});  // the run's timer samples this one later; monitoring sees it now
  EXPECT_THAT(fenceEvents(), ElementsAre("enter:a", "enter:b", "exit:a"));
  client->stopLocation();
  EXPECT_TRUE(provider->isUpdating());
  push({fix(3)});
  EXPECT_THAT(fenceEvents(), ElementsAre("enter:a", "enter:b", "exit:a", "exit:b"));
  EXPECT_EQ(delegate->fences.back().fix.coordinate.latitude, fix(3).coordinate.latitude);
  client->stopGeofenceMonitoring();
  EXPECT_FALSE(client->isGeofenceMonitoring());
  EXPECT_FALSE(provider->isUpdating());
  push({fix(1)});
  EXPECT_EQ(delegate->fences.size(), 4u);
}

// No distance filter: a vehicle standing still keeps feeding fixes, so its dwell comes.
TEST_F(GeofencingTest, StandingStillReachesTheDwell) {
  Geofence depot = circle("depot", fix(1).coordinate, 300.0);
  depot.dwell = std::chrono::seconds(10);
  ASSERT_TRUE(monitor->add(depot).ok());
  client->startGeofenceMonitoring(monitor);
  Location still = fix(1);
  push({still});
  still.timestamp += std::chrono::seconds(10);
  push({still});
  EXPECT_THAT(fenceEvents(), ElementsAre("enter:a", "enter:b", "enter:depot", "dwell:depot"));
}

// The gate turns monitoring down exactly as it turns a run down: same texts, codes, domains.
TEST_F(GeofencingTest, RefusedLikeStartLocation) {
  struct Case {
    const char* name;
    bool agree;
    bool key;
    AuthorizationStatus status;
  };
  for (const Case& c : {Case{"no consent", false, true, AuthorizationStatus::authorizedWhenInUse},
                        Case{"no key", true, false, AuthorizationStatus::authorizedWhenInUse},
                        Case{"denied", true, true, AuthorizationStatus::denied},
                        Case{"restricted", true, true, AuthorizationStatus::restricted}}) {
    client->setAgreePrivacy(c.agree);
    client->setAccesskey(c.key ? std::optional<std::string>("k") : std::nullopt);
    provider->setAuthorizationStatus(c.status);
    delegate->typed.clear();
    client->startLocation();
    client->startGeofenceMonitoring(monitor);
    ASSERT_EQ(delegate->typed.size(), 2u) << c.name;
    EXPECT_EQ(delegate->typed[1].code, delegate->typed[0].code) << c.name;
    EXPECT_EQ(delegate->typed[1].domain, delegate->typed[0].domain) << c.name;
    EXPECT_EQ(delegate->typed[1].message, delegate->typed[0].message) << c.name;
    EXPECT_FALSE(client->isGeofenceMonitoring()) << c.name;
    EXPECT_FALSE(provider->isUpdating()) << c.name;
  }
}

// A provider failure ends monitoring, reported once; a later start resumes into the same
// monitor, whose state carried over (no second enter).
TEST_F(GeofencingTest, FailureEndsMonitoringOnce) {
  client->startGeofenceMonitoring(monitor);
  push({fix(1)});
  provider->pushError("gone");
  clock.advance(std::chrono::milliseconds(0));
  provider->pushError("gone again");
  clock.advance(std::chrono::milliseconds(0));
  EXPECT_THAT(delegate->errors, ElementsAre("定位失败：gone"));
  EXPECT_EQ(delegate->typed.at(0).code, ErrorCode::providerFailure);
  EXPECT_FALSE(client->isGeofenceMonitoring());
  EXPECT_FALSE(provider->isUpdating());
  client->startGeofenceMonitoring(monitor);
  push({fix(1), fix(3)});
  EXPECT_THAT(fenceEvents(), ElementsAre("enter:a", "enter:b", "exit:a", "exit:b"));
}

// The host may stop, replace the monitor or let go of the client inside onGeofenceEvent: nothing
// more reaches it from the old monitoring.
TEST_F(GeofencingTest, HostMayStopOrDestroyInsideTheCallback) {
  delegate->afterFence = [&] { client->stopGeofenceMonitoring(); };
  client->startGeofenceMonitoring(monitor);
  push({fix(1), fix(3)});
  EXPECT_THAT(fenceEvents(), ElementsAre("enter:a"));

  delegate->fences.clear();
  auto other = monitorWithFences();
  delegate->afterFence = [&] { client->startGeofenceMonitoring(other); };
  client->startGeofenceMonitoring(monitorWithFences());
  push({fix(1)});
  EXPECT_THAT(fenceEvents(), ElementsAre("enter:a"));  // "b" would have come from the old one
  push({fix(2)});
  EXPECT_THAT(fenceEvents(), ElementsAre("enter:a", "enter:b"));  // the replacement's

  delegate->fences.clear();
  delegate->afterFence = [&] { client.reset(); };
  push({fix(1), fix(3)});
  EXPECT_EQ(delegate->fences.size(), 1u);
  EXPECT_FALSE(provider->isUpdating());
}

}  // namespace
}  // namespace orv::test
