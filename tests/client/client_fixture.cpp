#include "client_fixture.h"

#include "orv/bundle.h"

namespace orv::test {

ClientTest::ClientTest() {
  OrvClientLocation::setServiceConfiguration({server.baseUrl(), server.caFile(), ""});
  OrvClientLocation::setIsLogEnabled(true);
  OrvClientLocation::setLogSink([this](std::string_view line) { trace.events.emplace_back(line); });
}

ClientTest::~ClientTest() {
  OrvClientLocation::setLogSink({});
  OrvClientLocation::setIsLogEnabled(false);
  OrvClientLocation::setServiceConfiguration({});
  // Outcomes still queued belong to this test; run them out before the trace goes away.
  RunLoop::main().processPending();
}

std::unique_ptr<OrvClientLocation> ClientTest::makeClient() {
  auto client = std::make_unique<OrvClientLocation>(delegate);
  client->setAgreePrivacy(true);
  client->initKey("test-key");
  return client;
}

void ClientTest::answer(const std::string& path, int status, const std::string& body) {
  server.handle(path, [=](const httplib::Request&, httplib::Response& res) {
    res.status = status;
    res.set_content(body, "application/json");
  });
}

// Reachability follows the configured service: the server on loopback routes, a broadcast
// address never leads to a service.
void ClientTest::setReachable(bool reachable) {
  OrvClientLocation::setServiceConfiguration(
      {reachable ? server.baseUrl() : "https://255.255.255.255", server.caFile(), ""});
}

PositioningTest::PositioningTest() {
  provider->setAuthorizationStatus(AuthorizationStatus::authorizedWhenInUse);
  Bundle::mainBundle().setObject("NSLocationWhenInUseUsageDescription", std::string("test"));
  setReachable(false);
}

PositioningTest::~PositioningTest() {
  client.reset();
  Bundle::mainBundle().clear();
  LocationService::useNone();
}

}  // namespace orv::test
